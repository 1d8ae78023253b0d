#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole default test suite (the long runs are left out:
# run them with `ctest --test-dir build -L long`).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build
ctest --test-dir build --output-on-failure -LE long -j2
