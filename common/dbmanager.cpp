#include "dbmanager.h"

#include "commonlogging.h"
#include "metricsregistry.h"
#include "sqlescape.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QMutexLocker>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QThread>

namespace {
const QString kKexMasterName = QStringLiteral("YXA.KEXDB");
const QString kInfoConnectionName = QStringLiteral("YXA.InfoDB");
const QString kConnectOptions = QStringLiteral("MYSQL_OPT_RECONNECT=1;CLIENT_IGNORE_SPACE=1");

QString defaultConnectionName()
{
    return QString::fromLatin1(QSqlDatabase::defaultConnection);
}

const char *boolText(bool value)
{
    return value ? "TRUE" : "FALSE";
}
} // namespace

DBManager::DBManager()
{
    init();
}

DBManager::DBManager(QSqlDatabase infoDB, QSqlDatabase kexDB)
    : infoDB(std::move(infoDB))
    , kexDB(std::move(kexDB))
{
    init();
}

void DBManager::init()
{
    closeInfoDB = false;
    infoDBOpen = false;
    debugLevel = 0;
    infoConnectionName = kInfoConnectionName;
}

void DBManager::setInfoDB(const QSqlDatabase &db)
{
    if (debugLevel > 0)
        qCDebug(lcCommon, "DBManager::setInfoDB(host: '%s', port: %i, database: '%s', connection: '%s')",
                qUtf8Printable(db.hostName()), db.port(), qUtf8Printable(db.databaseName()),
                qUtf8Printable(db.connectionName()));
    QMutexLocker locker(&mutex);
    infoDB = db;
    infoConnectionName = db.connectionName();
    checkOpenDB(infoDB);
}

QSqlDatabase DBManager::getInfoDB() const
{
    QMutexLocker locker(&mutex);
    return infoDB;
}

void DBManager::setKexDB(const QSqlDatabase &db)
{
    if (debugLevel > 0)
        qCDebug(lcCommon, "DBManager::setKexDB(host: '%s', port: %i, database: '%s', connection: '%s')",
                qUtf8Printable(db.hostName()), db.port(), qUtf8Printable(db.databaseName()),
                qUtf8Printable(db.connectionName()));
    QMutexLocker locker(&mutex);
    kexDB = db;
    kexConnectionName = db.connectionName();
}

QSqlDatabase DBManager::getKexDB() const
{
    QMutexLocker locker(&mutex);
    return kexDB;
}

bool DBManager::isInfoDB() const
{
    QMutexLocker locker(&mutex);
    if (debugLevel > 1)
        qCDebug(lcCommon, "DBManager::isInfoDB(): %s", boolText(infoDBOpen));
    return infoDBOpen;
}

void DBManager::setCloseInfoDB(bool close)
{
    QMutexLocker locker(&mutex);
    closeInfoDB = close;
}

bool DBManager::checkOpenDB(QSqlDatabase &db)
{
    if (db.isOpen()) {
        // A host may hand over an information database it opened itself; it is
        // usable all the same, and the plug-ins must not fall back to
        // single-database mode because of it.
        if (!db.connectionName().isEmpty() && db.connectionName() == infoConnectionName)
            infoDBOpen = true;
        return true;
    }
    const bool opened = db.open();
    if (!opened)
        qCWarning(lcCommon) << "DBManager:: database" << db.databaseName() << "can NOT open! ERROR:"
                            << db.lastError().driverText();
    if (!db.connectionName().isEmpty() && db.connectionName() == infoConnectionName)
        infoDBOpen = opened;
    return opened;
}

void DBManager::closeInfoIfWanted()
{
    if (closeInfoDB)
        infoDB.close();
}

unsigned DBManager::tokensCount(bool enabled)
{
    QMutexLocker locker(&mutex);
    if (debugLevel > 0)
        qCDebug(lcCommon, "DBManager::tokensCount(%s)", boolText(enabled));
    // Reopened like every other query: with closeInfoDB set, the query before
    // this one closed it, and a scan must still find the tenants.
    if (!checkOpenDB(infoDB))
        return 0;
    QSqlQuery query(infoDB);
    unsigned count = 0;
    if (!query.exec(QStringLiteral("SELECT COUNT(*) FROM `schemas` WHERE status = %1;").arg(enabled ? 1 : 0))) {
        qCCritical(lcCommon) << "DBManager::tokensCount() - ERROR:" << query.lastError().text();
        return 0;
    }
    if (query.next())
        count = query.value(0).toUInt();
    query.finish();
    closeInfoIfWanted();
    return count;
}

QStringList DBManager::loadTokenList(const QString &sql, const char *failureText)
{
    QStringList tokens;
    if (!checkOpenDB(infoDB))
        return tokens;
    QSqlQuery query(infoDB);
    if (!query.exec(sql)) {
        qCCritical(lcCommon) << failureText << query.lastError().text();
        return tokens;
    }
    while (query.next())
        tokens << query.value(0).toString();
    query.finish();
    closeInfoIfWanted();
    return tokens;
}

QStringList DBManager::loadTokens(unsigned limit, unsigned offset)
{
    QMutexLocker locker(&mutex);
    if (debugLevel > 0)
        qCDebug(lcCommon, "DBManager::loadTokens(limit: %u, offset: %u)", limit, offset);
    return loadTokenList(
        QStringLiteral("SELECT token FROM `schemas` WHERE status = 1 ORDER BY token, sid LIMIT %1, %2;")
            .arg(offset)
            .arg(limit),
        "DBManager::loadTokens NOT load schemas from infoDB!\nERROR:");
}

QStringList DBManager::loadTokens4Maintenance(unsigned short limit)
{
    QMutexLocker locker(&mutex);
    if (debugLevel > 0)
        qCDebug(lcCommon) << "DBManager::loadTokens4Maintenance(" << limit << ")";
    return loadTokenList(
        QStringLiteral("SELECT token FROM `schemas` WHERE status = 1 AND (maintenance IS NULL OR "
                       "maintenance + 900 < UNIX_TIMESTAMP()) ORDER BY maintenance, sid LIMIT %1;")
            .arg(limit),
        "DBManager:: NOT load schemas for maintenance from infoDB!\nERROR:");
}

QStringList DBManager::loadTokens4Recalculate(unsigned short limit)
{
    QMutexLocker locker(&mutex);
    if (debugLevel > 0)
        qCDebug(lcCommon) << "DBManager::loadTokens4Recalculate(" << limit << ")";
    return loadTokenList(
        QStringLiteral("SELECT token FROM `schemas` WHERE status = 1 ORDER BY recalc, sid LIMIT %1;").arg(limit),
        "DBManager:: NOT load schemas for recalculate from infoDB!\nERROR:");
}

bool DBManager::setMaintenance(const QString &token)
{
    QMutexLocker locker(&mutex);
    if (debugLevel > 0)
        qCDebug(lcCommon) << "DBManager::setMaintenance(" << token << ")";
    const qint64 last = maintenanceStamps.value(token, 0);
    if (QDateTime::currentMSecsSinceEpoch() <= last + 1000)
        return true;
    if (!checkOpenDB(infoDB))
        return false;
    QSqlQuery query(infoDB);
    bool result = false;
    if (!query.exec(QStringLiteral("UPDATE `schemas` SET maintenance = UNIX_TIMESTAMP() WHERE status = 1 AND token = '%1';")
                        .arg(SqlEscape::string(infoDB, token)))) {
        qCCritical(lcCommon) << "DBManager:: cannot set maintenance for token" << token << "!\nERROR:"
                             << query.lastError().text();
    } else {
        result = query.numRowsAffected() > 0;
    }
    closeInfoIfWanted();
    maintenanceStamps.insert(token, QDateTime::currentMSecsSinceEpoch());
    return result;
}

bool DBManager::setRecalculated(const QString &token)
{
    QMutexLocker locker(&mutex);
    if (debugLevel > 0)
        qCDebug(lcCommon) << "DBManager::setRecalculated(" << token << ")";
    if (!checkOpenDB(infoDB))
        return false;
    QSqlQuery query(infoDB);
    if (!query.exec(QStringLiteral("UPDATE `schemas` SET recalc = UNIX_TIMESTAMP() WHERE status = 1 AND token = '%1';")
                        .arg(SqlEscape::string(infoDB, token)))) {
        qCCritical(lcCommon) << "DBManager:: cannot set recalc of " << token << "!\nERROR:"
                             << query.lastError().text();
        return false;
    }
    const bool changed = query.numRowsAffected() > 0;
    closeInfoIfWanted();
    return changed;
}

QString DBManager::getTokenBySchemaName(const QString &name)
{
    QMutexLocker locker(&mutex);
    if (debugLevel > 0)
        qCDebug(lcCommon) << "DBManager::getTokenBySchemaName(" << name << ")";
    if (!checkOpenDB(infoDB))
        return QString();
    QSqlQuery query(infoDB);
    if (!query.exec(QStringLiteral("SELECT token FROM `schemas` WHERE status = 1 AND name = '%1' LIMIT 1;")
                        .arg(SqlEscape::string(infoDB, name)))) {
        qCCritical(lcCommon) << "DBManager:: NOT load scheme from infoDB!\nERROR:" << query.lastError().text();
        return QString();
    }
    QString token;
    if (query.next())
        token = query.value(QStringLiteral("token")).toString();
    query.finish();
    closeInfoIfWanted();
    return token;
}

DBSchemeRecord DBManager::loadScheme(const QString &token)
{
    DBSchemeRecord record;
    if (debugLevel > 0)
        qCDebug(lcCommon) << "DBManager::loadScheme(" << token << ")";
    if (!checkOpenDB(infoDB))
        return record;
    QSqlQuery query(infoDB);
    if (!query.exec(QStringLiteral("SELECT * FROM `schemas` WHERE status = 1 AND token = '%1' LIMIT 1;")
                        .arg(SqlEscape::string(infoDB, token)))) {
        qCCritical(lcCommon) << "DBManager:: NOT load scheme from infoDB!\nERROR:" << query.lastError().text();
    } else if (query.next()) {
        record.token = query.value(QStringLiteral("token")).toString();
        record.pass = DBSchemeRecord::decodePassword(query.value(QStringLiteral("pass")));
        record.user = query.value(QStringLiteral("user")).toString();
        record.name = query.value(QStringLiteral("name")).toString();
    }
    query.finish();
    closeInfoIfWanted();
    if (record.isUsable())
        schemes.insert(token, record);
    return record;
}

DBSchemeRecord DBManager::getDbConnRecord(const QString &token) const
{
    QMutexLocker locker(&mutex);
    return schemes.value(token);
}

QString DBManager::getConnectionNameFromToken(const QString &token) const
{
    return QStringLiteral("%2_dbc_%1")
        .arg(token, QString::asprintf("%p", static_cast<void *>(QThread::currentThreadId())));
}

bool DBManager::isDatabase(const QString &token) const
{
    QMutexLocker locker(&mutex);
    return QSqlDatabase::contains(getConnectionNameFromToken(token));
}

bool DBManager::isConnection(const QString &token) const
{
    QMutexLocker locker(&mutex);
    return connections.contains(getConnectionNameFromToken(token));
}

bool DBManager::connectionIsActive(const QString &connectionName)
{
    const QSqlDatabase db = QSqlDatabase::database(connectionName, false);
    return db.isValid() && db.isOpen();
}

QSqlDatabase DBManager::getDatabase(const QString &token)
{
    if (debugLevel > 1)
        qCDebug(lcCommon, "DBManager::getDatabase(%s)", qUtf8Printable(token));
    QMutexLocker locker(&mutex);
    if (token.isEmpty())
        return kexDB;

    const QString name = getConnectionNameFromToken(token);
    if (QSqlDatabase::contains(name))
        return QSqlDatabase::database(name, true);

    const DBSchemeRecord record = loadScheme(token);
    if (!record.isUsable())
        return QSqlDatabase::database(defaultConnectionName(), true);

    if (!connections.contains(name))
        connections.append(name);

    QSqlDatabase db = configureTenant(name, record);
    if (db.open())
        return db;

    qCWarning(lcCommon) << "DBManager:: database" << record.name << "(token:" << token << ") NOT OPEN!";
    if (db.lastError().isValid())
        qCWarning(lcCommon) << "SQL ERROR:" << db.lastError().text();
    return QSqlDatabase::database(defaultConnectionName(), true);
}

QSqlDatabase DBManager::tenantConnection(const QString &token)
{
    if (debugLevel > 1)
        qCDebug(lcCommon, "DBManager::tenantConnection(%s)", qUtf8Printable(token));
    QMutexLocker locker(&mutex);
    const QString name = getConnectionNameFromToken(token);
    DBSchemeRecord record = schemes.value(token);
    if (!record.isUsable())
        record = loadScheme(token);
    if (!record.isUsable())
        return QSqlDatabase();
    if (!connections.contains(name))
        connections.append(name);
    if (QSqlDatabase::contains(name))
        QSqlDatabase::database(name, false).close();
    return configureTenant(name, record);
}

QSqlDatabase DBManager::configureTenant(const QString &name, const DBSchemeRecord &record)
{
    QSqlDatabase db = QSqlDatabase::contains(name) ? QSqlDatabase::database(name, false)
                                                    : QSqlDatabase::addDatabase(QStringLiteral("QMYSQL"), name);
    db.setHostName(infoDB.hostName());
    db.setPort(infoDB.port());
    db.setDatabaseName(record.name);
    db.setUserName(record.user);
    db.setPassword(record.pass);
    db.setConnectOptions(kConnectOptions);
    return db;
}

QHash<QString, DBSchemeRecord> DBManager::loadSchemes(const QStringList &tokens)
{
    QHash<QString, DBSchemeRecord> found;
    if (tokens.isEmpty())
        return found;
    QMutexLocker locker(&mutex);
    if (!checkOpenDB(infoDB))
        return found;
    QSqlQuery query(infoDB);
    if (!query.exec(QStringLiteral("SELECT token, name, user, pass FROM `schemas` WHERE status = 1 AND token IN (%1);")
                        .arg(SqlEscape::quotedList(infoDB, tokens)))) {
        qCCritical(lcCommon) << "DBManager:: NOT load schemes from infoDB!\nERROR:" << query.lastError().text();
        return found;
    }
    while (query.next()) {
        DBSchemeRecord record;
        record.token = query.value(0).toString();
        record.name = query.value(1).toString();
        record.user = query.value(2).toString();
        record.pass = DBSchemeRecord::decodePassword(query.value(3));
        if (record.isUsable()) {
            schemes.insert(record.token, record);
            found.insert(record.token, record);
        }
    }
    query.finish();
    closeInfoIfWanted();
    return found;
}

bool DBManager::isMasterName(const QString &name) const
{
    return name == kexConnectionName || name == infoConnectionName || name == kKexMasterName
        || name == defaultConnectionName();
}

void DBManager::addUnusedConnection(const QString &connectionName)
{
    QMutexLocker locker(&mutex);
    if (!unusedConnectionsEnabled)
        return;
    if (debugLevel > 0)
        qCDebug(lcCommon) << "DBManager::addUnusedConnection(" << connectionName << ")";
    if (connectionName.isEmpty())
        return;
    if (isMasterName(connectionName)) {
        qCWarning(lcCommon) << "DBManager::addUnusedConnection() Master connection" << connectionName
                            << "cannot add to unused connections!";
        return;
    }
    unusedConnections.append(connectionName);
}

void DBManager::setUnusedConnectionsEnabled(bool enabled)
{
    QMutexLocker locker(&mutex);
    if (unusedConnectionsEnabled == enabled)
        return;
    if (debugLevel > 0)
        qCDebug(lcCommon).noquote() << "DBManager::setUnusedConnectionsEnabled(" << (enabled ? "true" : "false") << ")";
    unusedConnectionsEnabled = enabled;
    if (!enabled)
        unusedConnections.clear();
}

void DBManager::removeUnusedConnections()
{
    QMutexLocker locker(&mutex);
    if (!unusedConnectionsEnabled)
        return;
    if (debugLevel > 1)
        qCDebug(lcCommon) << "DBManager::removeUnusedConnections() - master connections:" << kexConnectionName
                          << infoConnectionName << defaultConnectionName();
    while (!unusedConnections.isEmpty()) {
        const QString name = unusedConnections.takeFirst();
        if (isMasterName(name)) {
            qCWarning(lcCommon) << "DBManager::removeUnusedConnections() - cannot remove master connection" << name;
        } else if (connectionIsActive(name)) {
            qCWarning(lcCommon) << "DBManager::removeUnusedConnections() - can't remove active connection" << name;
        } else {
            if (debugLevel > 0)
                qCDebug(lcCommon) << "DBManager::removeUnusedConnections() - removing:" << name;
            QSqlDatabase::removeDatabase(name);
            connections.removeAll(name);
        }
    }
}

bool DBManager::withInfoDB(const std::function<bool(QSqlDatabase &)> &work)
{
    QMutexLocker locker(&mutex);
    if (!infoDB.isValid() || !checkOpenDB(infoDB))
        return false;
    const bool result = work(infoDB);
    closeInfoIfWanted();
    return result;
}

void DBManager::setMaxConnections(int count)
{
    QMutexLocker locker(&budgetMutex);
    maxConnectionCount = qMax(count, 2);
    MetricsRegistry::gauge("yxa_db_connection_budget", {}, maxConnectionCount);
    budgetFreed.wakeAll();
}

int DBManager::maxConnections() const
{
    QMutexLocker locker(&budgetMutex);
    return maxConnectionCount;
}

bool DBManager::acquireConnection(int waitMs)
{
    QMutexLocker locker(&budgetMutex);
    QDeadlineTimer deadline(qMax(waitMs, 0));
    while (connectionsUsed >= maxConnectionCount) {
        if (deadline.hasExpired() || !budgetFreed.wait(&budgetMutex, deadline)) {
            if (connectionsUsed < maxConnectionCount)
                break;
            ++budgetRefusals;
            const qint64 now = QDateTime::currentMSecsSinceEpoch();
            if (now - budgetWarnedAt >= 60000) {
                qCWarning(lcCommon,
                    "DBManager::acquireConnection() - the budget of %d connections cannot carry the work: %u "
                    "passes found it used up since the last warning; raise [Host] maxConnections or add a host",
                    maxConnectionCount, budgetRefusals);
                budgetWarnedAt = now;
                budgetRefusals = 0;
            }
            return false;
        }
    }
    ++connectionsUsed;
    connectionsMax = qMax(connectionsMax, connectionsUsed);
    MetricsRegistry::gauge("yxa_db_connections_in_use", {}, connectionsUsed);
    return true;
}

void DBManager::releaseConnection()
{
    QMutexLocker locker(&budgetMutex);
    if (connectionsUsed > 0)
        --connectionsUsed;
    MetricsRegistry::gauge("yxa_db_connections_in_use", {}, connectionsUsed);
    budgetFreed.wakeOne();
}

int DBManager::connectionsInUse() const
{
    QMutexLocker locker(&budgetMutex);
    return connectionsUsed;
}

int DBManager::connectionsPeak() const
{
    QMutexLocker locker(&budgetMutex);
    return connectionsMax;
}
