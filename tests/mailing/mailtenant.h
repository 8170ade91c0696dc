#pragma once

#include <QByteArray>
#include <QSqlDatabase>
#include <QString>
#include <QVariant>

// A tenant database with the shared tenant tables (`vars`, `emails`) for the
// mailing tests, and the few statements the tests need on it. Rows are
// written and read over the test's own root connection.
namespace MailTenant {

struct Row
{
    QString status;
    QVariant done;
    uint sent = 0;
    QVariant apiID;
    bool exists = false;
};

// Creates (or re-creates) database with its own user; empty on success.
QString create(const QString &database);
// A fresh QMYSQL connection as the tenant's user (not opened).
QSqlDatabase connection(const QString &connectionName, const QString &database);
QSqlDatabase root(const QString &database);

uint insertMail(const QString &database, const QString &to,
    const QString &subject = QStringLiteral("Subject"),
    const QByteArray &body = QByteArrayLiteral("Body"), const QByteArray &data = QByteArray(),
    qint64 created = -1, const QString &from = QStringLiteral("sender@example.test"));
Row row(const QString &database, uint mid);
bool setVar(const QString &database, const QString &name, const QVariant &value);
bool exec(const QString &database, const QString &sql);
int count(const QString &database, const QString &where);

} // namespace MailTenant
