#pragma once

#include <QDateTime>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVariant>

class TabloraWorker;

// One tenant database built from sql/tenant.sql and sql/catering.sql on the
// private test server, with helpers to fill it and to drive a worker's clock.
class CateringTenant
{
public:
    explicit CateringTenant(const QString &database);

    bool create(QString *error);
    void drop();

    QString database() const { return name; }
    QSqlDatabase root() const;
    // A fresh, unopened connection as the tenant's own user.
    QSqlDatabase connection(const QString &connectionName) const;

    // Empties every table a worker reads or writes.
    bool clear(QString *error = nullptr);
    // One supplier with two addresses and a slot two days ahead at 10:00,
    // the sender address "jedalen@firma.test", and three orderables with
    // orders on `mealDay`: a group of two order mails when the slot passes.
    bool seedOneSupplier(const QDate &mealDay) const;

    // A failure is logged when error is null.
    bool exec(const QString &sql, QString *error = nullptr) const;
    QVariant scalar(const QString &sql) const;

    // The worker's clock and its connection's session time both at `at`, so
    // that CURTIME() and UNIX_TIMESTAMP() of the worker's statements agree
    // with the worker's own idea of now.
    static bool setTime(TabloraWorker *worker, const QDateTime &at, QString *error = nullptr);
    // setTime, then one tick. A failure is logged when error is null.
    static bool tickAt(TabloraWorker *worker, const QDateTime &at, QString *error = nullptr);

    // "LCNSN" as the host stores it: URL-safe Base64 with '@' as fill.
    static QString licenceName(const QString &company);

private:
    QString name;
};

// The first Friday after `from` (never `from` itself).
QDate nextFriday(const QDate &from);
