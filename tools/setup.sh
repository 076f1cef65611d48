# Shared by the run scripts: installs what is missing, then configures and
# builds the given preset (or some of its targets) incrementally.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
PACKAGES=(cmake ninja-build g++ qt6-base-dev libsqlite3-dev libcurl4-openssl-dev libssh-dev pkg-config libssl-dev nlohmann-json3-dev python3-pyftpdlib lftp curl
          fonts-dejavu-core scdoc vsftpd openssh-server openssh-client openssl python3-prometheus-client
          libhiredis0.14 libmemcached11 libmemcachedutil2 libpcre2-posix3 libsodium23 clang-tidy)
# ProFTPD and Pure-FTPd conflict with vsftpd as packages: the interoperability
# tests run them from their Debian packages unpacked here (the libraries above are theirs).
SERVERS_DIR="$ROOT/build/servers"
SERVER_DEBS=(proftpd-core proftpd-mod-crypto pure-ftpd)

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

fetch_servers() {
    if [ -x "$SERVERS_DIR/usr/sbin/proftpd" ] && [ -f "$SERVERS_DIR/usr/lib/proftpd/mod_tls.so" ] &&
        [ -x "$SERVERS_DIR/usr/sbin/pure-ftpd" ]; then
        return
    fi
    echo "== unpacking ${SERVER_DEBS[*]} into $SERVERS_DIR"
    local debs="$SERVERS_DIR/debs"
    rm -rf "$debs" && mkdir -p "$debs"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    (cd "$debs" && { apt-get download -qq "${SERVER_DEBS[@]}" 2>/dev/null ||
        { $sudo apt-get update -qq && apt-get download -qq "${SERVER_DEBS[@]}"; }; })
    for deb in "$debs"/*.deb; do
        dpkg-deb -x "$deb" "$SERVERS_DIR"
    done
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
