// What another SSH library would give the runner's SFTP transfers: one file
// down or up through libssh (0.10), with the ciphers OpenSSH itself prefers
// and a number of reads kept in flight, for bench/compare.sh to race against
// `sftp -b` and the runner. Not part of the product.
//
//   bench_ssh_probe get|put HOST PORT USER KEYFILE KNOWN_HOSTS REMOTE LOCAL
#include <libssh/libssh.h>
#include <libssh/sftp.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::uint32_t kChunk = 32 * 1024; // what OpenSSH's sftp asks for
constexpr int kInFlight = 64;               // and how many it keeps asked

int fail(const char* what, ssh_session s)
{
    std::fprintf(stderr, "bench_ssh_probe: %s: %s\n", what, s ? ssh_get_error(s) : "");
    return 1;
}

int get(sftp_session sftp, ssh_session s, const char* remote, const char* local)
{
    sftp_file f = sftp_open(sftp, remote, O_RDONLY, 0);
    if (!f)
        return fail("open remote", s);
    const int out = ::open(local, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0)
        return fail("open local", nullptr);
    std::deque<int> asked;
    bool end = false, shortSeen = false;
    std::vector<char> buf(kChunk);
    while (!end || !asked.empty()) {
        while (!end && asked.size() < kInFlight) {
            const int id = sftp_async_read_begin(f, kChunk);
            if (id < 0)
                return fail("read request", s);
            asked.push_back(id);
        }
        const int id = asked.front();
        asked.pop_front();
        const int n = sftp_async_read(f, buf.data(), kChunk, id);
        if (n < 0)
            return fail("read", s);
        if (n == 0) {
            end = true;
            continue;
        }
        // Replies come at fixed offsets: data after a short one would leave a gap.
        if (shortSeen)
            return fail("a short read before the end of the file", nullptr);
        if (::write(out, buf.data(), std::size_t(n)) != n)
            return fail("write local", nullptr);
        if (std::uint32_t(n) < kChunk)
            end = shortSeen = true; // the end of the file is near
    }
    ::close(out);
    sftp_close(f);
    return 0;
}

int put(sftp_session sftp, ssh_session s, const char* remote, const char* local)
{
    const int in = ::open(local, O_RDONLY);
    if (in < 0)
        return fail("open local", nullptr);
    sftp_file f = sftp_open(sftp, remote, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (!f)
        return fail("open remote", s);
    // 0.10 has no asynchronous write: each write waits for its answer, so
    // the chunk is as large as the server takes.
    std::vector<char> buf(255 * 1024);
    for (;;) {
        const ssize_t n = ::read(in, buf.data(), buf.size());
        if (n < 0)
            return fail("read local", nullptr);
        if (n == 0)
            break;
        if (sftp_write(f, buf.data(), std::size_t(n)) != n)
            return fail("write", s);
    }
    ::close(in);
    return sftp_close(f) == SSH_OK ? 0 : fail("close", s);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 9) {
        std::fputs("usage: bench_ssh_probe get|put HOST PORT USER KEYFILE KNOWN_HOSTS REMOTE LOCAL\n", stderr);
        return 2;
    }
    const std::string mode = argv[1];
    if (mode != "get" && mode != "put") {
        std::fputs("bench_ssh_probe: get or put\n", stderr);
        return 2;
    }
    ssh_session s = ssh_new();
    const int port = std::atoi(argv[3]);
    ssh_options_set(s, SSH_OPTIONS_HOST, argv[2]);
    ssh_options_set(s, SSH_OPTIONS_PORT, &port);
    ssh_options_set(s, SSH_OPTIONS_USER, argv[4]);
    ssh_options_set(s, SSH_OPTIONS_KNOWNHOSTS, argv[6]);
    ssh_options_set(s, SSH_OPTIONS_PROCESS_CONFIG, "no"); // only what is given here
    if (ssh_connect(s) != SSH_OK)
        return fail("connect", s);
    if (ssh_session_is_known_server(s) != SSH_KNOWN_HOSTS_OK)
        return fail("host key not in KNOWN_HOSTS", s);
    ssh_key key = nullptr;
    if (ssh_pki_import_privkey_file(argv[5], nullptr, nullptr, nullptr, &key) != SSH_OK ||
        ssh_userauth_publickey(s, nullptr, key) != SSH_AUTH_SUCCESS)
        return fail("login", s);
    ssh_key_free(key);
    sftp_session sftp = sftp_new(s);
    if (!sftp || sftp_init(sftp) != SSH_OK)
        return fail("sftp", s);
    const int rc = mode == "get" ? get(sftp, s, argv[7], argv[8]) : put(sftp, s, argv[7], argv[8]);
    sftp_free(sftp);
    ssh_disconnect(s);
    ssh_free(s);
    return rc;
}
