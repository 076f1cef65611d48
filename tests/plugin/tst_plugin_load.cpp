#include "com/Gamut.h"
#include "com/Registry.h"

#include <QDir>
#include <QFile>
#include <QPluginLoader>
#include <QTemporaryDir>
#include <QTest>

// Loads the built plug-in from a folder of its own, as the host does, and
// checks that it takes that folder as its application folder.
class PluginLoadTest : public QObject {
    Q_OBJECT
private slots:
    void loadsAndFindsItsFolder()
    {
        const QString built = qEnvironmentVariable("ZUL_APP_BUILD_DIR") + "/libzul.so";
        QVERIFY2(QFile::exists(built), qPrintable(built));
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath("app folder"));
        const QString copy = dir.filePath("app folder/libzul.so");
        QVERIFY(QFile::copy(built, copy));

        QPluginLoader loader(copy);
        QObject* root = loader.instance();
        QVERIFY2(root, qPrintable(loader.errorString()));
        QCOMPARE(root->property("applicationFolder").toString(), QDir(dir.filePath("app folder")).canonicalPath());
        QCOMPARE(root->property("progId").toString(), QString("oGamut12.iGamut12"));

        auto feature = zul::com::CreateObjectAs<zul::com::IGamut12>("oGamut12.iGamut12");
        QVERIFY(feature);
        QCOMPARE(feature->FeatureType(), std::string("AFM"));
        QCOMPARE(feature->FeatureSummary(), std::string("<NONE>"));
        QCOMPARE(feature->NeedGridRefresh(), false);
    }
};

QTEST_GUILESS_MAIN(PluginLoadTest)
#include "tst_plugin_load.moc"
