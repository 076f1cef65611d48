#include "runner/Session.h"

#include "runner/FtpSession.h"
#include "runner/SftpSession.h"

namespace zul::runner {

std::unique_ptr<Session> makeSession(Scheme scheme, Transcript& transcript, ProgressBar& progress,
                                     const Settings& settings, std::function<bool()> shouldStop)
{
    if (scheme == Scheme::Sftp)
        return std::make_unique<SftpSession>(transcript, progress, settings, std::move(shouldStop));
    return std::make_unique<FtpSession>(transcript, progress, settings, std::move(shouldStop), scheme);
}

} // namespace zul::runner
