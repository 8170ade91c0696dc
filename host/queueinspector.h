#pragma once

#include "hostconfig.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

// What an operator asks of the mail queues without writing SQL: the state of
// every enabled tenant's `emails` table (`yxa-host --status`) and the reset of
// failed rows for sending again (`yxa-host --requeue`). It connects as the
// host does: the information database from host.ini, each tenant with the
// account its `schemas` row names, at most `lanes` tenants side by side (one
// connection each, within the host's budget).
class QueueInspector
{
public:
    // One tenant's queue at the moment it was read.
    struct Tenant
    {
        QString token;
        QString schema;
        // Empty when the tenant could be read; else the server's words.
        QString error;
        int pending = 0;
        // Failed for a moment, waiting for their next attempt.
        int waiting = 0;
        // Out at a transport right now (claimed by a host).
        int inFlight = 0;
        // Final in the last 24 hours: 'E', 'B', 'R'.
        int failedE = 0;
        int failedB = 0;
        int failedR = 0;
        // Seconds the oldest pending mail waits, -1 when none is pending.
        qint64 oldestPendingAge = -1;
        // Unix time of the last 'S', -1 when none.
        qint64 lastSent = -1;
        // Plug-in -> the host ("name:pid") holding the tenant's lease now.
        QMap<QString, QString> holders;
    };

    struct Requeue
    {
        int reset = 0;
        // mid -> why it was left as it is.
        QMap<uint, QString> refused;
    };

    explicit QueueInspector(const HostConfig &config);
    ~QueueInspector();

    // False with *error when the information database cannot be read.
    bool status(QList<Tenant> *tenants, QString *error);
    // Resets the tenant's failed rows ('E', 'B', 'R'): the listed ones, or
    // those that ended within the last failedSince seconds (all of them
    // when both are empty). Rows that are pending, out or waiting for a
    // retry are refused. The tenant is named by token or schema name.
    bool requeue(const QString &tenant, const QList<uint> &mids, qint64 failedSince, Requeue *result,
        QString *error);

    // A table for a terminal of 80 columns, totals at the end.
    static QString formatTable(const QList<Tenant> &tenants);
    // One JSON document: {"tenants": [...], "totals": {...}}; keys are stable.
    static QByteArray formatJson(const QList<Tenant> &tenants, qint64 now);
    // "90s", "30m", "2h", "7d" or plain seconds; -1 when unreadable.
    static qint64 parseDuration(const QString &text);

private:
    struct Account
    {
        QString token;
        QString name;
        QString user;
        QString pass;
    };

    bool openInfo(QString *error);
    QList<Account> accounts(const QString &only, QString *error);
    QMap<QString, QMap<QString, QString>> leaseHolders();
    void readTenant(const Account &account, Tenant *tenant, const QString &connectionName) const;
    QString tenantConnection(const Account &account, const QString &connectionName) const;

    HostConfig config;
    QString infoName;
    int lanes = 1;
};
