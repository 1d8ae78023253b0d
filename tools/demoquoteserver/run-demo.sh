#!/usr/bin/env bash
# Shows NV Zalvento at work on the demo quote server: a DEMO FEED of made-up prices, not market data.
#
# Starts the server on a free port of 127.0.0.1, gives the program a settings folder of its own in which
# "Kursserver" points at the server and the source choice is "Internet", and starts the program in the
# automatic mode ("/A"), so the index moves every few seconds. The user's own settings stay untouched.
# Closing the window stops the server. Arguments are passed to the server (e.g. --fail-rate 0.1).
#
# Builds the program first when build/bin/zalvento is missing (ZALVENTO_BUILD_DIR chooses another
# build folder).
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
build="${ZALVENTO_BUILD_DIR:-$root/build}"
program="$build/bin/zalvento"

if [ ! -x "$program" ]; then
  echo "run-demo: building the program in $build first" >&2
  cmake -S "$root" -B "$build" -G Ninja
  cmake --build "$build" -j2 --target zalvento bundled_data
fi

# The program reads its definition files beside bin/; serve exactly those WKNs.
data="$build"
[ -e "$data/Dax.txt" ] || data="$root/data"

work="$(mktemp -d)"
server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

python3 "$here/demoquoteserver.py" --port 0 --data "$data" --quiet "$@" >"$work/port" &
server_pid=$!
for _ in $(seq 1 100); do
  [ -s "$work/port" ] && break
  kill -0 "$server_pid" 2>/dev/null || { echo "run-demo: the demo quote server did not start" >&2; exit 1; }
  sleep 0.1
done
port="$(head -n 1 "$work/port")"
[ -n "$port" ] || { echo "run-demo: the demo quote server did not report its port" >&2; exit 1; }

mkdir -p "$work/config/Quenkel"
printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\SOFTWARE\\Quenkel\\Norvata]\r\n"Kursserver"="127.0.0.1:%s"\r\n"IndexQuelle"=dword:00000001\r\n\r\n' \
  "$port" >"$work/config/Quenkel/Norvata.reg"

echo "Demo feed (made-up prices, not market data) on http://127.0.0.1:$port/"
# The quote pages write decimal points and the program turns the first one into a comma, so it reads
# them with the German decimal separator.
LC_ALL=de_DE.UTF-8 XDG_CONFIG_HOME="$work/config" "$program" /A
