#include "cateringrepository.h"

#include "cateringlogging.h"
#include "defaultsender.h"
#include "jsonguard.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

namespace {

// Native code and text of a failed statement, for the "[%s]: %s" lines.
QByteArray nativeCode(const QSqlQuery &query)
{
    return query.lastError().nativeErrorCode().toUtf8();
}

QByteArray errorText(const QSqlQuery &query)
{
    return query.lastError().text().toUtf8();
}

void logError(const QSqlQuery &query, const char *operation)
{
    qCCritical(lcCatering, "TabloraWorker - %s ERROR: [%s]: %s", operation,
        nativeCode(query).constData(), errorText(query).constData());
}

} // namespace

CateringRepository::CateringRepository(const QSqlDatabase &db)
    : m_db(db)
{
}

bool CateringRepository::exec(QSqlQuery &query, const QString &sql, const char *operation)
{
    if (query.exec(sql))
        return true;
    logError(query, operation);
    return false;
}

bool CateringRepository::loadSender(QString &sender)
{
    QSqlQuery query(m_db);
    const bool ok = query.exec(
        QStringLiteral("SELECT v.name, v.value FROM vars v WHERE v.name='globalEmail'"));
    if (query.lastError().isValid())
        logError(query, "getSender");
    if (ok)
        sender = query.next() ? query.value(QStringLiteral("value")).toString()
                              : DefaultSender::address();
    if (sender.isEmpty())
        sender = DefaultSender::address();
    return ok;
}

bool CateringRepository::loadCompanyName(QString &name)
{
    QSqlQuery query(m_db);
    if (!exec(query, QStringLiteral("SELECT v.name, v.value FROM vars v WHERE v.name='LCNSN'"),
            "getCompanyName"))
        return false;
    if (!query.next()) {
        name.clear();
        return true;
    }
    // The licence name is stored in a URL-safe Base64 variant with '@' as fill.
    QByteArray coded = query.value(QStringLiteral("value")).toByteArray();
    coded.replace('-', '+');
    coded.replace('_', '/');
    coded.replace('@', '=');
    QByteArray decoded = QByteArray::fromBase64(coded);
    const int nul = decoded.indexOf('\0');
    if (nul >= 0)
        decoded.truncate(nul);
    name = QString::fromUtf8(decoded);
    return true;
}

bool CateringRepository::loadSupplierMails(QVector<SupplierMailRecord> &mails)
{
    mails.clear();
    QSqlQuery query(m_db);
    if (!exec(query, QStringLiteral("SELECT m.supplierID, m.mail FROM cat_suppliermails m"),
            "getSupplierMails"))
        return false;
    // Qt 5 builds the whole record for every by-name lookup: resolve the
    // columns once per query.
    const QSqlRecord columns = query.record();
    const int iSupplier = columns.indexOf(QStringLiteral("supplierID"));
    const int iMail = columns.indexOf(QStringLiteral("mail"));
    while (query.next()) {
        SupplierMailRecord record;
        record.supplierID = query.value(iSupplier).toUInt();
        record.mail = query.value(iMail).toString();
        mails.append(record);
    }
    return true;
}

bool CateringRepository::loadBranchMails(QVector<BranchMailRecord> &mails)
{
    mails.clear();
    QSqlQuery query(m_db);
    if (!exec(
            query, QStringLiteral("SELECT m.bid, m.mail FROM cat_branchmails m"), "getBranchMails"))
        return false;
    const QSqlRecord columns = query.record();
    const int iBid = columns.indexOf(QStringLiteral("bid"));
    const int iMail = columns.indexOf(QStringLiteral("mail"));
    while (query.next()) {
        BranchMailRecord record;
        record.bid = query.value(iBid).toInt();
        record.mail = query.value(iMail).toString();
        mails.append(record);
    }
    return true;
}

bool CateringRepository::loadBranchNames(QHash<int, QString> &names)
{
    names.clear();
    QSqlQuery query(m_db);
    if (!query.exec(QStringLiteral("SELECT bid, name FROM branches"))) {
        qCWarning(lcCatering) << "Failed to execute query in getBid2NameMap:"
                              << query.lastError().text();
        return false;
    }
    while (query.next())
        names.insert(query.value(0).toInt(), query.value(1).toString());
    return true;
}

QSet<QDate> CateringRepository::loadHolidays(bool *ok)
{
    QSet<QDate> holidays;
    QSqlQuery query(m_db);
    const bool read = query.exec(QStringLiteral("SELECT date FROM holidays WHERE freeDay = 1"));
    if (ok)
        *ok = read;
    if (!read) {
        qCWarning(lcCatering) << "Chyba pri načítaní sviatkov: " << query.lastError().text();
        return holidays;
    }
    while (query.next())
        holidays.insert(QDate::fromJulianDay(query.value(0).toInt()));
    return holidays;
}

QHash<uint, bool> CateringRepository::loadSupplierSkipDays(bool *ok)
{
    QHash<uint, bool> skip;
    QSqlQuery query(m_db);
    const bool read
        = query.prepare(QStringLiteral("SELECT value FROM vars WHERE name = 'tabl_skipFreeDays'"))
        && query.exec();
    if (ok)
        *ok = read;
    if (!read || !query.next()) {
        qCWarning(lcCatering) << "Nepodarilo sa načítať tabl_skipFreeDays z tabuľky vars!";
        return skip;
    }
    const QJsonDocument doc = JsonGuard::parse(query.value(0).toByteArray());
    if (!doc.isObject()) {
        qCWarning(lcCatering) << "Neplatný JSON formát pre tabl_skipFreeDays!";
        return skip;
    }
    const QJsonObject object = doc.object();
    for (auto it = object.constBegin(); it != object.constEnd(); ++it)
        skip.insert(it.key().toUInt(), it.value().toBool(false));
    return skip;
}

bool CateringRepository::loadSendSlots(QVector<SupplierTimeRecord> &stored)
{
    QSqlQuery query(m_db);
    if (!exec(query,
            QStringLiteral("SELECT m.proMailDelayID, m.supplierID, m.sendtime, m.daysto FROM "
                           "cat_promailsdelay m "
                           "ORDER BY supplierID, daysto DESC, sendtime, proMailDelayID"),
            "loadSupplierTimes"))
        return false;
    const QSqlRecord columns = query.record();
    const int iSlot = columns.indexOf(QStringLiteral("proMailDelayID"));
    const int iSupplier = columns.indexOf(QStringLiteral("supplierID"));
    const int iDaysTo = columns.indexOf(QStringLiteral("daysto"));
    const int iSendTime = columns.indexOf(QStringLiteral("sendtime"));
    while (query.next()) {
        SupplierTimeRecord record;
        record.proMailDelayID = query.value(iSlot).toInt();
        record.supplierID = query.value(iSupplier).toInt();
        record.daysto = query.value(iDaysTo).toInt();
        record.sendtime = query.value(iSendTime).toTime();
        stored.append(record);
    }
    return true;
}

bool CateringRepository::loadOrderables(const QDate &today, QVector<OrderRecord> &orderables,
    const std::function<bool(OrderRecord &)> &take)
{
    QSqlQuery query(m_db);
    const bool ok = query.exec(
        QStringLiteral("SELECT o.orderableID, p.supplierID, o.segmentID, o.date, o.bid, f.name, "
                       "IFNULL(SUM(r.quantity),0) quantity, "
                       "s.name segmentName, p.name supplierName, o.sent FROM cat_orderables o "
                       "LEFT JOIN cat_orders r ON r.orderableID=o.orderableID "
                       "LEFT JOIN cat_segments s ON o.segmentID=s.segmentID "
                       "LEFT JOIN cat_foods f ON f.foodID=o.foodID "
                       "LEFT JOIN cat_suppliers p ON f.supplierID=p.supplierID "
                       "WHERE ((DATE('%1') < o.date) || (DATE('%1') = o.date && CURTIME() < "
                       "s.`start`)) && o.locked=1 "
                       "GROUP BY o.orderableID")
            .arg(today.toString(QStringLiteral("yyyy-MM-dd"))));
    if (query.lastError().isValid())
        logError(query, "getOrders");
    if (!ok)
        return false;

    // Qt 5 builds the whole record for every by-name lookup: resolve the
    // columns once per query and read them by index.
    const QSqlRecord columns = query.record();
    const int iOrderable = columns.indexOf(QStringLiteral("orderableID"));
    const int iSupplier = columns.indexOf(QStringLiteral("supplierID"));
    const int iSegment = columns.indexOf(QStringLiteral("segmentID"));
    const int iDate = columns.indexOf(QStringLiteral("date"));
    const int iBid = columns.indexOf(QStringLiteral("bid"));
    const int iName = columns.indexOf(QStringLiteral("name"));
    const int iQuantity = columns.indexOf(QStringLiteral("quantity"));
    const int iSegmentName = columns.indexOf(QStringLiteral("segmentName"));
    const int iSupplierName = columns.indexOf(QStringLiteral("supplierName"));
    const int iSent = columns.indexOf(QStringLiteral("sent"));

    while (query.next()) {
        OrderRecord record;
        record.orderableID = query.value(iOrderable).toUInt();
        record.supplierID = query.value(iSupplier).toUInt();
        record.segmentID = query.value(iSegment).toUInt();
        record.date = query.value(iDate).toDate();
        record.bid = query.value(iBid).toInt();
        record.name = query.value(iName).toString();
        record.quantity = query.value(iQuantity).toInt();
        record.segmentName = query.value(iSegmentName).toString();
        record.supplierName = query.value(iSupplierName).toString();
        record.sentBefore = query.value(iSent);
        if (take(record))
            orderables.append(record);
    }
    return true;
}
