#pragma once

#include "dbschemerecord.h"

#include <QHash>
#include <QMutex>
#include <QSqlDatabase>
#include <QStringList>
#include <QVector>
#include <QWaitCondition>

#include <functional>

// The host's one manager of the information database (table `schemas`), the
// central KEX database and the per-thread tenant connections. The host creates
// it and hands it to every plug-in; plug-ins never create one.
//
// Thread safety: every operation documented as locking holds one non-recursive
// mutex for its whole duration, SQL round trips included, so a slow server
// stalls all callers. A tenant connection returned by getDatabase() is named
// after the calling thread and must be used only by that thread.
class DBManager
{
public:
    DBManager();
    DBManager(QSqlDatabase infoDB, QSqlDatabase kexDB);

    void init();

    void setDebugLevel(unsigned char level) { debugLevel = level; }

    void setInfoDB(const QSqlDatabase &db);
    QSqlDatabase getInfoDB() const;
    void setKexDB(const QSqlDatabase &db);
    QSqlDatabase getKexDB() const;
    bool isInfoDB() const;
    void setCloseInfoDB(bool close);

    // Callers hold the mutex (all locking operations do); the host calling it
    // directly must serialise itself.
    bool checkOpenDB(QSqlDatabase &db);

    unsigned tokensCount(bool enabled);
    QStringList loadTokens(unsigned limit, unsigned offset);
    QStringList loadTokens4Maintenance(unsigned short limit);
    QStringList loadTokens4Recalculate(unsigned short limit);
    bool setMaintenance(const QString &token);
    bool setRecalculated(const QString &token);
    QString getTokenBySchemaName(const QString &name);

    DBSchemeRecord loadScheme(const QString &token);
    DBSchemeRecord getDbConnRecord(const QString &token) const;
    QString getConnectionNameFromToken(const QString &token) const;
    bool isDatabase(const QString &token) const;
    bool isConnection(const QString &token) const;
    bool connectionIsActive(const QString &connectionName);
    QSqlDatabase getDatabase(const QString &token);
    // The tenant's connection as getDatabase() registers it, but not opened:
    // a scan that tests schemas side by side opens them elsewhere. Invalid
    // when the schema has no usable account.
    QSqlDatabase tenantConnection(const QString &token);
    // The records of the enabled schemas among tokens, in one query.
    QHash<QString, DBSchemeRecord> loadSchemes(const QStringList &tokens);

    void addUnusedConnection(const QString &connectionName);
    void setUnusedConnectionsEnabled(bool enabled);
    void removeUnusedConnections();

    // Runs work on the information database under the manager's lock, after
    // opening it when needed; false when it cannot be opened or work fails.
    bool withInfoDB(const std::function<bool(QSqlDatabase &)> &work);

    // Host-wide limits that every plug-in on this host shares.
    void setMaxConnections(int count);
    int maxConnections() const;
    void setLeaseSeconds(int secondsValue) { leaseSecondsValue = qMax(secondsValue, 10); }
    int leaseSeconds() const { return leaseSecondsValue; }

    // The budget of tenant connections this host holds open at once, across
    // every plug-in (the information and KEX databases are not counted).
    // acquireConnection waits up to waitMs for a free one; every true result
    // is paired with one releaseConnection when the connection is closed.
    // When the budget cannot carry the work, one warning a minute says so.
    bool acquireConnection(int waitMs = 0);
    void releaseConnection();
    int connectionsInUse() const;
    int connectionsPeak() const;

    unsigned char debugLevel = 0;

private:
    bool isMasterName(const QString &name) const;
    // The tenant's connection under name, set up but not opened (mutex held).
    QSqlDatabase configureTenant(const QString &name, const DBSchemeRecord &record);
    QStringList loadTokenList(const QString &sql, const char *failureText);
    void closeInfoIfWanted();

    QHash<QString, DBSchemeRecord> schemes;
    QSqlDatabase infoDB;
    QSqlDatabase kexDB;
    QVector<QString> connections;
    QVector<QString> unusedConnections;
    bool closeInfoDB = false;
    bool infoDBOpen = false;
    QString kexConnectionName;
    QString infoConnectionName;
    mutable QMutex mutex;
    QHash<QString, qint64> maintenanceStamps;
    bool unusedConnectionsEnabled = true;
    // The budget has a lock of its own: it is asked before every pass of
    // every worker and must not wait behind a slow information database.
    mutable QMutex budgetMutex;
    QWaitCondition budgetFreed;
    int maxConnectionCount = 32;
    int connectionsUsed = 0;
    int connectionsMax = 0;
    unsigned budgetRefusals = 0;
    qint64 budgetWarnedAt = 0;
    int leaseSecondsValue = 60;
};
