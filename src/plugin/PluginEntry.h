#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QVariant>

// The root object the host gets from QPluginLoader. On load it finds the
// application folder and registers the public class under its ProgID, so the
// host creates instances through the component registry.
class ZulPluginEntry : public QObject {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.zul.FeaturePlugin/1" FILE "plugin.json")
    Q_PROPERTY(QString applicationFolder READ applicationFolder CONSTANT)
    Q_PROPERTY(QString progId READ progId CONSTANT)

public:
    ZulPluginEntry();
    QString applicationFolder() const;
    QString progId() const;

    // The editor's save after the host's panel confirmed, for the host's
    // command line: text becomes the work copy, the work copy the event
    // script of id, and the work copy goes. Empty on success, else why not.
    Q_INVOKABLE QString importScript(const QString& id, const QByteArray& text);

    // The text the editor shows for id's script (a QByteArray in the 8-bit
    // code page); an invalid QVariant when the load failed and was reported,
    // a QString saying why when it failed without a report.
    Q_INVOKABLE QVariant showScript(const QString& id);
};
