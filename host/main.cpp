// yxa-host: a small stand-in for the host server. It loads the plug-ins the way
// the real host does and runs them until a signal or --run-for ends it.

#include "configcommand.h"
#include "hostconfig.h"
#include "queueinspector.h"
#include "hostservice.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QTimer>

#include <cstdio>

namespace {
void logToStderr(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const char *level = "debug";
    switch (type) {
    case QtDebugMsg: level = "debug"; break;
    case QtInfoMsg: level = "info"; break;
    case QtWarningMsg: level = "warning"; break;
    case QtCriticalMsg: level = "critical"; break;
    case QtFatalMsg: level = "fatal"; break;
    }
    const QByteArray stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")).toUtf8();
    const char *category = context.category ? context.category : "default";
    std::fprintf(stderr, "%s [%s] %s: %s\n", stamp.constData(), level, category, message.toUtf8().constData());
    std::fflush(stderr);
}

int fail(const QString &message, int code = 1)
{
    std::fprintf(stderr, "yxa-host: %s\n", qUtf8Printable(message));
    return code;
}

QString defaultPluginDir()
{
    // The build tree keeps plug-ins in ../plugins; an installed tree (whatever
    // its prefix) in ../<libdir>/yxa/plugins beside the binary.
    const QDir binDir(QCoreApplication::applicationDirPath());
    const QStringList candidates { binDir.absoluteFilePath(QStringLiteral("../plugins")),
                                   binDir.absoluteFilePath(QStringLiteral("../" YXA_INSTALL_LIBDIR "/yxa/plugins")) };
    for (const QString &candidate : candidates) {
        if (QFileInfo(candidate).isDir())
            return QDir::cleanPath(candidate);
    }
    return QStringLiteral(YXA_INSTALLED_PLUGIN_DIR);
}
// --status and --requeue: read and reset queues the way the host connects,
// without starting any plug-in.
int inspect(const QCommandLineParser &parser, const HostConfig &config, const QCommandLineOption &statusOption,
    const QCommandLineOption &jsonOption, const QCommandLineOption &requeueOption,
    const QCommandLineOption &midOption, const QCommandLineOption &failedSinceOption)
{
    QueueInspector inspector(config);
    QString error;
    if (parser.isSet(statusOption)) {
        QList<QueueInspector::Tenant> tenants;
        if (!inspector.status(&tenants, &error))
            return fail(error);
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        const QByteArray text = parser.isSet(jsonOption) ? QueueInspector::formatJson(tenants, now)
                                                         : QueueInspector::formatTable(tenants).toUtf8();
        std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
        return 0;
    }
    if (parser.isSet(midOption) && parser.isSet(failedSinceOption))
        return fail(QStringLiteral("--mid and --failed-since do not go together"), 2);
    QList<uint> mids;
    if (parser.isSet(midOption)) {
        const QStringList parts = parser.value(midOption).split(QLatin1Char(','), Qt::SkipEmptyParts);
        for (const QString &part : parts) {
            bool ok = false;
            const uint mid = part.trimmed().toUInt(&ok);
            if (!ok || mid == 0)
                return fail(QStringLiteral("--mid takes mail numbers separated by commas, not '%1'").arg(part), 2);
            mids << mid;
        }
        if (mids.isEmpty())
            return fail(QStringLiteral("--mid takes mail numbers separated by commas"), 2);
    }
    qint64 since = 0;
    if (parser.isSet(failedSinceOption)) {
        since = QueueInspector::parseDuration(parser.value(failedSinceOption));
        if (since <= 0)
            return fail(QStringLiteral("--failed-since takes a duration such as 90s, 30m, 2h or 7d"), 2);
    }
    QueueInspector::Requeue result;
    const bool ok = inspector.requeue(parser.value(requeueOption), mids, since, &result, &error);
    std::printf("%d mails queued again\n", result.reset);
    for (auto it = result.refused.cbegin(); it != result.refused.cend(); ++it)
        std::printf("mid %u left as it is: %s\n", it.key(), qUtf8Printable(it.value()));
    std::fflush(stdout);
    return ok ? 0 : fail(error);
}
} // namespace

int main(int argc, char *argv[])
{
    // A server has no display: paint (PDFs) offscreen unless told otherwise.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // The plug-ins derive their data directory (/etc/yxa) from this name.
    QCoreApplication::setApplicationName(QStringLiteral("yxa"));
    qInstallMessageHandler(logToStderr);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Runs the yxa plug-ins (mailing, tablora) as the host server does."));
    parser.addHelpOption();
    const QCommandLineOption configOption(QStringLiteral("config"), QStringLiteral("Host configuration (ini)."),
                                          QStringLiteral("FILE"), QStringLiteral("/etc/yxa/host.ini"));
    const QCommandLineOption pluginsOption(QStringLiteral("plugins"), QStringLiteral("Directory of the plug-ins."),
                                           QStringLiteral("DIR"));
    const QCommandLineOption debugOption(QStringLiteral("debug-level"),
                                         QStringLiteral("Debug level handed to the plug-ins (0, 1, 2)."),
                                         QStringLiteral("N"));
    const QCommandLineOption runForOption(QStringLiteral("run-for"), QStringLiteral("Stop after this many seconds."),
                                          QStringLiteral("SECONDS"));
    const QCommandLineOption checkOption(QStringLiteral("check-config"),
        QStringLiteral("Check host.ini and yxa.ini, print the settings in effect "
                       "and exit (1 on errors)."));
    const QCommandLineOption connectOption(QStringLiteral("connect"),
        QStringLiteral("With --check-config: also log into the databases."));

    const QCommandLineOption statusOption(QStringLiteral("status"),
        QStringLiteral("Print every tenant's mail queue and which host serves it, then exit."));
    const QCommandLineOption jsonOption(QStringLiteral("json"), QStringLiteral("With --status: JSON instead of a table."));
    const QCommandLineOption requeueOption(QStringLiteral("requeue"),
        QStringLiteral("Reset a tenant's failed mails (E, B, R) for sending again, then exit."),
        QStringLiteral("TENANT"));
    const QCommandLineOption midOption(QStringLiteral("mid"), QStringLiteral("With --requeue: only these mails."),
        QStringLiteral("N[,N...]"));
    const QCommandLineOption failedSinceOption(QStringLiteral("failed-since"),
        QStringLiteral("With --requeue: only mails that failed within this time (90s, 30m, 2h, 7d)."),
        QStringLiteral("DURATION"));
    parser.addOptions({ configOption, pluginsOption, debugOption, runForOption, checkOption, connectOption,
        statusOption, jsonOption, requeueOption, midOption, failedSinceOption });
    if (!parser.parse(QCoreApplication::arguments()))
        return fail(parser.errorText(), 2);
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()), 2);

    const QString pluginDir
        = parser.isSet(pluginsOption) ? parser.value(pluginsOption) : defaultPluginDir();
    if (parser.isSet(connectOption) && !parser.isSet(checkOption))
        return fail(QStringLiteral("--connect goes with --check-config"), 2);
    if (parser.isSet(checkOption))
        return ConfigCommand::run(
            parser.value(configOption), pluginDir, parser.isSet(connectOption));

    HostConfig config;
    QString error;
    if (!config.load(parser.value(configOption), &error))
        return fail(error);
    int debugOverride = -1;
    if (parser.isSet(debugOption)) {
        bool ok = false;
        debugOverride = parser.value(debugOption).toInt(&ok);
        if (!ok || debugOverride < 0 || debugOverride > 255)
            return fail(QStringLiteral("--debug-level takes a number from 0 to 255"), 2);
    }
    if (parser.isSet(statusOption) || parser.isSet(requeueOption))
        return inspect(parser, config, statusOption, jsonOption, requeueOption, midOption, failedSinceOption);
    int runFor = 0;
    if (parser.isSet(runForOption)) {
        bool ok = false;
        runFor = parser.value(runForOption).toInt(&ok);
        if (!ok || runFor <= 0)
            return fail(QStringLiteral("--run-for takes a positive number of seconds"), 2);
    }

    HostService host(parser.value(configOption), config, pluginDir, debugOverride);
    if (!host.start(&error))
        return fail(error);
    if (runFor > 0)
        QTimer::singleShot(runFor * 1000, &app, [&app] {
            qInfo("yxa-host: --run-for elapsed, stopping");
            app.quit();
        });
    // Non-zero when the plug-ins, started late, all refused to start.
    const int code = app.exec();
    host.shutdown();
    qInfo("yxa-host: stopped");
    return code;
}
