#include "runner/Session.h"

#include "runner/FtpSession.h"
#include "runner/SftpSession.h"

#include <algorithm>

namespace zul::runner {

bool ListingBuffer::append(const char* data, std::size_t bytes, const Settings& settings)
{
    if (!m_refused.empty())
        return false;
    m_names += long(std::count(data, data + bytes, '\n'));
    if (m_text->size() + bytes > std::size_t(settings.listMaxBytes))
        m_refused = "the listing is longer than " + std::to_string(settings.listMaxBytes) +
                    " bytes (LIST_MAX_BYTES); refused";
    else if (m_names > settings.listMaxNames)
        m_refused = "the listing has more than " + std::to_string(settings.listMaxNames) +
                    " names (LIST_MAX_NAMES); refused";
    if (!m_refused.empty())
        return false;
    m_text->append(data, bytes);
    return true;
}

std::unique_ptr<Session> makeSession(Scheme scheme, Transcript& transcript, ProgressBar& progress,
                                     const Settings& settings, std::function<bool()> shouldStop)
{
    if (scheme == Scheme::Sftp)
        return std::make_unique<SftpSession>(transcript, progress, settings, std::move(shouldStop));
    return std::make_unique<FtpSession>(transcript, progress, settings, std::move(shouldStop), scheme);
}

} // namespace zul::runner
