#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace zul::test {

// A temporary installation driven through qorvhost: app/ holds the built files, data/ the host's data.
class HostWorld {
public:
    // Makes the folders (app's own and the extra ones) and installs the built files.
    bool make(const QStringList& extraFolders);

    QString path(const QString& rel) const { return m_dir.filePath(rel); }
    QByteArray read(const QString& rel) const;
    QStringList hostArgs(const QStringList& args) const;
    QString hostProgram() const;
    // qorvhost's exit status (-1 when it crashed), its standard output in out.
    int qorvhost(const QStringList& args, QByteArray* out = nullptr) const;
    // An event whose script (scripts/ID.zul) is as given.
    bool defineEvent(const QString& id, const QByteArray& script, const QStringList& putOptions = {}) const;

    // The records of app/Log/runs.jsonl in order; a line that is not whole JSON is an empty object.
    QList<QJsonObject> runs() const;
    // The first record of event, or an empty object.
    QJsonObject runOf(const QString& event) const;

private:
    QTemporaryDir m_dir;
};

} // namespace zul::test
