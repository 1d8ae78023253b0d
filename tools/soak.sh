#!/usr/bin/env bash
# Soak run of the automatic mode under AddressSanitizer (with LeakSanitizer): builds the soak test in a
# build folder of its own and runs it against the demo quote server with random failures.
#
#   tools/soak.sh [REFRESHES]        (10,000 by default; ZALVENTO_ASAN_BUILD_DIR chooses the build folder)
#
# Prints every 1,000 refreshes the successes and failures, the resident memory and the history points,
# then the totals; AddressSanitizer stops the run at the first memory error, and LeakSanitizer reports
# leaks when the program ends. Only 127.0.0.1 is used. Needs the packages of tools/install-deps.sh.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${ZALVENTO_ASAN_BUILD_DIR:-$root/build-asan}"
refreshes="${1:-10000}"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS="-fsanitize=address -fno-omit-frame-pointer" \
  -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address >/dev/null
cmake --build "$build" -j2 --target soak_automatic

config="$(mktemp -d)"
trap 'rm -rf "$config"' EXIT

export QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$config"
export ASAN_OPTIONS="detect_leaks=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
if [ -s "$root/tools/lsan.supp" ]; then
  export LSAN_OPTIONS="suppressions=$root/tools/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
fi

start=$(date +%s)
status=0
"$build/bin/soak_automatic" "$refreshes" || status=$?
echo "soak.sh: $refreshes refreshes, $(( $(date +%s) - start )) s, exit status $status"
exit "$status"
