#include "mailtenant.h"

#include "mariadbfixture.h"

#include <QDateTime>
#include <QSqlQuery>

namespace MailTenant {

QString create(const QString &database)
{
    QString error;
    if (!MariaDbFixture::createDatabase(database, database,
            MariaDbFixture::tenantPassword(database), { QStringLiteral("tenant.sql") }, &error))
        return error.isEmpty() ? QStringLiteral("cannot create %1").arg(database) : error;
    return QString();
}

QSqlDatabase connection(const QString &connectionName, const QString &database)
{
    return MariaDbFixture::connection(
        connectionName, database, database, MariaDbFixture::tenantPassword(database));
}

QSqlDatabase root(const QString &database)
{
    return MariaDbFixture::rootConnection(QStringLiteral("yxa.test.root.") + database, database);
}

uint insertMail(const QString &database, const QString &to, const QString &subject,
    const QByteArray &body, const QByteArray &data, qint64 created, const QString &from)
{
    QSqlQuery query(root(database));
    query.prepare(
        QStringLiteral("INSERT INTO emails (type, `from`, `to`, subject, body, created, data) "
                       "VALUES('C', :from, :to, :subject, :body, :created, :data)"));
    query.bindValue(QStringLiteral(":from"), from);
    query.bindValue(QStringLiteral(":to"), to);
    query.bindValue(QStringLiteral(":subject"), subject);
    query.bindValue(QStringLiteral(":body"), body);
    query.bindValue(
        QStringLiteral(":created"), created < 0 ? QDateTime::currentSecsSinceEpoch() : created);
    query.bindValue(
        QStringLiteral(":data"), data.isNull() ? QVariant(QVariant::String) : QVariant(data));
    if (!query.exec())
        return 0;
    return query.lastInsertId().toUInt();
}

Row row(const QString &database, uint mid)
{
    Row result;
    QSqlQuery query(root(database));
    if (query.exec(
            QStringLiteral("SELECT status, done, sent, apiID FROM emails WHERE mid = %1").arg(mid))
        && query.next()) {
        result.exists = true;
        result.status = query.value(0).toString();
        result.done = query.value(1);
        result.sent = query.value(2).toUInt();
        result.apiID = query.value(3);
    }
    return result;
}

bool setVar(const QString &database, const QString &name, const QVariant &value)
{
    QSqlQuery query(root(database));
    query.prepare(QStringLiteral(
        "INSERT INTO vars (name, value) VALUES(?, ?) ON DUPLICATE KEY UPDATE value=VALUES(value)"));
    query.addBindValue(name);
    query.addBindValue(value);
    return query.exec();
}

bool exec(const QString &database, const QString &sql)
{
    return MariaDbFixture::exec(root(database), sql);
}

int count(const QString &database, const QString &where)
{
    return MariaDbFixture::scalar(
        root(database), QStringLiteral("SELECT COUNT(*) FROM emails WHERE %1").arg(where))
        .toInt();
}

} // namespace MailTenant
