#!/usr/bin/env bash
# Builds the lint preset: clang-tidy (.clang-tidy) over every file of src/ and
# tests/ as it is compiled; a finding fails the build.
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
install_missing
build_preset lint
