#include "hostservice.h"

#include "datadirhelper.h"
#include "metricsserver.h"
#include "pluginhost.h"
#include "systemdnotifier.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

Q_DECLARE_LOGGING_CATEGORY(lcHost)

namespace {
int signalPipe[2] = { -1, -1 };

void onSignalNumber(int number)
{
    const char byte = char(number);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

bool wantsMailing(const HostConfig &config)
{
    return config.plugins.contains(QStringLiteral("mailing"));
}
} // namespace

HostService::HostService(
    QString file, HostConfig hostConfig, QString dir, int debugLevelOverride, QObject *parent)
    : QObject(parent)
    , configFile(std::move(file))
    , config(std::move(hostConfig))
    , pluginDir(std::move(dir))
    , debugOverride(debugLevelOverride)
{
    if (debugOverride >= 0)
        config.debugLevel = debugOverride;
    MetricsRegistry::install(&registry);
}

HostService::~HostService()
{
    shutdown();
    MetricsRegistry::install(nullptr);
}

QString HostService::yxaIniPath()
{
    return DataDirHelper::getDataDir(false, QString()) + QStringLiteral("/yxa.ini");
}

void HostService::report(const ConfigCheck &check, bool withValues)
{
    for (const ConfigCheck::Problem &problem : check.problems())
        qCWarning(lcHost).noquote() << "yxa-host:" << problem.text;
    if (!withValues)
        return;
    for (const QString &line : check.effectiveLines())
        qCInfo(lcHost).noquote() << "yxa-host: setting" << line;
}

bool HostService::start(QString *error)
{
    notifier = std::make_unique<SystemdNotifier>();
    if (!installSignals(error))
        return false;
    if (config.reading)
        report(*config.reading, true);
    if (wantsMailing(config)) {
        yxaIni = std::make_unique<ConfigCheck>(QStringLiteral("yxa.ini"), yxaIniPath());
        if (!yxaIni->exists()) {
            const ConfigCheck &ini = *yxaIni;
            const QString group = QStringLiteral("MailingPlugin");
            const QString key = ini.isGiven(group, QStringLiteral("apiKey"))
                ? QStringLiteral("the API key of MAILINGPLUGIN_APIKEY")
                : QStringLiteral("the API key built into the plug-in");
            qCWarning(lcHost).noquote() << QStringLiteral(
                "yxa-host: %1 does not exist: the mailing plug-in runs on defaults and the "
                "environment (interval %2 s, checkInterval %3 s, apiUrl %4, requestTimeout %5 s, "
                "mailsPerPass %6) with %7")
                                               .arg(ini.fileName(),
                                                   ini.text(group, QStringLiteral("interval")),
                                                   ini.text(group, QStringLiteral("checkInterval")),
                                                   ini.text(group, QStringLiteral("apiUrl")),
                                                   ini.text(
                                                       group, QStringLiteral("requestTimeout")),
                                                   ini.text(group, QStringLiteral("mailsPerPass")),
                                                   key);
        }
        report(*yxaIni, true);
    }

    registry.set("yxa_build_info",
        { { "version", QByteArrayLiteral(YXA_VERSION) }, { "qt_version", QByteArray(qVersion()) } },
        1);
    plugins = std::make_unique<PluginHost>(config, pluginDir);
    connect(plugins.get(), &PluginHost::started, this,
        [this] { notifier->ready(QStringLiteral("the plug-ins run")); });
    startMetrics();
    if (!plugins->start(error))
        return false;
    return true;
}

void HostService::startMetrics()
{
    if (config.metricsListen.isEmpty())
        return;
    HealthCheck health;
    health.expectInfoDB = config.infoDb.isSet();
    health.plugins = config.plugins;
    health.leaseSeconds = config.leaseSeconds;
    metricsServer = std::make_unique<MetricsServer>(&registry, health);
    QString why;
    if (!metricsServer->start(config.metricsListen, &why)) {
        // Several hosts may share a machine; the host runs on without it.
        qCWarning(lcHost).noquote() << "yxa-host: metrics and health are not served on"
                                    << config.metricsListen << "-" << why;
        metricsServer.reset();
        return;
    }
    qCInfo(lcHost).noquote() << "yxa-host: metrics on http://" + config.metricsListen
            + "/metrics, health on /healthz";
}

void HostService::shutdown()
{
    if (!plugins && !metricsServer)
        return;
    if (notifier)
        notifier->stopping();
    if (plugins)
        plugins->shutdown();
    plugins.reset();
    metricsServer.reset();
}

bool HostService::installSignals(QString *error)
{
    if (signalPipe[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0) {
        *error = QStringLiteral("cannot create the signal pipe");
        return false;
    }
    signalNotifier = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
    connect(signalNotifier.get(), &QSocketNotifier::activated, this, &HostService::onSignal);
    struct sigaction action
    {
    };
    action.sa_handler = onSignalNumber;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    return true;
}

void HostService::onSignal()
{
    char byte = 0;
    if (::read(signalPipe[0], &byte, 1) != 1)
        return;
    if (byte == SIGHUP) {
        reload();
        return;
    }
    qInfo("yxa-host: signal received, stopping");
    QCoreApplication::quit();
}

void HostService::reload()
{
    notifier->reloading();
    qCInfo(lcHost).noquote() << "yxa-host: reloading" << configFile
                             << (wantsMailing(config) ? QStringLiteral("and ") + yxaIniPath()
                                                      : QString());
    HostConfig next;
    QString error;
    if (!next.load(configFile, &error)) {
        qCWarning(lcHost).noquote()
            << "yxa-host: reload:" << error << "- the settings in effect stay";
        notifier->ready(QStringLiteral("the plug-ins run"));
        return;
    }
    report(*next.reading, false);
    const QStringList hostChanges = next.reading->changesSince(*config.reading);
    for (const QString &line : hostChanges)
        qCInfo(lcHost).noquote() << "yxa-host: reload:" << line;
    if (debugOverride >= 0 && next.debugLevel != debugOverride) {
        qCInfo(lcHost) << "yxa-host: reload: --debug-level" << debugOverride << "stays in effect";
        next.debugLevel = debugOverride;
    }
    int changed = hostChanges.size();
    if (wantsMailing(config)) {
        auto nextIni = std::make_unique<ConfigCheck>(QStringLiteral("yxa.ini"), yxaIniPath());
        report(*nextIni, false);
        if (yxaIni) {
            const QStringList iniChanges = nextIni->changesSince(*yxaIni);
            for (const QString &line : iniChanges)
                qCInfo(lcHost).noquote() << "yxa-host: reload:" << line;
            changed += iniChanges.size();
        }
        yxaIni = std::move(nextIni);
    }
    if (changed == 0)
        qCInfo(lcHost, "yxa-host: reload: no setting changed");
    // Only what can change at run time is taken over; the rest stays as it
    // started, and its change was logged as needing a restart.
    config.reading = next.reading;
    config.debugLevel = next.debugLevel;
    config.infoDBRetry = next.infoDBRetry;
    if (plugins)
        plugins->applyReload(config);
    notifier->ready(QStringLiteral("the plug-ins run"));
}
