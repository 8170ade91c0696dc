#pragma once

#include "configcheck.h"
#include "hostconfig.h"
#include "metricsregistry.h"

#include <QObject>
#include <QSocketNotifier>
#include <memory>

class MetricsServer;
class PluginHost;
class SystemdNotifier;

// yxa-host as a service: the plug-ins (PluginHost), the metrics and health
// listener, systemd notifications, and the signals. SIGINT and SIGTERM stop
// the event loop; SIGHUP reads host.ini and yxa.ini again, logs every value
// that changed and hands the run-time settings to the plug-ins. Signal
// handlers only write the signal's number into a socket pair; the work runs
// in the event loop.
class HostService : public QObject
{
    Q_OBJECT

public:
    // debugOverride: the --debug-level given on the command line, else -1.
    HostService(QString configFile, HostConfig config, QString pluginDir, int debugOverride,
        QObject *parent = nullptr);
    ~HostService() override;

    bool start(QString *error);
    // Tells systemd, then stops the plug-ins and the listener.
    void shutdown();

    // The path of the mailing plug-in's yxa.ini as the plug-in finds it.
    static QString yxaIniPath();
    // Logs the problems of a reading, and the values in effect when asked.
    static void report(const ConfigCheck &check, bool withValues);

public slots:
    void reload();

private:
    bool installSignals(QString *error);
    void onSignal();
    void startMetrics();

    QString configFile;
    HostConfig config;
    QString pluginDir;
    int debugOverride = -1;
    std::unique_ptr<ConfigCheck> yxaIni;
    MetricsRegistry registry;
    std::unique_ptr<PluginHost> plugins;
    std::unique_ptr<MetricsServer> metricsServer;
    std::unique_ptr<SystemdNotifier> notifier;
    std::unique_ptr<QSocketNotifier> signalNotifier;
};
