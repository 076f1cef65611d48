#pragma once

#include "com/HostComponents.h"
#include "runner/Transcript.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <initializer_list>
#include <string_view>

namespace zul::test {

// Histories written by the system's own writers, so a fixture cannot drift from the format: one line each.
QByteArray runRecordLine(const runner::RunRecord& record);
inline QByteArray runRecordLine(const std::string& event, const std::string& start, const std::string& end,
                                int exitStatus, const std::string& outcome, const std::string& transcript = {})
{
    runner::RunRecord r;
    r.event = event, r.start = start, r.end = end, r.exitStatus = exitStatus, r.outcome = outcome;
    r.transcript = transcript;
    return zul::test::runRecordLine(r);
}

// The same line without the named fields, as a runner that died or an older one left it.
QByteArray runRecordLineWithout(const runner::RunRecord& record, std::initializer_list<std::string_view> fields);

// Appends a host message as the host's message service logs it, dated at; false when it wrote nothing.
bool appendHostMessage(const QString& messagesPath, const com::Args& args, const QDateTime& at);

// The run-log messages of the plug-in: the partner did not answer, and did.
com::Args partnerSilentMessage(const std::string& event, const std::string& address = "192.0.2.7");
com::Args partnerAnsweredMessage(const std::string& event, const std::string& address = "127.0.0.1");

} // namespace zul::test
