#include "support/Files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <sys/stat.h>

namespace zul::test {

QByteArray readBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

QList<QJsonObject> jsonLines(const QString& path)
{
    QList<QJsonObject> out;
    QFile f(path);
    if (f.open(QIODevice::ReadOnly))
        for (const QByteArray& line : f.readAll().split('\n'))
            if (!line.isEmpty())
                out << QJsonDocument::fromJson(line).object();
    return out;
}

int fileMode(const QString& path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

bool writeBytes(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QByteArray someBytes(int n, quint32 seed)
{
    QByteArray b(n, '\0');
    for (int i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        b[i] = char(seed >> 16);
    }
    return b;
}

bool installBuilt(const QString& name, const QString& folder)
{
    const QString built = qEnvironmentVariable("ZUL_APP_BUILD_DIR") + "/" + name;
    const QString copy = folder + "/" + name;
    QFile::remove(copy);
    return QFile::copy(built, copy) && QFile::setPermissions(copy, QFile::permissions(built));
}

bool installRecordingRunner(const QString& folder)
{
    const QString runner = folder + "/VelundZUL";
    return writeBytes(runner, "#!/bin/sh\n"
                              "d=$(dirname \"$0\")\n"
                              "printf '%s\\n' \"$1\" >> \"$d/runner-args.txt\"\n"
                              "s=$(printf '%s' \"$1\" | cut -d'|' -f2)\n"
                              "[ -n \"$s\" ] && cp \"$s\" \"$d/runner-script.txt\"\n"
                              "exit 0\n") &&
           QFile::setPermissions(runner, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

} // namespace zul::test
