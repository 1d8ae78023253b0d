#!/usr/bin/env bash
# Installs what is missing (asking sudo for the packages when not root), builds, and starts NV Zalvento on
# its bundled data. With --demo it starts the demo quote server too (a demo feed of made-up prices) and
# points the program at it in the automatic mode, so the index moves; other arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build
if [ "${1:-}" = --demo ]; then
    shift
    exec bash tools/demoquoteserver/run-demo.sh "$@"
fi
# The bundled definition files are written with decimal commas, as on the German systems the program is
# made for: start it with a German number format unless the user chose one.
export LC_NUMERIC="${LC_NUMERIC:-de_DE.UTF-8}"
exec build/bin/zalvento "$@"
