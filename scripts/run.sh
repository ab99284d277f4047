#!/usr/bin/env bash
# Installs what is missing, builds, and starts the import dialog. Arguments are passed on
# to the dialog (for example: DEBUG, a type digit 0-3, S).
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
TARGETS="importdlg picconv" bash scripts/build.sh
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  cat >&2 <<MSG
There is no display to show the dialog on (neither DISPLAY nor WAYLAND_DISPLAY is set).
Run it on a virtual X server instead:
    xvfb-run -a -s '-screen 0 1024x768x24' $build_dir/importdlg
or, to watch it, from a desktop session: $build_dir/importdlg
MSG
  exit 1
fi
exec "$build_dir/importdlg" "$@"
