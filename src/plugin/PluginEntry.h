#pragma once

#include <QObject>
#include <QString>

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
};
