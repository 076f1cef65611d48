#include "runner/SftpSession.h"

#include <openssl/evp.h>

namespace zul::runner {

namespace {
std::string base64(const unsigned char* data, std::size_t size)
{
    std::string out(4 * ((size + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), data, int(size));
    out.resize(std::size_t(n < 0 ? 0 : n));
    return out;
}
} // namespace

HostKeyView describeHostKey(const std::string& host, int port, const unsigned char* blob, std::size_t size)
{
    HostKeyView v;
    // The key blob begins with its type name as an SSH string (32-bit length, bytes).
    if (size >= 4) {
        const std::size_t len = std::size_t(blob[0]) << 24 | std::size_t(blob[1]) << 16 |
                                std::size_t(blob[2]) << 8 | std::size_t(blob[3]);
        if (len <= size - 4)
            v.type.assign(reinterpret_cast<const char*>(blob + 4), len);
    }
    if (v.type.empty())
        v.type = "unknown-key-type";
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestSize = 0;
    EVP_Digest(blob, size, digest, &digestSize, EVP_sha256(), nullptr);
    std::string fp = base64(digest, digestSize);
    while (!fp.empty() && fp.back() == '=')
        fp.pop_back();
    v.fingerprint = "SHA256:" + fp;
    const std::string name = port == 22 ? host : "[" + host + "]:" + std::to_string(port);
    v.knownHostsLine = name + " " + v.type + " " + base64(blob, size);
    return v;
}

} // namespace zul::runner
