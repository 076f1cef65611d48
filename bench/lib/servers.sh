# Loopback servers and small helpers for the bench scripts, sourced, not run.
# The caller sets $work (a fresh folder it removes) and traps EXIT to call
# stop_servers. vsftpd and sshd log in the test account the tests use.

bench_user=zulsec
bench_pass=Zul-Test-Pw1
server_pids=()

stop_servers() {
    local pid
    for pid in "${server_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
}

# Exits unless every file after $1 exists; $1 names the targets that build them.
need_built() {
    local targets=$1 f
    shift
    for f; do [ -e "$f" ] || { echo "missing $f (build $targets)" >&2; exit 2; }; done
}

# An application folder at $1 with its shared folders and the plug-in, the
# runner and the ping library of $build.
make_app_folder() {
    mkdir -p "$1/ZUL" "$1/Junction" "$1/Log"
    cp -a "$build/zul/libzul.so" "$build/zul/VelundZUL" "$build/zul/libping32.so" "$1/"
}

need_root_servers() {
    [ "$(id -u)" = 0 ] || { echo "run as root: vsftpd and sshd log in a system account" >&2; exit 2; }
    local p c
    for p in /usr/sbin/vsftpd /usr/sbin/sshd; do [ -x $p ] || { echo "$p is missing (tools/setup.sh)" >&2; exit 2; }; done
    for c in curl sftp ssh-keygen openssl bc; do command -v $c >/dev/null || { echo "$c is missing" >&2; exit 2; }; done
    id $bench_user >/dev/null 2>&1 || useradd --no-create-home --home-dir / --shell /bin/sh $bench_user
    echo "$bench_user:$bench_pass" | chpasswd
    mkdir -p /var/run/vsftpd/empty /run/sshd
}

# The Python test server on $work/root for user $1 with password $2 (more
# ftpserver.py options may follow); sets $port.
start_pyftpd() {
    local user=$1 pass=$2
    shift 2
    FTP_SERVER_PASSWORD="$pass" /usr/bin/python3 "$source_dir/tests/runner/ftpserver.py" --root "$work/root" --user "$user" \
        "$@" >"$work/port" 2>"$work/server.log" &
    server_pids+=($!)
    for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
    port=$(head -1 "$work/port")
    [ -n "$port" ] || { echo "the FTP server did not start" >&2; cat "$work/server.log" >&2; exit 2; }
}

free_port() { /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
wait_port() { for _ in $(seq 100); do (exec 3<>/dev/tcp/127.0.0.1/"$1") 2>/dev/null && return 0; sleep 0.1; done; return 1; }

# A throw-away CA ($work/ca.pem) and a certificate for 127.0.0.1.
make_certificates() {
    local ec=(-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes)
    openssl req -x509 "${ec[@]}" -keyout "$work/ca.key" -out "$work/ca.pem" -days 2 -subj "/CN=zul bench CA" 2>/dev/null
    openssl req "${ec[@]}" -keyout "$work/server.key" -out "$work/server.csr" -subj "/CN=zul bench" 2>/dev/null
    echo "subjectAltName=IP:127.0.0.1" >"$work/ext.cnf"
    openssl x509 -req -in "$work/server.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" -CAcreateserial \
        -out "$work/server.pem" -days 2 -extfile "$work/ext.cnf" 2>/dev/null
}

# start_vsftpd NAME ROOT TLS(YES|NO): vsftpd on a free port, TLS required for
# login and data when TLS=YES; sets vsftpd_port.
start_vsftpd() {
    local name=$1 root=$2 tls=$3
    vsftpd_port=$(free_port)
    cat >"$work/$name.conf" <<CONF
listen=YES
listen_ipv6=NO
listen_address=127.0.0.1
listen_port=$vsftpd_port
background=NO
anonymous_enable=NO
local_enable=YES
write_enable=YES
local_umask=022
local_root=$root
pasv_enable=YES
pasv_address=127.0.0.1
max_per_ip=0
max_clients=0
ssl_enable=$tls
seccomp_sandbox=NO
isolate=NO
isolate_network=NO
pam_service_name=vsftpd
CONF
    [ "$tls" = NO ] || cat >>"$work/$name.conf" <<CONF
rsa_cert_file=$work/server.pem
rsa_private_key_file=$work/server.key
force_local_logins_ssl=YES
force_local_data_ssl=YES
ssl_ciphers=HIGH
CONF
    /usr/sbin/vsftpd "$work/$name.conf" >"$work/$name.out" 2>&1 &
    server_pids+=($!)
    wait_port "$vsftpd_port" || { echo "vsftpd ($name) did not start" >&2; cat "$work/$name.out" >&2; exit 2; }
}

# start_sshd ROOT: sshd with internal-sftp in ROOT on a free port, a key login
# ($work/home/.ssh/id_ed25519, known in $work/home/.ssh/known_hosts); sets ssh_port.
start_sshd() {
    local root=$1
    ssh_port=$(free_port)
    mkdir -p "$work/home/.ssh"
    ssh-keygen -q -t ed25519 -N '' -f "$work/host_key"
    ssh-keygen -q -t ed25519 -N '' -f "$work/home/.ssh/id_ed25519"
    cp "$work/home/.ssh/id_ed25519.pub" "$work/authorized_keys"
    chmod 644 "$work/authorized_keys"
    echo "[127.0.0.1]:$ssh_port $(cut -d' ' -f1,2 "$work/host_key.pub")" >"$work/home/.ssh/known_hosts"
    cat >"$work/sshd_config" <<CONF
ListenAddress 127.0.0.1:$ssh_port
HostKey $work/host_key
PidFile none
UsePAM no
PasswordAuthentication no
PubkeyAuthentication yes
AuthorizedKeysFile $work/authorized_keys
StrictModes no
AllowUsers $bench_user
Subsystem sftp internal-sftp
ForceCommand internal-sftp -d $root
CONF
    /usr/sbin/sshd -D -e -f "$work/sshd_config" >"$work/sshd.out" 2>&1 &
    server_pids+=($!)
    wait_port "$ssh_port" || { echo "sshd did not start" >&2; cat "$work/sshd.out" >&2; exit 2; }
}

# The password reaches curl through a netrc file, not its arguments.
write_netrc() {
    printf 'machine 127.0.0.1 login %s password %s\n' "$bench_user" "$bench_pass" >"$work/netrc"
    chmod 600 "$work/netrc"
}

# runner_script FILE OPEN-LINE USER-LINE, commands on stdin: a runner script in CR LF lines.
runner_script() {
    { printf '%s\r\n%s\r\nbinary\r\n' "$2" "$3"; sed 's/$/\r/'; printf 'quit\r\n'; } >"$1"
}
