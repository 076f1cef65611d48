// The host suite's stand-in: loads the plug-in, keeps the events and runs
// them; a command line for operators and tests. The qorvhost program loads
// this library for everything it does not answer itself.
#include "host/CodePage.h"
#include "host/Host.h"
#include "host/RunWait.h"
#include "host/history/Commands.h"

#include "com/Diagnostics.h"
#include "platform/Library.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaObject>
#include <QStringList>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

using namespace zul::host;

namespace {

const char* const kUsage = zul::history::usageText();

int fail(const QString& message, int code = 2)
{
    std::fprintf(stderr, "qorvhost: %s\n", message.toLocal8Bit().constData());
    return code;
}

void out(const QString& line)
{
    std::printf("%s\n", line.toLocal8Bit().constData());
}

QString describe(const EventRecord& r)
{
    return QStringLiteral("%1\t%2\t%3\t%4\t%5\t%6\t%7")
        .arg(r.id, r.entity, r.type, QString::number(r.runDay), r.flag1, r.flag2, r.flag4);
}

// Options of "event put": pairs of --name value.
std::optional<QString> option(const QStringList& args, const QString& name, QString* error)
{
    const int i = args.indexOf(name);
    if (i < 0)
        return std::nullopt;
    if (i + 1 >= args.size()) {
        *error = name + QStringLiteral(" needs a value");
        return std::nullopt;
    }
    return args[i + 1];
}

int eventPut(Host& host, const QStringList& args)
{
    QString id = args.value(0);
    const QStringList known = {"--entity", "--runday", "--flag1", "--flag2", "--flag4"};
    for (int i = 1; i < args.size(); i += 2)
        if (!known.contains(args[i]))
            return fail(QStringLiteral("unknown option '%1'").arg(args[i]));
    if (id == QLatin1String("new"))
        id = host.store().allocateId();
    EventRecord r = host.store().find(id).value_or(EventRecord{});
    r.id = id;
    QString error;
    if (auto v = option(args, "--entity", &error))
        r.entity = *v;
    if (auto v = option(args, "--runday", &error)) {
        bool ok = false;
        r.runDay = v->toInt(&ok);
        if (!ok || r.runDay < -32768 || r.runDay > 32767)
            return fail(QStringLiteral("--runday must be a 16-bit number, not '%1'").arg(*v));
    }
    for (auto [name, field] : {std::pair{"--flag1", &r.flag1}, {"--flag2", &r.flag2}, {"--flag4", &r.flag4}}) {
        if (auto v = option(args, QString::fromLatin1(name), &error)) {
            if (*v != QLatin1String("0") && *v != QLatin1String("1"))
                return fail(QStringLiteral("%1 must be 0 or 1").arg(QLatin1String(name)));
            *field = *v;
        }
    }
    if (!error.isEmpty())
        return fail(error);
    if (id.isEmpty())
        return fail(QStringLiteral("event put needs an id"));
    if (!host.store().put(r))
        return fail(QStringLiteral("cannot save event %1: %2").arg(id, host.store().lastError()));
    out(describe(r));
    return 0;
}

int printLog(const Host& host)
{
    QFile f(host.messageLogPath());
    if (!f.exists())
        return 0;
    if (!f.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot read '%1'").arg(f.fileName()));
    while (!f.atEnd()) {
        const QJsonObject e = QJsonDocument::fromJson(f.readLine()).object();
        if (e.value("kind").toString() == QLatin1String("N")) {
            out(QStringLiteral("%1 note: %2").arg(e.value("at").toString(), e.value("message").toString()));
            continue;
        }
        if (e.value("kind").toString() != QLatin1String("L"))
            continue;
        QStringList fields;
        const QJsonArray args = e.value("args").toArray();
        QStringList numbers;
        for (const auto& n : e.value("numbers").toArray())
            numbers << QString::number(n.toInt());
        // args: False, numbers..., "L", id, type, run day, date, time, "90"[, text]
        const int from = 1 + static_cast<int>(numbers.size()) + 1;
        auto arg = [&](int k) { return args.at(from + k).toObject().value("value").toVariant().toString(); };
        out(QStringLiteral("%1 %2 %3 [%4] %5").arg(arg(3), arg(4), arg(0), numbers.join(','),
                                                  e.value("message").toString().replace('\n', QStringLiteral(" | "))));
    }
    return 0;
}

// The script commands go through the plug-in's root object: the host does not
// link the plug-in's modules.
int script(Host& host, const QString& pluginPath, const QStringList& args)
{
    const QString sub = args.value(0);
    const QString id = args.value(1);
    if (sub != QLatin1String("import") && sub != QLatin1String("show"))
        return fail(QStringLiteral("unknown script command '%1'").arg(sub));
    if (id.isEmpty() || (sub == QLatin1String("import") && args.size() < 3))
        return fail(QStringLiteral("script %1 needs %2").arg(sub, sub == QLatin1String("import") ? "ID FILE" : "ID"));
    if (id.contains(QLatin1Char('/')) || id.contains(QLatin1Char('\\')))
        return fail(QStringLiteral("an event id cannot hold a path separator: '%1'").arg(id));
    QString error;
    if (!host.loadPlugin(pluginPath, &error))
        return fail(error);
    QObject* root = host.pluginRoot();

    if (sub == QLatin1String("show")) {
        QVariant text;
        if (!QMetaObject::invokeMethod(root, "showScript", Qt::DirectConnection, Q_RETURN_ARG(QVariant, text),
                                       Q_ARG(QString, id)))
            return fail(QStringLiteral("the plug-in cannot show scripts"));
        if (text.typeId() == QMetaType::QString)
            return fail(text.toString(), 1);
        if (!text.isValid())
            return 1; // the message service has said why
        const QByteArray bytes = text.toByteArray();
        std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout);
        return 0;
    }

    if (!host.store().find(id))
        return fail(QStringLiteral("unknown event '%1'").arg(id));
    QFile file(args[2]);
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot read '%1': %2").arg(args[2], file.errorString()));
    const QByteArray text = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return fail(QStringLiteral("cannot read '%1': %2").arg(args[2], file.errorString()));
    if (!QMetaObject::invokeMethod(root, "importScript", Qt::DirectConnection, Q_RETURN_ARG(QString, error),
                                   Q_ARG(QString, id), Q_ARG(QByteArray, text)))
        return fail(QStringLiteral("the plug-in cannot import scripts"));
    if (!error.isEmpty())
        return fail(QStringLiteral("script of event %1 not saved: %2").arg(id, error), 1);
    out(QStringLiteral("script of event %1 saved").arg(id));
    return 0;
}

// The platform the window would use has nothing to show it on.
bool noDisplay()
{
    return qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
           qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

// The events window lives in its own library beside this one, so that the
// commands never load the widgets.
int runWindow(int& argc, char** argv, const QString& dataFolder, const QString& pluginPath)
{
    static const char anchor = 0;
    const std::string path = zul::platform::folderOfAddress(&anchor) + "/libqorvhost_window.so";
    using Main = int (*)(int*, char**, const char*, const char*);
    const auto main = reinterpret_cast<Main>(zul::platform::loadSymbol(path, "qorvhost_window_main"));
    if (!main)
        return fail(QStringLiteral("cannot load the events window's library '%1'").arg(QString::fromStdString(path)));
    return main(&argc, argv, QFile::encodeName(dataFolder).constData(), QFile::encodeName(pluginPath).constData());
}

std::vector<std::string> toStd(const QStringList& list)
{
    std::vector<std::string> out;
    for (const QString& s : list)
        out.push_back(s.toLocal8Bit().toStdString());
    return out;
}

// The runner's own exit status; one that ended without telling it failed.
int waitForRunner(RunnerWait& waiter, const QString& id)
{
    std::fflush(stdout);
    const auto status = waiter.wait();
    if (!status)
        return fail(QStringLiteral("the runner of event %1 ended without an exit status (killed?); see "
                                   "'qorvhost history %1'")
                        .arg(id),
                    9);
    out(QStringLiteral("event %1: the FTP runner ended with exit status %2").arg(id).arg(*status));
    return *status;
}

} // namespace

extern "C" Q_DECL_EXPORT int qorvhost_app_main(int argc, char** argv)
{
    // The command line is read before any application object: --help and
    // --version need no display, and the window without one ends cleanly.
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    QString dataFolder;
    QString pluginPath;
    bool yes = false;
    while (!args.isEmpty() && args.first().startsWith(QLatin1String("--"))) {
        const QString opt = args.takeFirst();
        if (opt == QLatin1String("--yes")) {
            yes = true;
        } else if ((opt == QLatin1String("--data") || opt == QLatin1String("--plugin")) && !args.isEmpty()) {
            (opt == QLatin1String("--data") ? dataFolder : pluginPath) = args.takeFirst();
        } else if (opt == QLatin1String("--help")) {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (opt == QLatin1String("--version")) {
            std::printf("qorvhost %s\n", ZUL_VERSION);
            return 0;
        } else {
            std::fputs(kUsage, stderr);
            return fail(QStringLiteral("unknown option '%1'").arg(opt));
        }
    }

    if (args.isEmpty() && noDisplay())
        return fail(QStringLiteral("no display for the events window: set DISPLAY (or "
                                   "QT_QPA_PLATFORM=offscreen), or give a command (qorvhost --help)"));
    if (dataFolder.isNull())
        dataFolder = defaultDataFolder();
    if (pluginPath.isNull())
        pluginPath = defaultPluginPath();
    if (args.isEmpty())
        return runWindow(argc, argv, dataFolder, pluginPath);
    // No application object: the commands have no window to keep alive and
    // read no Qt setting, and its set-up would cost every scheduled run. The
    // C library keeps the C locale, as in the runner.
    const QString command = args.takeFirst();
    if (command == QLatin1String("history") || command == QLatin1String("transcript")) {
        const std::string data = QFile::encodeName(dataFolder).toStdString();
        const std::string plugin = QFile::encodeName(pluginPath).toStdString();
        return command == QLatin1String("history") ? zul::history::historyCommand(data, plugin, toStd(args))
                                                   : zul::history::transcriptCommand(data, plugin, toStd(args));
    }
    Host host(dataFolder, std::make_shared<HeadlessPresenter>(yes));
    QString error;

    if (command == QLatin1String("info")) {
        if (!host.loadPlugin(pluginPath, &error))
            return fail(error);
        auto feature = host.createFeature();
        if (!feature)
            return fail(QStringLiteral("the plug-in's public class cannot be created"));
        out(QStringLiteral("FeatureType: ") + QString::fromStdString(feature->FeatureType()));
        out(QStringLiteral("FeatureSummary: ") + QString::fromStdString(feature->FeatureSummary()));
        out(QStringLiteral("ApplicationFolder: ") + host.pluginApplicationFolder());
        return 0;
    }
    if (command == QLatin1String("log"))
        return printLog(host);

    if (!host.openStore(&error))
        return fail(error);

    if (command == QLatin1String("event")) {
        const QString sub = args.value(0);
        const QString id = args.value(1);
        if (sub == QLatin1String("list")) {
            for (const auto& r : host.store().list())
                out(describe(r));
            return 0;
        }
        if (sub == QLatin1String("show")) {
            const auto r = host.store().find(id);
            if (!r)
                return fail(QStringLiteral("unknown event '%1'").arg(id));
            out(describe(*r));
            return 0;
        }
        if (sub == QLatin1String("put"))
            return eventPut(host, args.mid(1));
        if (sub == QLatin1String("delete")) {
            if (!host.store().remove(id))
                return fail(QStringLiteral("unknown event '%1'").arg(id));
            return 0;
        }
        return fail(QStringLiteral("unknown event command '%1'").arg(sub));
    }

    if (command == QLatin1String("script"))
        return script(host, pluginPath, args);

    if (command == QLatin1String("run")) {
        const QString id = args.value(0);
        const bool direct = args.contains(QLatin1String("--direct"));
        const auto r = host.store().find(id);
        if (!r)
            return fail(QStringLiteral("unknown event '%1'").arg(id));
        if (!host.loadPlugin(pluginPath, &error))
            return fail(error);
        auto feature = host.createFeature();
        if (!feature)
            return fail(QStringLiteral("the plug-in's public class cannot be created"));
        auto event = toEventStruct(*r);
        std::int32_t mode = static_cast<std::int32_t>(direct ? zul::com::RunMode::DirectExecution
                                                              : zul::com::RunMode::ViaSchedule);
        const bool wait = args.contains(QLatin1String("--wait"));
        RunnerWait waiter;
        if (std::string why; wait && !waiter.prepare(&why))
            return fail(QString::fromStdString(why));
        const auto before = zul::com::runsWithoutScript().count;
        const bool started = feature->Execution(mode, event);
        waiter.handedOver();
        if (const auto after = zul::com::runsWithoutScript(); started && after.count != before) {
            // The runner only records the failure: nothing was handed to it.
            out(fromCodePage(after.last));
            return wait ? waitForRunner(waiter, id) : 1;
        }
        out(started ? QStringLiteral("event %1 handed to the FTP runner").arg(id)
                    : QStringLiteral("event %1 not started; see 'qorvhost log'").arg(id));
        if (wait && started)
            return waitForRunner(waiter, id);
        return started ? 0 : 1;
    }

    std::fputs(kUsage, stderr);
    return fail(QStringLiteral("unknown command '%1'").arg(command));
}
