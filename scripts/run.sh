#!/usr/bin/env bash
# Sets up, builds (Release) and starts the program.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DTARQUEL_BUILD_BENCH=OFF >/dev/null
cmake --build build --target tarquel -j"$(nproc)"
exec build/tarquel "$@"
