#!/usr/bin/env bash
# The host's commands, the plug-in loaded and its public class made, load no
# widgets and no GUI library: those come only with the events window or a panel.
# Usage: commands_load_no_widgets.sh BUILD_DIR
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
host=("$1/bin/qorvhost" --data "$work/data" --plugin "$1/zul/libzul.so")
for command in info "event list" "log"; do
    # shellcheck disable=SC2086 # the command's words
    loaded=$(LD_DEBUG=files "${host[@]}" $command 2>&1 >/dev/null | grep -o 'file=[^ ]*' | sort -u)
    want=libqorvhost_app.so
    [ "$command" = info ] && want=libzul.so
    if ! grep -q "$want" <<<"$loaded"; then
        echo "qorvhost $command: $want was not loaded"
        exit 1
    fi
    if grep -E 'libQt6(Widgets|Gui)|libzul_forms|libqorvhost_window' <<<"$loaded"; then
        echo "qorvhost $command loads the libraries above"
        exit 1
    fi
done
echo "no widgets loaded"
