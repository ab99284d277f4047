#!/usr/bin/env bash
# A fuzzing campaign: every fuzz target that is built runs until it has had SECONDS of CPU time
# (default 300) on its seeds (fuzz/seeds/<name>) and its kept corpus (fuzz/corpus/<name>); when
# the machine is busy a target is started again for the CPU time it still lacks. What it finds
# that reaches new code is merged back into the corpus with libFuzzer's -merge=1, which keeps
# only the inputs that add coverage beyond the seeds. Inputs larger than CORPUS_MAX_BYTES
# (default 32768) are not kept, so the corpus stays small enough for the tree.
#
#   fuzz/campaign.sh [SECONDS]
#
# Environment: BUILD_DIR (default build-fuzz; built first unless SKIP_BUILD=1), TARGETS
# (names such as "jpeg bmp" to run only those), JOBS (targets fuzzed at once, default 1),
# CORPUS_MAX_BYTES. Crashes, leaks, timeouts and budget overruns are kept in
# $BUILD_DIR/findings/<name>/ and make the script exit 1. A summary (CPU seconds, runs,
# coverage, features, corpus files, findings per target) is printed at the end and written
# to $BUILD_DIR/campaign-summary.txt.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-300}
build_dir=${BUILD_DIR:-build-fuzz}
max_bytes=${CORPUS_MAX_BYTES:-32768}
jobs=${JOBS:-1}

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

# One summary row per target; another campaign may be running on other targets at once.
rows="$build_dir/campaign-rows"
mkdir -p "$rows"
for target in "${targets[@]}"; do
  name=$(basename "$target"); rm -f "$rows/${name#fuzz_}" "$rows/${name#fuzz_}.failed"
done

# CPU seconds (user + system) that one run of the fuzzer took, appended to $cpu_log.
fuzz_for() {
  local target=$1 wall=$2 work=$3 corpus=$4 seeds=$5 findings=$6 log=$7 cpu_log=$8
  local TIMEFORMAT='%U %S'
  { time "$target" -max_total_time="$wall" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
      -artifact_prefix="$findings/" "$work" "$corpus" "$seeds" >>"$log" 2>&1 ; } 2>>"$cpu_log"
}

cpu_used() { awk '{ s += $1 + $2 } END { printf "%d", s }' "$1"; }

run_target() {
  local target=$1 name corpus seeds findings work log cpu_log before status used
  name=$(basename "$target"); name=${name#fuzz_}
  corpus="fuzz/corpus/$name"
  seeds="fuzz/seeds/$name"
  findings="$build_dir/findings/$name"
  mkdir -p "$corpus" "$findings"
  [ -d "$seeds" ] || seeds=$(mktemp -d)
  work=$(mktemp -d)
  log="$build_dir/campaign-$name.log"; : >"$log"
  cpu_log="$build_dir/campaign-$name.cpu"; : >"$cpu_log"
  before=$(find "$corpus" -type f | wc -l)

  echo "== fuzz_$name for ${seconds} CPU seconds ($before files in its corpus)"
  status=0 used=0
  while [ "$used" -lt "$seconds" ]; do
    fuzz_for "$target" $((seconds - used)) "$work" "$corpus" "$seeds" "$findings" "$log" \
      "$cpu_log" || { status=$?; break; }
    local was=$used
    used=$(cpu_used "$cpu_log")
    [ "$used" -gt "$was" ] || break
  done
  used=$(cpu_used "$cpu_log")
  if [ "$status" -ne 0 ]; then
    echo "fuzz_$name found a problem (see $log):"
    grep -m1 -A3 'ERROR\|==fuzz_support\|deadly' "$log" || true
    touch "$rows/$name.failed"
  fi

  # Keep what is new and small: the seeds are the baseline, so the merged corpus holds only
  # inputs that reach code the seeds do not. The merge re-minimizes the old corpus too.
  find "$work" -type f -size +"$max_bytes"c -delete
  local merged seed_names
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
    touch "$rows/$name.failed"
  fi
  rm -rf "$work" "$merged"

  local after runs last cov ft found
  after=$(find "$corpus" -type f | wc -l)
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' |
         awk '{ s += $1 } END { print s }')
  last=$(grep -E '^#[0-9]+' "$log" | grep -v 'MERGE' | tail -1 || true)
  cov=$(echo "$last" | grep -o 'cov: [0-9]*' | grep -o '[0-9]*' || true)
  ft=$(echo "$last" | grep -o 'ft: [0-9]*' | grep -o '[0-9]*' || true)
  found=$(find "$findings" -type f | wc -l)
  printf '%-10s %8s %10s %6s %6s %8s %8s %s\n' "$name" "$used" "${runs:-?}" "${cov:-?}" \
    "${ft:-?}" "$before" "$after" "$found" >"$rows/$name"
}

# Lane L of JOBS takes targets L, L+JOBS, L+2*JOBS, ...
run_lane() {
  local lane=$1 i
  for ((i = lane; i < ${#targets[@]}; i += jobs)); do run_target "${targets[$i]}"; done
}

for ((lane = 0; lane < jobs; lane++)); do run_lane "$lane" & done
wait

summary="$build_dir/campaign-summary.txt"
printf '%-10s %8s %10s %6s %6s %8s %8s %s\n' target cpu-s runs cov ft before after findings \
  >"$summary"
failed=0
for target in "${targets[@]}"; do
  name=$(basename "$target"); name=${name#fuzz_}
  cat "$rows/$name" >>"$summary" 2>/dev/null || echo "$name: no result" >>"$summary"
  [ ! -e "$rows/$name.failed" ] || failed=1
done
echo "== Summary (also in $summary)"
cat "$summary"
exit "$failed"
