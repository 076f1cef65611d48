#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>

namespace zul::test {

// The bytes of a file, or "<missing>".
QByteArray readBytes(const QString& path);
// Writes a file, making its folder first.
bool writeBytes(const QString& path, const QByteArray& bytes);
// Reproducible bytes that are not text.
QByteArray someBytes(int n, quint32 seed);
// The objects of a file's JSON lines (an empty one for a line that is none); none when the file is missing.
QList<QJsonObject> jsonLines(const QString& path);
// The permission bits of a file (links followed), or -1 when it is not there.
int fileMode(const QString& path);

// Copies a file of the build (ZUL_APP_BUILD_DIR) into folder, keeping its permissions.
bool installBuilt(const QString& name, const QString& folder);
// A runner stand-in that leaves its argument in runner-args.txt and its script in runner-script.txt.
bool installRecordingRunner(const QString& folder);

} // namespace zul::test
