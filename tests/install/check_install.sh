#!/usr/bin/env bash
# Installs the build the way users get it and runs the installed programs:
#   check_install.sh prefix BUILD SOURCE VERSION   cmake --install into a fresh prefix, which
#                                                  is then moved, so that the programs must
#                                                  find their helpers relative to themselves
#   check_install.sh deb BUILD SOURCE VERSION      the Debian package: its contents, its
#                                                  dependencies, and its programs unpacked
set -euo pipefail
kind=$1 build=$2 source=$3 version=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

expect_files() {  # ROOT PATH...
  local root=$1; shift
  for path in "$@"; do [ -f "$root/$path" ] || fail "$path is not installed"; done
}

# The installed programs under PREFIX convert a picture, hand metafiles to their helper,
# translate a hand-off text and report the build's version.
check_programs() {
  local prefix=$1 bin=$1/bin
  local pictures=$work/pictures
  mkdir -p "$pictures/Scans"
  printf 'P6\n2 1\n255\n\377\0\0\0\0\377' >"$pictures/Scans/red-blue.ppm"
  "$bin/picconv" "$pictures/Scans/red-blue.ppm" "$pictures/out.bmp" || fail "picconv could not convert a picture"
  [ "$(wc -c <"$pictures/out.bmp")" -eq 62 ] || fail "picconv wrote $(wc -c <"$pictures/out.bmp") bytes, not a 2x1 24-bit bitmap"
  [ "$("$bin/picconv" --info "$pictures/out.bmp")" = "2 1 24" ] || fail "picconv --info does not read its own bitmap"
  "$bin/picconv" "$source/fuzz/seeds/metafile/shapes.wmf" "$pictures/shapes.png" ||
    fail "picconv did not find picconv-metafiles"
  [ -s "$pictures/shapes.png" ] || fail "no picture of the metafile"
  local host
  host=$(IMPORTDLG_DRIVES="D=$pictures" "$bin/importdlg" --native-path 'D:\SCANS\RED-BLUE.PPM') ||
    fail "importdlg --native-path failed"
  [ "$host" = "$pictures/Scans/red-blue.ppm" ] || fail "importdlg --native-path gave $host"
  for program in "$bin/picconv" "$bin/importdlg" "$prefix/libexec/importdlg/importdlg-clipboard"; do
    local name; name=$(basename "$program")
    case $("$program" --version) in
      "$name $version"*) ;;
      *) fail "$name --version printed: $("$program" --version)" ;;
    esac
  done
  "$bin/importdlg" --help | grep -q '^Usage: importdlg' || fail "importdlg --help"
  for page in picconv importdlg; do
    zcat "$prefix/share/man/man1/$page.1.gz" | grep -q "^\.TH ${page^^} 1 .*$version" ||
      fail "the manual page $page(1) is not a roff page of this version"
  done
}

installed=(bin/picconv bin/importdlg libexec/importdlg/picconv-metafiles
           libexec/importdlg/importdlg-clipboard share/man/man1/picconv.1.gz
           share/man/man1/importdlg.1.gz share/doc/importdlg/README.md)

case $kind in
  prefix)
    cmake --install "$build" --prefix "$work/first" >/dev/null
    mv "$work/first" "$work/moved"
    expect_files "$work/moved" "${installed[@]}"
    check_programs "$work/moved"
    ;;
  deb)
    cpack --config "$build/CPackConfig.cmake" -B "$work/package" >"$work/cpack.log" 2>&1 ||
      { cat "$work/cpack.log"; fail "cpack could not make the package"; }
    deb=$(echo "$work"/package/importdlg_*.deb)
    [ -f "$deb" ] || fail "no importdlg_*.deb was made"
    # The libraries the programs link, as dpkg-shlibdeps computes them.
    depends=$(dpkg-deb -f "$deb" Depends)
    for package in libc6 libstdc++6 libjpeg62-turbo libqt6widgets6 libxcb1 libwayland-client0; do
      [[ ", $depends," == *", $package "* || ", $depends," == *", $package,"* ]] ||
        fail "Depends lacks $package: $depends"
    done
    # Every library the sources load with dlopen, named by the package that ships it. A
    # reader may list the names of other releases too: only those installed here (at least
    # one of each library, which its -dev package brings) have a package to look for.
    relations="$depends, $(dpkg-deb -f "$deb" Recommends)"
    for soname in $(grep -rhoE '"lib[A-Za-z0-9_+-]+\.so(\.[0-9]+)*"' "$source/src" | tr -d '"' | sort -u); do
      owner=$(dpkg -S "*/$soname" 2>/dev/null | head -n1 | cut -d: -f1 || true)
      [ -n "$owner" ] || continue
      [[ ", $relations," == *", $owner "* || ", $relations," == *", $owner,"* ]] ||
        fail "$soname is loaded with dlopen, but its package $owner is not named in the package"
    done
    dpkg-deb -x "$deb" "$work/root"
    expect_files "$work/root/usr" "${installed[@]}"
    extra=$(dpkg-deb -c "$deb" | awk '{print $6}' | grep -v '/$' |
            grep -vxF -f <(printf './usr/%s\n' "${installed[@]}") || true)
    [ -z "$extra" ] || fail "the package holds files it should not: $extra"
    check_programs "$work/root/usr"
    ;;
  *) fail "unknown kind $kind" ;;
esac
echo "$kind: installed programs work"
