# Shared by the run scripts: installs what is missing, then configures and
# builds the given preset (or some of its targets) incrementally.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
PACKAGES=(cmake ninja-build g++ qt6-base-dev libqt6sql6-sqlite libcurl4-openssl-dev libssl-dev python3-pyftpdlib lftp curl
          fonts-dejavu-core scdoc vsftpd openssh-server openssh-client openssl python3-prometheus-client)

install_missing() {
    local missing=()
    for p in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    if ((${#missing[@]})); then
        echo "== installing: ${missing[*]}"
        local sudo=""
        [ "$(id -u)" -eq 0 ] || sudo="sudo"
        $sudo apt-get update -qq
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
    fi
}

# build_preset PRESET [TARGET...]: everything, or only the given targets.
build_preset() {
    local preset="$1"
    shift
    cd "$ROOT"
    if [ ! -f "build/$preset/build.ninja" ]; then
        cmake --preset "$preset" >/dev/null
    fi
    local targets=()
    (($#)) && targets=(--target "$@")
    cmake --build --preset "$preset" -j "$(nproc)" "${targets[@]}"
}
