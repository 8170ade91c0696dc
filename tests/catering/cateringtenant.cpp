#include "cateringtenant.h"

#include "mariadbfixture.h"
#include "tabloraworker.h"

#include <QSqlError>
#include <QSqlQuery>

CateringTenant::CateringTenant(const QString &database)
    : name(database)
{
}

bool CateringTenant::create(QString *error)
{
    return MariaDbFixture::createDatabase(name, name, MariaDbFixture::tenantPassword(name),
        { QStringLiteral("tenant.sql"), QStringLiteral("catering.sql") }, error);
}

void CateringTenant::drop()
{
    MariaDbFixture::dropDatabase(name, name);
}

QSqlDatabase CateringTenant::root() const
{
    return MariaDbFixture::rootConnection(QStringLiteral("cat.root.") + name, name);
}

QSqlDatabase CateringTenant::connection(const QString &connectionName) const
{
    return MariaDbFixture::connection(
        connectionName, name, name, MariaDbFixture::tenantPassword(name));
}

bool CateringTenant::clear(QString *error)
{
    static const char *const tables[] = { "branches", "holidays", "cat_suppliers",
        "cat_suppliermails", "cat_branchmails", "cat_promailsdelay", "cat_segments", "cat_types",
        "cat_foods", "cat_orderables", "cat_orders", "emails", "vars" };
    for (const char *table : tables) {
        if (!exec(QStringLiteral("TRUNCATE TABLE %1").arg(QLatin1String(table)), error))
            return false;
    }
    return exec(QStringLiteral("DROP TRIGGER IF EXISTS emails_refuse"), error)
        && exec(QStringLiteral("DROP TRIGGER IF EXISTS orderables_refuse"), error);
}

bool CateringTenant::exec(const QString &sql, QString *error) const
{
    QString reason;
    if (MariaDbFixture::exec(root(), sql, &reason))
        return true;
    // Without a place for the reason, the test's log shows it.
    if (error)
        *error = reason;
    else
        qWarning("%s", qPrintable(reason));
    return false;
}

bool CateringTenant::seedOneSupplier(const QDate &mealDay) const
{
    return exec(QStringLiteral("INSERT INTO vars (name, value) VALUES ('globalEmail', 'jedalen@firma.test')"))
        && exec(QStringLiteral("INSERT INTO cat_segments (segmentID, name, start) VALUES (1, 'Obed', '12:00:00')"))
        && exec(QStringLiteral("INSERT INTO cat_suppliermails (supplierID, mail) VALUES (1, 'a@slnko.test'), (1, 'b@slnko.test')"))
        && exec(QStringLiteral("INSERT INTO cat_suppliers (supplierID, name) VALUES (1, 'Slnko')"))
        && exec(QStringLiteral("INSERT INTO cat_foods (foodID, name, supplierID) VALUES (1, 'Guláš', 1), (2, 'Vývar', 1)"))
        && exec(QStringLiteral("INSERT INTO branches (bid, name) VALUES (1, 'Zvolen'), (2, 'Martin')"))
        && exec(QStringLiteral("INSERT INTO cat_promailsdelay (proMailDelayID, supplierID, sendtime, daysto) VALUES (5, 1, '10:00:00', 2)"))
        && exec(QStringLiteral("INSERT INTO cat_orderables (orderableID, segmentID, date, bid, foodID, locked) VALUES "
                              "(1, 1, '%1', 1, 1, 1), (2, 1, '%1', 2, 1, 1), (3, 1, '%1', 2, 2, 1)")
                   .arg(mealDay.toString(Qt::ISODate)))
        && exec(QStringLiteral("INSERT INTO cat_orders (orderableID, uid, quantity, ordered) VALUES "
                              "(1, 7, 3, 'x'), (2, 7, 2, 'x'), (3, 8, 1, 'x')"));
}

QVariant CateringTenant::scalar(const QString &sql) const
{
    return MariaDbFixture::scalar(root(), sql);
}

bool CateringTenant::setTime(TabloraWorker *worker, const QDateTime &at, QString *error)
{
    worker->setClock([at] { return at; });
    QSqlDatabase db = QSqlDatabase::database(worker->connectionName(), false);
    if (!db.isOpen() && !db.open()) {
        if (error)
            *error = db.lastError().text();
        return false;
    }
    return MariaDbFixture::exec(
        db, QStringLiteral("SET timestamp = %1").arg(at.toSecsSinceEpoch()), error);
}

bool CateringTenant::tickAt(TabloraWorker *worker, const QDateTime &at, QString *error)
{
    QString reason;
    if (!setTime(worker, at, &reason)) {
        // Without a place for the reason, the test's log shows it.
        if (error)
            *error = reason;
        else
            qWarning("%s", qPrintable(reason));
        return false;
    }
    worker->timerTick();
    return true;
}

QString CateringTenant::licenceName(const QString &company)
{
    QByteArray coded = company.toUtf8().toBase64();
    coded.replace('+', '-');
    coded.replace('/', '_');
    coded.replace('=', '@');
    return QString::fromLatin1(coded);
}

QDate nextFriday(const QDate &from)
{
    QDate day = from.addDays(1);
    while (day.dayOfWeek() != 5)
        day = day.addDays(1);
    return day;
}
