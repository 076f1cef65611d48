#!/usr/bin/env bash
# The main job builds what it runs and nothing of the tests: it names its
# targets, and none of them brings a test along.
# Usage: main_job_targets.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
line=$(grep -E '^build_preset ' "$1/tools/run-main.sh")
read -r _ _ targets <<<"$line"
if [ -z "$targets" ]; then
    echo "tools/run-main.sh builds every target: '$line'"
    exit 1
fi
# shellcheck disable=SC2086 # one word per target
tests=$(ninja -C "$2" -t commands $targets | grep -o 'tst_[A-Za-z0-9_]*' | sort -u || true)
if [ -n "$tests" ]; then
    echo "tools/run-main.sh builds tests: $tests"
    exit 1
fi
echo "the main job builds: $targets"
