#pragma once

#include "databasemanagerinterface.h"
#include "serverinterface.h"
#include "verinfointerface.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QSqlDatabase>

class QThread;
class QTimer;
class TabloraWorker;
class TenantSharing;

// The catering plug-in's main object, loaded by the host.
//
// Multi-tenant mode (the database manager has an information database): a
// scan 1 s after start() and then every hour gives each enabled schema that
// has supplier send slots (cat_promailsdelay) one TabloraWorker, once this
// host holds the tenant's lease (see TenantSharing: hosts over one
// information database share the tenants, and take over those of a host
// that died). Workers share a pool of threads and open their connection only
// for a tick, within the host's connection budget. A worker goes when
// another host took its tenant over; the rest end when the plug-in is
// destroyed, which also hands the tenants to the other hosts.
//
// Single-database mode: one worker on the default database, on the host's
// thread; stop() deletes it, pause()/resume() stop and restart its timer.
class Tablora : public QObject,
                public ServerInterface,
                public DatabaseManagerInterface,
                public VerInfoInterface
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "com.velkor.yxa.ServerInterface" FILE "tablora.json")
    Q_INTERFACES(ServerInterface DatabaseManagerInterface VerInfoInterface)

public:
    explicit Tablora(QObject *parent = nullptr);
    ~Tablora() override;

    QString getVersion() const override;
    QMap<QString, QString> getVerInfo() const override;

    bool start() override;
    void stop() override;
    void pause() override;
    void resume() override;
    void setDatabase(const QSqlDatabase &db) override;

    // What the plug-in runs, for the host's diagnostics and the tests.
    TabloraWorker *singleWorker() const { return worker; }
    QMap<QString, TabloraWorker *> tenantWorkers() const { return workers; }
    QList<QThread *> workerThreads() const;
    QTimer *schemaTimer() const { return timer; }
    QSqlDatabase defaultDatabase() const { return database; }

private slots:
    void checkSchemas();
    TabloraWorker *createWorker(QSqlDatabase db);
    bool checkCatering(QSqlDatabase &db);
    void handleTimer();

private:
    // Gives a tested tenant a worker when this host may serve it.
    void serveTenant(const QString &token);
    void retireWorker(const QString &token);

    TabloraWorker *worker = nullptr;
    QTimer *timer = nullptr;
    QMap<QString, TabloraWorker *> workers;
    TenantSharing *sharing = nullptr;
};
