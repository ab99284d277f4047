#!/usr/bin/env bash
# Installs what is missing, then configures and builds the project into build/ (or $BUILD_DIR);
# TARGETS may name the targets to build (all by default).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
build_dir=${BUILD_DIR:-build}
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
targets=()
for target in ${TARGETS:-}; do targets+=(--target "$target"); done
cmake --build "$build_dir" -j"${JOBS:-2}" "${targets[@]}"
