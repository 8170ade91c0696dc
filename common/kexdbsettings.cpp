#include "kexdbsettings.h"

#include "commonlogging.h"
#include "sqlescape.h"

#include <QSqlError>
#include <QSqlQuery>

namespace {
const QString kUpsert = QStringLiteral(
    "INSERT INTO vars (name, value) VALUES(:name, :value) ON DUPLICATE KEY UPDATE value=VALUES(value);");

// LIKE prefix: % and _ keep their pattern meaning on purpose (callers rely on
// it), but quotes and backslashes are escaped like any other value.
QString likePrefix(const QSqlDatabase &db, const QString &prefix)
{
    // A backslash is LIKE's escape character: double it so it matches itself.
    QString pattern = prefix;
    pattern.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    return SqlEscape::string(db, pattern);
}
// name -> value of every row the statement returns; empty (and logged) on failure.
QMap<QString, QVariant> selectPairs(const QSqlDatabase &db, const QString &sql, bool *ok)
{
    QMap<QString, QVariant> values;
    QSqlQuery query(db);
    const bool executed = query.exec(sql);
    if (executed) {
        while (query.next())
            values.insert(query.value(0).toString(), query.value(1));
    } else if (query.lastError().isValid()) {
        qCCritical(lcCommon) << "KexDbSettings::variableGetMultiple - SQL ERROR:";
        qCCritical(lcCommon).noquote() << query.lastError().text();
    }
    if (ok)
        *ok = executed;
    return values;
}
} // namespace

KexDbSettings::KexDbSettings(const QSqlDatabase &db)
    : db(db)
{
}

void KexDbSettings::setDB(const QSqlDatabase &newDb)
{
    db = newDb;
}

bool KexDbSettings::openDB()
{
    const bool opened = db.open();
    if (db.lastError().isValid())
        qCCritical(lcCommon) << "KexDbSettings Database Error:" << db.lastError().text();
    return opened;
}

void KexDbSettings::closeDB()
{
    db.close();
}

QVariant KexDbSettings::variableGet(const QString &name, QVariant defaultValue)
{
    QSqlQuery query(db);
    if (query.exec(QStringLiteral("SELECT value FROM vars WHERE name='%1' LIMIT 1")
                       .arg(SqlEscape::string(db, name)))
        && query.next()) {
        return query.value(QStringLiteral("value"));
    }
    if (query.lastError().isValid()) {
        qCCritical(lcCommon) << "KexDbSettings::variableGet - SQL ERROR:";
        qCCritical(lcCommon).noquote() << query.lastError().text();
    }
    return defaultValue;
}

bool KexDbSettings::variableSet(const QString &name, const QVariant &value)
{
    QSqlQuery query(db);
    bool ok = query.prepare(kUpsert);
    if (ok) {
        query.bindValue(QStringLiteral(":name"), name);
        query.bindValue(QStringLiteral(":value"), value);
        ok = query.exec();
    }
    if (!ok && query.lastError().isValid())
        qCCritical(lcCommon) << "variableSet ERROR:" << query.lastError().text();
    return ok;
}

bool KexDbSettings::variableSetMultiple(const QMap<QString, QVariant> &values)
{
    QSqlQuery query(db);
    if (!query.prepare(kUpsert)) {
        if (query.lastError().isValid())
            qCCritical(lcCommon) << "variableSet ERROR:" << query.lastError().text();
        return false;
    }
    int succeeded = 0;
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        query.bindValue(QStringLiteral(":name"), it.key());
        query.bindValue(QStringLiteral(":value"), it.value());
        if (query.exec())
            ++succeeded;
        if (query.lastError().isValid())
            qCCritical(lcCommon) << "variableSet ERROR:" << query.lastError().text();
    }
    return succeeded == values.size();
}

bool KexDbSettings::variableDel(const QString &name, bool like)
{
    QSqlQuery query(db);
    const QString sql = like ? QStringLiteral("DELETE FROM vars WHERE name LIKE '%1%'").arg(likePrefix(db, name))
                             : QStringLiteral("DELETE FROM vars WHERE name='%1'").arg(SqlEscape::string(db, name));
    const bool ok = query.exec(sql) && query.numRowsAffected() > 0;
    if (query.lastError().isValid()) {
        qCCritical(lcCommon) << "KexDbSettings::variableDel - SQL ERROR:";
        qCCritical(lcCommon).noquote() << query.lastError().text();
    }
    return ok;
}

QMap<QString, QVariant> KexDbSettings::variableGetMultiple(const QStringList &names, bool *ok)
{
    if (names.isEmpty()) {
        if (ok)
            *ok = true;
        return {};
    }
    return selectPairs(db,
                       QStringLiteral("SELECT name, value FROM vars WHERE name IN(%1)").arg(SqlEscape::quotedList(db, names)),
                       ok);
}

QMap<QString, QVariant> KexDbSettings::variableGetMultiple(const QString &prefix, bool *ok)
{
    return selectPairs(
        db, QStringLiteral("SELECT name, value FROM vars WHERE name LIKE '%1%'").arg(likePrefix(db, prefix)), ok);
}
