// The TLS side of FtpSession: what is asked of the partner's certificate, and
// how a refusal is told to the operator.
#include "runner/FtpSession.h"

#include <chrono>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zul::runner {

// Over TLS 1.3 a server sends session tickets on a data connection that an
// upload never reads. Closing a socket with unread bytes resets the connection,
// and a server that has not read the end of the upload yet loses it (vsftpd
// answers 426). So the close is the one TCP means: our FIN, then the rest of
// what the peer sends until its own, for a short while at most.
int FtpSession::closeGently(void*, curl_socket_t fd)
{
    ::shutdown(fd, SHUT_WR);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    char buf[4096];
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now()).count();
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, int(left)) <= 0 || ::recv(fd, buf, sizeof buf, 0) <= 0)
            break;
    }
    return ::close(fd);
}

void FtpSession::setTlsOptions()
{
    if (m_scheme == Scheme::Ftp)
        return;
    CURL* c = m_curl;
    // Control and data protected; a refused AUTH TLS ends the request before USER.
    securityOption(CURLOPT_USE_SSL, long(CURLUSESSL_ALL), "the ftpes/ftps scheme");
    securityOption(CURLOPT_FTPSSLAUTH, long(CURLFTPAUTH_TLS), "the ftpes/ftps scheme");
    securityOption(CURLOPT_SSLVERSION,
                   long(CURL_SSLVERSION_TLSv1_2) | (m_settings.tlsMax == "1.3" ? long(CURL_SSLVERSION_MAX_TLSv1_3)
                                                                               : long(CURL_SSLVERSION_MAX_TLSv1_2)),
                   "TLS_MAX");
    curl_easy_setopt(c, CURLOPT_CLOSESOCKETFUNCTION, &FtpSession::closeGently);
    securityOption(CURLOPT_SSL_VERIFYPEER, 1L, "the certificate check");
    securityOption(CURLOPT_SSL_VERIFYHOST, 2L, "the certificate check");
    if (!m_settings.caFile.empty())
        securityOption(CURLOPT_CAINFO, m_settings.caFile.c_str(), "CA_FILE");
    if (!m_settings.pinnedKey.empty())
        securityOption(CURLOPT_PINNEDPUBLICKEY, m_settings.pinnedKey.c_str(), "PINNED_KEY");
}

// What the operator may want to know of a protected session once it stands.
void FtpSession::noteTls()
{
    if (m_scheme == Scheme::Ftp)
        return;
    m_transcript.note("TLS up to " + m_settings.tlsMax +
                      (m_tlsUsed.empty() ? std::string() : ", negotiated " + m_tlsUsed) +
                      ", control and data protected; the certificate of " + m_host +
                      " verified against " +
                      (m_settings.caFile.empty() ? std::string("the system's CA store") : m_settings.caFile) +
                      (m_settings.pinnedKey.empty() ? std::string() : ", its key matches PINNED_KEY"));
}

Outcome FtpSession::tlsFailure(CURLcode rc, const std::string& detail) const
{
    if (m_scheme == Scheme::Ftp)
        return {};
    const std::string partner = m_host + " port " + std::to_string(m_port);
    switch (rc) {
    case CURLE_USE_SSL_FAILED:
        return {Failure::NoTls, partner + " does not offer TLS (AUTH TLS refused): " + detail +
                                    "; the user and password were not sent"};
    case CURLE_SSL_CONNECT_ERROR:
        if (m_loggedIn)
            return {};
        return {Failure::NoTls, "no TLS session with " + partner + ": " + detail +
                                    (m_scheme == Scheme::Ftps ? " (does it speak implicit TLS, ftps://, on this port?)"
                                                              : "") +
                                    // A TLS 1.2 cipher list with nothing for the server's key fails the same way.
                                    (m_settings.tlsMax != "1.3" && (detail.find("protocol version") != std::string::npos ||
                                                                     detail.find("unsupported protocol") != std::string::npos ||
                                                                     detail.find("handshake failure") != std::string::npos)
                                         ? " (TLS_MAX = 1.3 allows TLS 1.3)"
                                         : "") +
                                    "; the user and password were not sent"};
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_ISSUER_ERROR:
        return {Failure::Untrusted,
                "the certificate of " + partner + " is not trusted: " + detail +
                    ". A certificate from a private CA is trusted by naming that CA's PEM file as CA_FILE in "
                    "VelundZUL.conf (in a [" + m_host + "] section for this partner only); the chain the partner "
                    "shows can be read with: openssl s_client -connect " + m_host + ":" + std::to_string(m_port) +
                    (m_scheme == Scheme::Ftpes ? " -starttls ftp" : "") + " -showcerts </dev/null"};
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        return {Failure::Untrusted, "the certificate of " + partner + " does not carry the key pinned by PINNED_KEY (" +
                                        m_settings.pinnedKey + "): " + detail};
    case CURLE_SSL_CACERT_BADFILE:
        return {Failure::Untrusted, "the CA file " + (m_settings.caFile.empty() ? std::string("of the system")
                                                                                  : m_settings.caFile) +
                                        " cannot be read: " + detail};
    default:
        return {};
    }
}

} // namespace zul::runner
