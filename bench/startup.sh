#!/usr/bin/env bash
# Start-up time: from process start to the first value shown, beside a bare Qt Widgets window, in turns,
# in the same run. Runs under xvfb-run when there is no display. Usage: bench/startup.sh [BUILD_DIR] [RUNS]
set -euo pipefail
build=$(realpath "${1:-build}")
runs=${2:-20}
if [ -z "${DISPLAY:-}" ] && [ -z "${ZALVENTO_IN_XVFB:-}" ]; then
    exec env ZALVENTO_IN_XVFB=1 xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$build" "$runs"
fi
config=$(mktemp -d)
trap 'rm -rf "$config"' EXIT
export XDG_CONFIG_HOME=$config ZALVENTO_PROGRAM_PATH="$build/bin/zalvento"
probe=$build/bench/startup_probe
python3 - "$probe" "$runs" <<'PY'
import os, statistics, subprocess, sys, time
probe, runs = sys.argv[1], int(sys.argv[2])
times = {"zalvento": [], "bare": []}
for _ in range(runs):
    for name, args in (("zalvento", []), ("bare", ["--bare"])):
        env = dict(os.environ, LC_NUMERIC="de_DE.UTF-8", ZALVENTO_LAUNCHED_NS=str(time.clock_gettime_ns(time.CLOCK_MONOTONIC)))
        out = subprocess.run([probe, *args], env=env, capture_output=True, text=True, timeout=60).stdout
        times[name].append(float(out.split()[0]))
z, b = statistics.median(times["zalvento"]), statistics.median(times["bare"])
print(f"first value shown: median {z:.1f} ms; bare Qt window: median {b:.1f} ms; ratio {z / b:.2f} ({runs} runs each)")
PY
