#!/usr/bin/env bash
# The host's commands, the plug-in loaded and its public class made, load no
# Qt at all: Qt comes only with the events window or a panel.
# Usage: commands_load_no_widgets.sh BUILD_DIR
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
host=("$1/bin/qorvhost" --data "$work/data" --plugin "$1/zul/libzul.so")
"${host[@]}" event put E0001 >/dev/null
# A run of an event without a script goes as far as the plug-in's refusal.
for command in info "event list" "log" "script show E0001" "run E0001"; do
    # shellcheck disable=SC2086 # the command's words
    report=$(LD_DEBUG=files "${host[@]}" $command 2>&1 >/dev/null || true)
    loaded=$(grep -o 'file=[^ ]*' <<<"$report" | sort -u)
    want=libqorvhost_app.so
    [ "$command" != "event list" ] && [ "$command" != log ] && want=libzul.so
    if ! grep -q "$want" <<<"$loaded"; then
        echo "qorvhost $command: $want was not loaded"
        exit 1
    fi
    if grep -E 'libQt6|libzul_forms|libqorvhost_window' <<<"$loaded"; then
        echo "qorvhost $command loads the libraries above"
        exit 1
    fi
done
echo "no Qt loaded"
