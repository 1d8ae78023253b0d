#!/usr/bin/env bash
# Fuzzing run: builds the fuzz targets of tests/fuzz with libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer (clang, option ZALVENTO_FUZZ) in a build folder of its own, and runs each
# target for SECONDS in turn on its checked-in corpus.
#
#   tools/fuzz.sh [SECONDS] [TARGET...]    (600 s each by default; every target by default:
#                                           indexfile numbertext settings quotepage feeds paradox httpclient)
#
# New corpus entries are kept in <build>/corpus/<target> for the next run, inputs that found a fault
# in <build>/findings/<target> (a fault does not end the run: the target starts again for the rest of
# its time). ZALVENTO_FUZZ_BUILD_DIR chooses the build folder (<project>/build-fuzz). Ends with one line
# per target: executions, coverage (libFuzzer's covered edges) and findings. Only 127.0.0.1 is used.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${ZALVENTO_FUZZ_BUILD_DIR:-$root/build-fuzz}"
seconds="${1:-600}"
[ $# -gt 0 ] && shift
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for source in "$root"/tests/fuzz/fuzz_*.cpp; do
    name="$(basename "$source" .cpp)"
    targets+=("${name#fuzz_}")
  done
fi

# clang and its sanitizer and fuzzer run-time, installed like the other scripts install what they need.
bash "$root/tools/install-packages.sh" clang libclang-rt-14-dev

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZALVENTO_FUZZ=ON "${launcher[@]}" >/dev/null
cmake --build "$build" -j2 --target "${targets[@]/#/fuzz_}"

export QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8
export UBSAN_OPTIONS="print_stacktrace=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
summary=()
for target in "${targets[@]}"; do
  binary="$build/bin/fuzz_$target"
  seeds="$root/tests/fuzz/corpus/$target"
  corpus="$build/corpus/$target"
  references="$build/references/$target"
  findings="$build/findings/$target"
  logs="$build/logs/$target"
  mkdir -p "$corpus" "$findings" "$logs" "$seeds"
  rm -rf "$references"
  # The corpus' references to files too large to copy (the Paradox samples) become inputs here.
  ZALVENTO_FUZZ_EXPAND="$references" "$binary" "$seeds" >/dev/null 2>&1 || true
  mkdir -p "$references"

  before=$(find "$findings" -type f | wc -l)
  executions=0
  coverage=0
  runs=0
  start=$(date +%s)
  while :; do
    left=$(( seconds - ($(date +%s) - start) ))
    [ "$left" -gt 0 ] || break
    runs=$((runs + 1))
    log="$logs/run-$runs.log"
    found_before_run=$(find "$findings" -type f | wc -l)
    "$binary" -max_total_time="$left" -timeout=25 -print_final_stats=1 -artifact_prefix="$findings/" \
      "$corpus" "$references" "$seeds" >"$log" 2>&1 && status=0 || status=$?
    done_units=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1 || true)
    executions=$((executions + ${done_units:-0}))
    covered=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2 || true)
    [ "${covered:-0}" -gt "$coverage" ] && coverage=$covered
    # An input of the corpus itself fails (a fault found before and not mended yet): the run cannot start.
    if [ "$status" -ne 0 ] && ! grep -q 'INITED' "$log"; then
      echo "fuzz.sh: $target: an input of the corpus fails, see $log" >&2
      grep -m1 -E 'SUMMARY|property broken' "$log" >&2 || true
      break
    fi
    # Ended without leaving a finding (a start-up failure, a signal): do not start again.
    if [ "$status" -ne 0 ] && [ "$(find "$findings" -type f | wc -l)" -eq "$found_before_run" ]; then
      echo "fuzz.sh: $target stopped with status $status, see $log" >&2
      tail -20 "$log" >&2
      break
    fi
    [ "$status" -eq 0 ] && break
  done
  found=$(( $(find "$findings" -type f | wc -l) - before ))
  summary+=("$(printf '%-12s %12d executions  coverage %6d  findings %d' "$target" "$executions" "$coverage" "$found")")
  echo "fuzz.sh: ${summary[-1]}"
done

echo "fuzz.sh: $seconds s per target"
printf '%s\n' "${summary[@]}"
