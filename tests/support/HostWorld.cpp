#include "support/HostWorld.h"

#include "support/Files.h"

#include <QDir>
#include <QProcess>

namespace zul::test {

bool HostWorld::make(const QStringList& extraFolders)
{
    QDir d(m_dir.path());
    for (const QString& sub : QStringList{"app/ZUL", "app/Junction", "app/Log", "scripts"} + extraFolders)
        if (!d.mkpath(sub))
            return false;
    for (const char* file : {"libzul.so", "VelundZUL", "libping32.so"})
        if (!installBuilt(file, path("app")))
            return false;
    return true;
}

QByteArray HostWorld::read(const QString& rel) const
{
    return readBytes(path(rel));
}

QStringList HostWorld::hostArgs(const QStringList& args) const
{
    return QStringList{"--data", path("data"), "--plugin", path("app/libzul.so")} + args;
}

QString HostWorld::hostProgram() const
{
    return qEnvironmentVariable("ZUL_BIN_DIR") + "/qorvhost";
}

int HostWorld::qorvhost(const QStringList& args, QByteArray* out) const
{
    QProcess p;
    p.start(hostProgram(), hostArgs(args));
    p.waitForFinished(60000);
    if (out)
        *out = p.readAllStandardOutput();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

bool HostWorld::defineEvent(const QString& id, const QByteArray& script, const QStringList& putOptions) const
{
    const QString file = path("scripts/" + id + ".zul");
    return writeBytes(file, script) && qorvhost(QStringList{"event", "put", id} + putOptions) == 0 &&
           qorvhost({"script", "import", id, file}) == 0;
}

QList<QJsonObject> HostWorld::runs() const
{
    return jsonLines(path("app/Log/runs.jsonl"));
}

QJsonObject HostWorld::runOf(const QString& event) const
{
    for (const QJsonObject& o : runs())
        if (o.value("event").toString() == event)
            return o;
    return {};
}

} // namespace zul::test
