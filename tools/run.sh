#!/usr/bin/env bash
# Installs what is missing, builds, and starts NV Zalvento on its bundled data.
# With --demo it also starts the demo quote server and points the program at it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build
# The bundled definition files are written with decimal commas, as on the German systems the program is
# made for: start it with a German number format unless the user chose one.
export LC_NUMERIC="${LC_NUMERIC:-de_DE.UTF-8}"
exec build/bin/zalvento "$@"
