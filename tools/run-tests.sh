#!/usr/bin/env bash
# Installs what is missing, builds and runs every test with CTest.
# Usage: tools/run-tests.sh [preset]   (dev by default; asan, ci)
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
preset="${1:-dev}"
install_missing
fetch_servers
build_preset "$preset"
cd "$ROOT"
ctest --preset "$preset" -j "$(nproc)"
