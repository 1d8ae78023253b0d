#!/usr/bin/env bash
# CPU time of one automatic web refresh, black box: the program itself with "/A" in a shown window
# under Xvfb, against the demo quote server, for an index of 40 and one of 5,000 components. The CPU
# time is the process's own (utime + stime from /proc/<pid>/stat) over a stretch of refreshes, divided
# by the quote pages the server answered in that stretch; idle time between refreshes counts too.
# Goals: at most 8 ms (40 components) and 50 ms (5,000).
#
# Usage: bench/refresh_cpu.sh [BUILD_DIR [OTHER_BUILD_DIR]] [SECONDS]
# With a second build folder both programs are measured in turns in the same run, side by side.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
builds=()
seconds=60
for argument in "$@"; do
    if [[ $argument =~ ^[0-9]+$ ]]; then seconds=$argument; else builds+=("$(realpath "$argument")"); fi
done
[ ${#builds[@]} -gt 0 ] || builds=("$(realpath build)")
if [ -z "${ZALVENTO_IN_XVFB:-}" ]; then
    exec env ZALVENTO_IN_XVFB=1 xvfb-run -a -s "-screen 0 1024x768x24" "$0" "${builds[@]}" "$seconds"
fi
python3 - "$here/.." "$seconds" "${builds[@]}" <<'PY'
import os, shutil, socket, subprocess, sys, tempfile, time

source, seconds, builds = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
ticks = os.sysconf("SC_CLK_TCK")

def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / ticks

def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]

def write_index(folder, count):
    lines = ["104571", "0"]
    for i in range(1, count + 1):
        lines += [f"Komponente {i}", f"Z{i:05d}", f"{10 + i % 500},25", str(1000 + i), "", "0", "0"]
    with open(os.path.join(folder, "Dax.txt"), "wb") as file:
        file.write(("\r\n".join(lines) + "\r\n").encode("cp1252"))
    shutil.copy(os.path.join(source, "data", "Info.txt"), folder)

def pages_answered(log):
    with open(log, errors="replace") as file:
        return sum(1 for line in file if "-> 200" in line)

def measure(build, count, work):
    folder = tempfile.mkdtemp(dir=work)
    os.makedirs(os.path.join(folder, "bin"))
    shutil.copy(os.path.join(build, "bin", "zalvento"), os.path.join(folder, "bin"))
    write_index(folder, count)
    log = os.path.join(folder, "server.log")
    with open(log, "w") as server_log:
        server = subprocess.Popen([sys.executable, os.path.join(source, "tools/demoquoteserver/demoquoteserver.py"),
                                   "--port", "0", "--data", folder, "--tick", "0", "--stale-every", "0"],
                                  stdout=subprocess.PIPE, stderr=server_log, text=True)
    port = int(server.stdout.readline())
    config = os.path.join(folder, "config", "Quenkel")
    os.makedirs(config)
    with open(os.path.join(config, "Norvata.reg"), "wb") as settings:
        settings.write(("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\SOFTWARE\\Quenkel\\Norvata]\r\n"
                        f"\"Kursserver\"=\"127.0.0.1:{port}\"\r\n\"IndexQuelle\"=dword:00000001\r\n"
                        f"\"Webport\"=dword:{free_port():08x}\r\n\r\n").encode())
    env = dict(os.environ, LC_ALL="de_DE.UTF-8", XDG_CONFIG_HOME=os.path.join(folder, "config"))
    program = subprocess.Popen([os.path.join(folder, "bin", "zalvento"), "/A"], env=env,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        # The first refreshes carry the start-up; the stretch begins after the second page.
        deadline = time.monotonic() + 120
        while pages_answered(log) < 2 and time.monotonic() < deadline:
            time.sleep(0.05)
        start_pages, start_cpu = pages_answered(log), cpu_seconds(program.pid)
        time.sleep(seconds)
        pages, cpu = pages_answered(log) - start_pages, cpu_seconds(program.pid) - start_cpu
    finally:
        program.kill()
        program.wait()
        server.terminate()
        server.wait()
    return cpu * 1000 / max(pages, 1), pages

work = tempfile.mkdtemp()
try:
    results = {}
    # In turns, so that the load of the machine falls on every build alike.
    for count in (40, 5000):
        for build in builds:
            results[(build, count)] = measure(build, count, work)
    for build in builds:
        for count in (40, 5000):
            ms, pages = results[(build, count)]
            print(f"{build}: {count} components: {ms:.1f} ms CPU per refresh ({pages} refreshes in {seconds} s)")
finally:
    shutil.rmtree(work, ignore_errors=True)
PY
