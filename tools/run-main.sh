#!/usr/bin/env bash
# The main job: installs what is missing, builds, and shows the plug-in loaded
# by the host.
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
install_missing
build_preset dev
"$ROOT/build/dev/bin/qorvhost" info
