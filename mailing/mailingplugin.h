#pragma once

#include "databasemanagerinterface.h"
#include "mandrillapisettings.h"
#include "reloadinterface.h"
#include "retryschedule.h"
#include "serverinterface.h"
#include "verinfointerface.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QSqlDatabase>
#include <QString>
#include <QThread>
#include <QTimer>

class EnviroSettings;
class MailingPluginWorker;
class TenantSharing;

// The mailing plug-in's main object, loaded by the host.
//
// Multi-tenant mode (the manager has an information database): a schema
// timer ("checkInterval", first scan 1 s after start()) pages through the
// enabled schemas and gives every schema with pending mail one
// MailingPluginWorker, once this host holds the tenant's lease (see
// TenantSharing: hosts over one information database share the tenants and
// take over those of a host that died). Workers share a pool of threads
// ("MailingPlugin_<n>") and hold a connection of the host's budget only
// while they work. A worker goes when another host took its tenant over.
// Single-database mode: one worker on the KEX database.
//
// Settings come from "<data dir>/yxa.ini", group "MailingPlugin", and can be
// supplied by environment variables (MAILINGPLUGIN_<KEY>) when the file lacks
// them. Destroying the plug-in asks every worker thread to quit and waits
// for it (10 s at most each) before anything is forced.
class MailingPlugin : public QObject,
                      public ServerInterface,
                      public DatabaseManagerInterface,
                      public VerInfoInterface,
                      public ReloadInterface
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "com.velkor.yxa.ServerInterface" FILE "mailingplugin.json")
    Q_INTERFACES(ServerInterface DatabaseManagerInterface VerInfoInterface ReloadInterface)

public:
    explicit MailingPlugin(QObject *parent = nullptr);
    ~MailingPlugin() override;

    QString getVersion() const override;
    QMap<QString, QString> getVerInfo() const override;

    bool start() override;
    void stop() override;
    void pause() override;
    void resume() override;
    void setDebugLevel(unsigned char level) override;
    // Reads yxa.ini again; intervals, API and pass settings and the debug
    // level reach the running workers.
    void reloadSettings() override;

    // What the ini file gave, and seams for tests and embedders: the worker
    // poll interval is taken as it is (no 5 s floor) when set here.
    uint getWorkerInterval() const { return workerInterval; }
    void setWorkerInterval(uint ms) { workerInterval = ms; }
    int getSchemaTimerInterval() const { return schemaTimer.interval(); }
    bool isSchemaTimerActive() const { return schemaTimer.isActive(); }
    MandrillApiSettings getApiSettings() const { return apiSettings; }
    uint getMailsPerPass() const { return mailsPerPass; }
    uint getPassSeconds() const { return passSeconds; }
    const RetrySchedule &getRetrySchedule() const { return retrySchedule; }
    uint getHistoryDays() const { return historyDays; }
    void setApiSettings(const MandrillApiSettings &settings) { apiSettings = settings; }
    QString settingsFileName() const;
    QList<QThread *> workerThreads() const;
    QStringList workerTokens() const { return workers.keys(); }
    bool hasSingleDatabaseWorker() const { return singleWorker != nullptr; }
    QThread *singleDatabaseThread() { return &singleThread; }

private slots:
    void checkSchemas();

private:
    void readSettings();
    void endThread(QThread *thread);
    // Gives a tested tenant a worker when this host may serve it.
    void serveTenant(const QString &token);
    int scanLanes() const;
    void retireWorker(const QString &token);
    // Retires every worker and waits a while for what they have in flight.
    void drainWorkers();

    uint workerInterval = 10000;
    QTimer schemaTimer;
    QMap<QString, MailingPluginWorker *> workers;
    TenantSharing *sharing = nullptr;
    QThread singleThread;
    EnviroSettings *settings = nullptr;
    // The first scan after start(); a member so that stop() can cancel it.
    QTimer firstScanTimer;
    MandrillApiSettings apiSettings;
    // Defaults of every worker's pass; a tenant's `vars` may choose its own.
    uint mailsPerPass = 1;
    uint passSeconds = 30;
    RetrySchedule retrySchedule;
    uint historyDays = 30;
    MailingPluginWorker *singleWorker = nullptr;
};
