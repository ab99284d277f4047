#!/usr/bin/env bash
# A fuzzing campaign: every fuzz target that is built runs in turn for SECONDS (default 300)
# on its seeds (fuzz/seeds/<name>) and its kept corpus (fuzz/corpus/<name>); what it finds
# that reaches new code is merged back into the corpus with libFuzzer's -merge=1, which
# keeps only the inputs that add coverage beyond the seeds. Inputs larger than
# CORPUS_MAX_BYTES (default 32768) are not kept, so the corpus stays small enough for the
# tree. One fuzzer runs at a time.
#
#   fuzz/campaign.sh [SECONDS]
#
# Environment: BUILD_DIR (default build-fuzz; built first unless SKIP_BUILD=1), TARGETS
# (names such as "jpeg bmp" to run only those), CORPUS_MAX_BYTES. Crashes, leaks, timeouts
# and budget overruns are kept in $BUILD_DIR/findings/<name>/ and make the script exit 1.
# A summary (runs, coverage, features, corpus files, findings per target) is printed at the
# end and written to $BUILD_DIR/campaign-summary.txt.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-300}
build_dir=${BUILD_DIR:-build-fuzz}
max_bytes=${CORPUS_MAX_BYTES:-32768}

if [ "${SKIP_BUILD:-0}" != 1 ]; then
  BUILD_DIR=$build_dir TARGETS=fuzzers bash scripts/build.sh -DIMPORTDLG_TESTS=OFF \
    -DIMPORTDLG_FUZZ=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
fi

targets=()
for target in "$build_dir"/fuzz/fuzz_*; do
  [ -x "$target" ] && [ -f "$target" ] || continue
  name=$(basename "$target"); name=${name#fuzz_}
  if [ -n "${TARGETS:-}" ] && [[ " $TARGETS " != *" $name "* ]]; then continue; fi
  targets+=("$target")
done
[ "${#targets[@]}" -gt 0 ] || { echo "no fuzz target found in $build_dir/fuzz" >&2; exit 1; }

summary="$build_dir/campaign-summary.txt"
printf '%-10s %8s %10s %6s %6s %8s %8s %s\n' target seconds runs cov ft before after findings \
  >"$summary"
failed=0
for target in "${targets[@]}"; do
  name=$(basename "$target"); name=${name#fuzz_}
  corpus="fuzz/corpus/$name"
  seeds="fuzz/seeds/$name"
  findings="$build_dir/findings/$name"
  mkdir -p "$corpus" "$findings"
  [ -d "$seeds" ] || seeds=$(mktemp -d)
  work=$(mktemp -d)
  log="$build_dir/campaign-$name.log"
  before=$(find "$corpus" -type f | wc -l)

  echo "== fuzz_$name for ${seconds}s ($before files in its corpus)"
  status=0
  "$target" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$findings/" "$work" "$corpus" "$seeds" >"$log" 2>&1 || status=$?
  if [ "$status" -ne 0 ]; then
    echo "fuzz_$name found a problem (see $log):"; grep -m1 -A3 'ERROR\|==fuzz_support\|deadly' "$log" || true
    failed=1
  fi

  # Keep what is new and small: the seeds are the baseline, so the merged corpus holds only
  # inputs that reach code the seeds do not. The merge re-minimizes the old corpus too.
  find "$work" -type f -size +"$max_bytes"c -delete
  merged=$(mktemp -d)
  cp -r "$seeds/." "$merged/"
  seed_names=$(cd "$seeds" && find . -type f)
  if "$target" -merge=1 -rss_limit_mb=2048 -timeout=10 "$merged" "$corpus" "$work" \
       >>"$log" 2>&1; then
    (cd "$merged" && echo "$seed_names" | xargs -r rm -f)
    find "$merged" -type f -size +"$max_bytes"c -delete
    rm -rf "$corpus"; mkdir -p "$corpus"
    cp -r "$merged/." "$corpus/"
  else
    echo "fuzz_$name: the merge failed (see $log); the corpus is left as it was"
    failed=1
  fi
  rm -rf "$work" "$merged"
  after=$(find "$corpus" -type f | wc -l)

  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)
  last=$(grep -E '^#[0-9]+' "$log" | grep -v 'MERGE' | tail -1 || true)
  cov=$(echo "$last" | grep -o 'cov: [0-9]*' | grep -o '[0-9]*' || true)
  ft=$(echo "$last" | grep -o 'ft: [0-9]*' | grep -o '[0-9]*' || true)
  found=$(find "$findings" -type f | wc -l)
  printf '%-10s %8s %10s %6s %6s %8s %8s %s\n' "$name" "$seconds" "${runs:-?}" "${cov:-?}" \
    "${ft:-?}" "$before" "$after" "$found" >>"$summary"
done

echo "== Summary (also in $summary)"
cat "$summary"
exit "$failed"
