#include "runner/Checksum.h"

#include <openssl/evp.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <unistd.h>

namespace zul::runner {

namespace {
constexpr std::size_t kChunk = 1 << 20;

std::uint32_t crc32Update(std::uint32_t crc, const unsigned char* data, std::size_t n)
{
    static const auto table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (std::size_t i = 0; i < n; ++i)
        crc = table[(crc ^ data[i]) & 0xff] ^ (crc >> 8);
    return ~crc;
}

std::string hex(const unsigned char* data, std::size_t n)
{
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < n; ++i) {
        out += kHex[data[i] >> 4];
        out += kHex[data[i] & 0xf];
    }
    return out;
}

// Calls feed with each chunk of the file; false when it cannot be read.
template <typename Feed> bool readAllOf(int fd, Feed feed)
{
    std::string buffer(kChunk, '\0');
    for (off_t at = 0;;) {
        const ssize_t r = ::pread(fd, buffer.data(), buffer.size(), at);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0)
            return false;
        if (r == 0)
            return true;
        feed(reinterpret_cast<const unsigned char*>(buffer.data()), std::size_t(r));
        at += r;
    }
}
} // namespace

std::string fileHash(int fd, std::string_view algorithm)
{
    if (algorithm == "CRC32") {
        std::uint32_t crc = 0;
        if (!readAllOf(fd, [&](const unsigned char* d, std::size_t n) { crc = crc32Update(crc, d, n); }))
            return {};
        const unsigned char bytes[4] = {static_cast<unsigned char>(crc >> 24), static_cast<unsigned char>(crc >> 16),
                                        static_cast<unsigned char>(crc >> 8), static_cast<unsigned char>(crc)};
        return hex(bytes, 4);
    }
    const EVP_MD* md = algorithm == "SHA-256" ? EVP_sha256()
                       : algorithm == "SHA-1" ? EVP_sha1()
                       : algorithm == "MD5"   ? EVP_md5()
                                              : nullptr;
    if (!md)
        return {};
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!ctx || EVP_DigestInit_ex(ctx.get(), md, nullptr) != 1)
        return {};
    if (!readAllOf(fd, [&](const unsigned char* d, std::size_t n) { EVP_DigestUpdate(ctx.get(), d, n); }))
        return {};
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    EVP_DigestFinal_ex(ctx.get(), out, &n);
    return hex(out, n);
}

bool sameHash(std::string_view a, std::string_view b)
{
    const auto digits = [](std::string_view s) {
        std::string out;
        for (char c : s)
            out += char(std::tolower(static_cast<unsigned char>(c)));
        const auto first = out.find_first_not_of('0');
        return first == std::string::npos ? std::string("0") : out.substr(first);
    };
    return !a.empty() && !b.empty() && digits(a) == digits(b);
}

} // namespace zul::runner
