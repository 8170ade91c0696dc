#include "tabloraworker.h"

#include "cateringlogging.h"
#include "cateringrepository.h"
#include "datasetinfo.h"
#include "dbmanager.h"
#include "defaultsender.h"
#include "jsonguard.h"
#include "mailrepository.h"
#include "metricsregistry.h"
#include "rptengine.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QMimeDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryFile>
#include <QTimer>

// Resources of a static library are only linked in when something refers to
// their initialiser; the tests link tablora_core as an ordinary archive.
static void initCateringResources()
{
    static const bool done = [] {
        Q_INIT_RESOURCE(cateringreports);
        return true;
    }();
    Q_UNUSED(done)
}

namespace {
constexpr int tickInterval = 60000;
// A tick that finds the host's budget used up tries again after this long,
// as long as its minute lasts: waiting instead would hold up every tenant
// that shares the worker's thread.
constexpr int budgetRetryMs = 2000;
constexpr qint64 budgetRetryWindowMs = 50000;

// Native code and text of a failed statement, for the "[%s]: %s" lines.
QByteArray nativeCode(const QSqlQuery &query)
{
    return query.lastError().nativeErrorCode().toUtf8();
}

QByteArray errorText(const QSqlQuery &query)
{
    return query.lastError().text().toUtf8();
}

// The portions of one group per food, in the order the foods first appear.
QVector<QPair<QString, int>> portionsByFood(const QVector<OrderRecord> &group)
{
    QVector<QPair<QString, int>> foods;
    QHash<QString, int> index;
    for (const OrderRecord &record : group) {
        auto found = index.constFind(record.name);
        if (found == index.constEnd()) {
            index.insert(record.name, foods.size());
            foods.append({ record.name, record.quantity });
        } else {
            foods[*found].second += record.quantity;
        }
    }
    return foods;
}

QString orderKey(int uid, int segmentID, int bid, const QDate &date)
{
    return QStringLiteral("%1|%2|%3|%4")
        .arg(uid)
        .arg(segmentID)
        .arg(bid)
        .arg(date.toString(QStringLiteral("d.M.yyyy")));
}
} // namespace

TabloraWorker::TabloraWorker(QSqlDatabase database, QObject *parent)
    : QObject(parent)
    , timer(new QTimer(this))
    , db(database)
{
}

TabloraWorker::~TabloraWorker()
{
    qCDebug(lcCatering) << "TabloraWorker:: - DESTRUCT";
    // The report engine goes with its parent, this worker.
    if (db.isValid() && db.isOpen())
        db.close();
}

void TabloraWorker::setClock(Clock newClock)
{
    clock = std::move(newClock);
}

void TabloraWorker::closeConnection()
{
    timer->stop();
    if (db.isValid() && db.isOpen())
        db.close();
    db = QSqlDatabase();
}

QDateTime TabloraWorker::now() const
{
    return clock ? clock() : QDateTime::currentDateTime();
}

QString TabloraWorker::autoMarker()
{
    return QStringLiteral("Tablora-auto");
}

void TabloraWorker::setHostLimits(DBManager *manager, std::function<bool()> current)
{
    budget = manager;
    leaseCurrent = std::move(current);
}

void TabloraWorker::start()
{
    if (!budget)
        db.open();
    connect(timer, &QTimer::timeout, this, &TabloraWorker::timerTick, Qt::UniqueConnection);
    timer->start(tickInterval);
    qCDebug(lcCatering) << "TabloraWorker initialized, db: " << db.hostName()
                        << " is open: " << (db.isOpen() ? "true" : "false");

    initCateringResources();
}

void TabloraWorker::openReport()
{
    if (report)
        return;
    report = new RptEngine(this);
    report->loadReport(reportTemplate);
    // The engine asks for its data synchronously inside printPDF, on this thread.
    connect(report, SIGNAL(setValue(const int, const QString, QVariant &, const int)), this,
        SLOT(setValue(const int, const QString, QVariant &, const int)), Qt::DirectConnection);
    connect(report, SIGNAL(setDSInfo(DataSetInfo &)), this, SLOT(setDSInfo(DataSetInfo &)),
        Qt::DirectConnection);
}

void TabloraWorker::closeReport()
{
    delete report;
    report = nullptr;
}

void TabloraWorker::timerTick()
{
    if (leaseCurrent && !leaseCurrent()) {
        qCWarning(lcCatering,
            "TabloraWorker - %s: this host no longer holds the tenant; tick skipped.",
            qUtf8Printable(db.databaseName()));
        return;
    }
    if (!budget) {
        runTick();
        return;
    }
    if (!budget->acquireConnection(0)) {
        if (!retryClock.isValid())
            retryClock.start();
        if (!retryClock.hasExpired(budgetRetryWindowMs))
            QTimer::singleShot(budgetRetryMs + int(qHash(db.databaseName()) % 1000), this,
                &TabloraWorker::timerTick);
        else
            retryClock.invalidate();
        return;
    }
    retryClock.invalidate();
    if (db.isOpen() || db.open()) {
        runTick();
        db.close();
    } else {
        qCCritical(lcCatering, "TabloraWorker - %s: can not open database! SQL ERROR: %s",
            qUtf8Printable(db.databaseName()), qUtf8Printable(db.lastError().text()));
    }
    budget->releaseConnection();
}

void TabloraWorker::runTick()
{
    qCDebug(lcCatering) << "TabloraWorker - Getting data from DB.";
    MetricsRegistry::count("yxa_catering_ticks_total");
    // One moment for the whole tick: a tick that crosses midnight must not
    // add meals for one day and send orders for another.
    const QDateTime at = now();
    loadCatAutoInformativeMealsSetting();
    if (isCatAutoInformativeMeals)
        addInformativeMealsFrom(at.date());

    bool read = getSender();
    read = getSupplierMails() && read;
    read = getBranchMails() && read;
    read = getBid2NameMap() && read;
    read = loadSupplierTimes(at) && read;
    read = getOrders(at) && read;
    read = getCompanyName() && read;

    qCDebug(lcCatering) << "TabloraWorker - " << orders.size()
                        << " orderables about to be processed.";
    if (!read) {
        // Without its addresses, branch names, slots or calendar the tick
        // would mark orders sent with no mail or a wrong PDF.
        qCWarning(lcCatering,
            "TabloraWorker - configuration not fully read; %d due orderables stay due.",
            static_cast<int>(orders.size()));
        return;
    }
    processOrders();
    // An engine with its loaded template weighs about a megabyte, and most
    // ticks print nothing: a host with thousands of tenants keeps one only
    // while a tick prints.
    closeReport();
    qCDebug(lcCatering) << "TabloraWorker - orderables processed.";
}

bool TabloraWorker::getSender()
{
    return CateringRepository(db).loadSender(sender);
}

bool TabloraWorker::getCompanyName()
{
    return CateringRepository(db).loadCompanyName(companyName);
}

bool TabloraWorker::getSupplierMails()
{
    return CateringRepository(db).loadSupplierMails(supplierMails);
}

bool TabloraWorker::getBranchMails()
{
    return CateringRepository(db).loadBranchMails(branchMails);
}

bool TabloraWorker::getBid2NameMap()
{
    if (!CateringRepository(db).loadBranchNames(bid2nameMap))
        return false;
    qCDebug(lcCatering) << "TabloraWorker::getBid2NameMap() ::: Loaded" << bid2nameMap.size()
                        << "branches into bid2nameMap.";
    return true;
}

QSet<QDate> TabloraWorker::loadHolidays(bool *ok)
{
    return CateringRepository(db).loadHolidays(ok);
}

QHash<uint, bool> TabloraWorker::loadSupplierSkipDays(bool *ok)
{
    return CateringRepository(db).loadSupplierSkipDays(ok);
}

bool TabloraWorker::loadSupplierTimes()
{
    return loadSupplierTimes(now());
}

bool TabloraWorker::loadSupplierTimes(const QDateTime &at)
{
    supplierTimes.clear();
    slotRule = SendSlotRule();
    CateringRepository repository(db);
    bool holidaysRead = false;
    bool skipRead = false;
    const QSet<QDate> holidays = repository.loadHolidays(&holidaysRead);
    const QHash<uint, bool> skip = repository.loadSupplierSkipDays(&skipRead);
    QVector<SupplierTimeRecord> stored;
    if (!repository.loadSendSlots(stored))
        return false;
    slotRule = SendSlotRule(stored, skip, holidays, at);
    supplierTimes = slotRule.orderedSlots();
    return holidaysRead && skipRead;
}

bool TabloraWorker::getOrders()
{
    return getOrders(now());
}

bool TabloraWorker::getOrders(const QDateTime &at)
{
    orders.clear();
    // Slots loaded at another moment (or not at all) would be judged
    // against the wrong day.
    if (slotRule.moment() != at)
        slotRule = SendSlotRule(supplierTimes, {}, {}, at);
    return CateringRepository(db).loadOrderables(at.date(), orders, [this](OrderRecord &record) {
        const qint32 slot = slotRule.dueSlot(
            static_cast<qint32>(record.supplierID), record.date, record.sentBefore.toInt());
        if (slot == -1 || record.quantity <= 0)
            return false;
        record.proMailDelayID = slot;
        return true;
    });
}

void TabloraWorker::processOrders()
{
    // One order is about one meal day: its subject and PDF header name a
    // single day, and its sums would otherwise add up portions of different
    // days. Ordered maps: groups go out in a stable order, which keeps logs
    // readable.
    QMap<quint32, QMap<quint32, QMap<QDate, QVector<OrderRecord>>>> groups;
    for (const OrderRecord &record : qAsConst(orders))
        groups[record.supplierID][record.segmentID][record.date].append(record);

    for (const auto &segments : qAsConst(groups))
        for (const auto &days : segments)
            for (const QVector<OrderRecord> &group : days)
                sendGroup(group);
}

void TabloraWorker::sendGroup(const QVector<OrderRecord> &group)
{
    const OrderRecord &first = group.first();
    subject = companyName + QStringLiteral(" - Objednávka - ")
        + first.date.toString(QStringLiteral("dd.MM.yyyy")) + QStringLiteral(", ")
        + first.segmentName + QStringLiteral(", dodávateľ: ") + first.supplierName;

    QString dump = QStringLiteral("Celkový súčet:");
    for (const auto &food : portionsByFood(group))
        dump += QStringLiteral("%1  x \t%2").arg(QString::number(food.second), food.first);
    dump += QStringLiteral("\nObjednávka sa nachádza v prílohe.");
    qCDebug(lcCatering) << "Generated mail body:\n" << dump;
    qCDebug(lcCatering) << "~~~~~~~~~~~~~~~~~~~~~~~~ PDF content by branch:~~~~~~~~~~~~~~~~~~~";
    QMap<int, QVector<const OrderRecord *>> byBranch;
    for (const OrderRecord &record : group)
        byBranch[record.bid].append(&record);
    for (auto branch = byBranch.constBegin(); branch != byBranch.constEnd(); ++branch) {
        qCDebug(lcCatering) << "Branch: "
                            << bid2nameMap.value(branch.key(), QStringLiteral("Unknown Branch"));
        for (const OrderRecord *record : branch.value())
            qCDebug(lcCatering) << "  " << record->quantity << " x " << record->name;
    }
    qCDebug(lcCatering) << "~~~~~~~~~~~~~~~~~~~~~~~~ END OF PDF content:~~~~~~~~~~~~~~~~~~~";

    // A group's mails and its `sent` marks are kept together: either all of
    // them are stored, or none, and the group stays due for the next tick.
    if (!db.transaction()) {
        qCCritical(lcCatering, "TabloraWorker - processOrders ERROR: [%s]: %s",
            db.lastError().nativeErrorCode().toUtf8().constData(),
            db.lastError().text().toUtf8().constData());
        return;
    }
    bool ok = true;
    int mails = 0;
    for (const SupplierMailRecord &entry : qAsConst(supplierMails)) {
        if (entry.supplierID != first.supplierID)
            continue;
        if (!createMail(entry.mail, group)) {
            ok = false;
            break;
        }
        ++mails;
    }
    if (ok)
        ok = setSent(group);
    if (ok && !db.commit()) {
        // On a Galera cluster a host that wrote the same marks on another node
        // first makes this commit fail its certification: the expected end of
        // a race the claim exists for, not a fault.
        if (db.lastError().nativeErrorCode() == QLatin1String("1213")) {
            qCInfo(lcCatering,
                "TabloraWorker - processOrders: order of supplier %u, segment %u was written by "
                "another host at the same moment ([1213]); this host's copy is rolled back.",
                first.supplierID, first.segmentID);
            db.rollback();
            return;
        }
        qCCritical(lcCatering, "TabloraWorker - processOrders ERROR: [%s]: %s",
            db.lastError().nativeErrorCode().toUtf8().constData(),
            db.lastError().text().toUtf8().constData());
        ok = false;
    }
    if (ok)
        MetricsRegistry::count("yxa_order_mails_queued_total", {}, mails);
    if (!ok) {
        db.rollback();
        qCWarning(lcCatering,
            "TabloraWorker - order of supplier %u, segment %u not queued; it stays due.",
            first.supplierID, first.segmentID);
    }
}

bool TabloraWorker::setSent(const QVector<OrderRecord> &list)
{
    QSqlQuery query(db);
    for (const OrderRecord &record : list) {
        // The mark is also the group's claim: it lands only where `sent` is
        // still what this tick read. Another host that mailed the group in
        // the meantime has changed it, and this group's mails are rolled back.
        const QString before = record.sentBefore.isNull()
            ? QStringLiteral("NULL")
            : QString::number(record.sentBefore.toLongLong());
        query.exec(
            QStringLiteral("UPDATE cat_orderables SET sent=%1 WHERE orderableID=%2 AND sent <=> %3")
                .arg(record.proMailDelayID)
                .arg(record.orderableID)
                .arg(before));
        if (query.lastError().isValid()) {
            qCCritical(lcCatering, "TabloraWorker - setSent ERROR: [%s]: %s",
                nativeCode(query).constData(), errorText(query).constData());
            return false;
        }
        if (query.numRowsAffected() != 1) {
            qCWarning(lcCatering,
                "TabloraWorker - setSent: orderable %u was marked by another host meanwhile; its "
                "order is "
                "not queued here.",
                record.orderableID);
            return false;
        }
    }
    return true;
}

bool TabloraWorker::createMail(const QString &mailTo, const QVector<OrderRecord> &group)
{
    if (group.isEmpty())
        return true;
    reportOrders = group;
    reportDate = group.first().date;
    reportSegmentName = group.first().segmentName;
    reportSupplierName = group.first().supplierName;

    openReport();
    QTemporaryFile pdf;
    if (pdf.open() && report) {
        QElapsedTimer renderClock;
        renderClock.start();
        report->printPDF(pdf.fileName(), false);
        MetricsRegistry::observe(
            "yxa_order_pdf_render_duration_seconds", {}, double(renderClock.nsecsElapsed()) / 1e9);
        qCDebug(lcCatering) << "temp PDF" << pdf.fileName();
        // The document goes out as it printed; the operator learns what to
        // fix in the template.
        if (!report->evaluationErrors().isEmpty())
            qCWarning(lcCatering,
                "TabloraWorker::createMail() - tenant \"%s\" supplier \"%s\" meal day %s (%s): "
                "order document to '%s' printed with errors, %s",
                qUtf8Printable(db.databaseName()), qUtf8Printable(reportSupplierName),
                qUtf8Printable(reportDate.toString(Qt::ISODate)), qUtf8Printable(reportSegmentName),
                qUtf8Printable(mailTo),
                qUtf8Printable(
                    describeEvaluationErrors(reportTemplate, report->evaluationErrors())));
    }

    const QString attachmentName
        = QStringLiteral("Objednávka-%1-%2.pdf")
              .arg(reportDate.toString(QStringLiteral("yyyyMMdd")), reportSegmentName);

    QString body = tr("Celkový súčet objednaných jedál: \n\n");
    for (const auto &food : portionsByFood(group))
        body += QStringLiteral("%1  x \t%2\n").arg(QString::number(food.second), food.first);
    body += QStringLiteral("\n\n");
    body += tr("Objednávka sa nachádza v prílohe.");

    QByteArray data;
    QFile file(pdf.fileName());
    if (pdf.fileName().isEmpty() || !file.open(QIODevice::ReadOnly)) {
        qCCritical(lcCatering, "TabloraWorker - can not open file '%s' for read!",
            qUtf8Printable(pdf.fileName()));
    } else {
        const QByteArray bytes = file.readAll();
        file.close();
        if (bytes.isEmpty()) {
            qCCritical(lcCatering, "TabloraWorker - order PDF '%s' is empty!",
                qUtf8Printable(pdf.fileName()));
            return false;
        }
        const QString mimeType = QMimeDatabase().mimeTypeForFile(pdf.fileName()).name();
        QJsonObject attachment;
        attachment.insert(QStringLiteral("type"), mimeType);
        attachment.insert(QStringLiteral("name"), attachmentName);
        attachment.insert(QStringLiteral("content"), QString::fromLatin1(bytes.toBase64()));
        QJsonObject document;
        document.insert(QStringLiteral("attachments"), QJsonArray { attachment });
        data = QJsonDocument(document).toJson();
    }

    if (data.isEmpty()) {
        // A supplier cannot act on an order mail without its document: keep the
        // group due so that the next tick prints it again.
        qCWarning(lcCatering, "TabloraWorker - order mail to '%s' not queued without its PDF.",
            qUtf8Printable(mailTo));
        return false;
    }

    MailRecord mail;
    mail.type = QLatin1Char('C');
    mail.from = sender;
    mail.to = mailTo;
    mail.subject = subject;
    mail.body = body;
    mail.data = data;

    MailRepository repository;
    repository.debug = true;
    repository.setDB(db);
    const int mid = repository.addMail(mail);
    if (mid == 0)
        qCWarning(lcCatering,
            "TabloraWorker - order mail to '%s' not queued: no sender, recipient or subject!",
            qUtf8Printable(mailTo));
    else if (mid > 0)
        qCInfo(lcCatering,
            "TabloraWorker::createMail() - tenant \"%s\" supplier \"%s\" meal day %s (%s): order "
            "mail to '%s' queued as mid: %d",
            qUtf8Printable(db.databaseName()), qUtf8Printable(reportSupplierName),
            qUtf8Printable(reportDate.toString(Qt::ISODate)), qUtf8Printable(reportSegmentName),
            qUtf8Printable(mailTo), mid);
    return mid != -1;
}

QString TabloraWorker::describeEvaluationErrors(
    const QString &templateFile, const QList<RptEvaluationError> &errors)
{
    QStringList parts;
    for (const RptEvaluationError &e : errors) {
        const QString where = e.field.isEmpty()
            ? QStringLiteral("line %1").arg(e.line)
            : QStringLiteral("field %1 line %2").arg(e.field).arg(e.line);
        parts.append(where + QStringLiteral(": ") + e.message);
    }
    return QStringLiteral("template %1: %2")
        .arg(QFileInfo(templateFile).fileName(), parts.join(QStringLiteral("; ")));
}

void TabloraWorker::setDSInfo(DataSetInfo &dsInfo)
{
    dsInfo.recCount = reportOrders.size();
}

void TabloraWorker::setValue(
    const int recNo, const QString paramName, QVariant &paramValue, const int reportPage)
{
    Q_UNUSED(reportPage)
    const OrderRecord record
        = recNo >= 0 && recNo < reportOrders.size() ? reportOrders.at(recNo) : OrderRecord();
    if (paramName == QLatin1String("name")) {
        paramValue = record.name;
    } else if (paramName == QLatin1String("quant")) {
        paramValue = record.quantity;
    } else if (paramName == QLatin1String("header")) {
        paramValue = tr("Záväzná objednávka - ") + companyName + QLatin1Char(' ')
            + reportDate.toString(QStringLiteral("d. M. yyyy")) + QStringLiteral(", ")
            + reportSegmentName + QStringLiteral(": ") + reportSupplierName;
    } else if (paramName == QLatin1String("branchName")) {
        paramValue = bid2nameMap.value(record.bid);
    }
}

void TabloraWorker::loadCatAutoInformativeMealsSetting()
{
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral(
            "SELECT value FROM vars WHERE name = 'cat_autoInformativeMealsEnabled'"))) {
        qCWarning(lcCatering) << "TabloraWorker::loadCatAutoInformativeMealsSetting() ::: Chyba "
                                 "pri načítaní nastavenia:"
                              << query.lastError().text();
        return;
    }
    if (query.next())
        isCatAutoInformativeMeals = query.value(0).toInt() == 1;
    qCDebug(lcCatering) << "TabloraWorker::loadCatAutoInformativeMealsSetting() ::: Nastavenie "
                           "isCatAutoInformativeMeals = "
                        << (isCatAutoInformativeMeals ? "true" : "false");
}

namespace {
struct InformativeMeal
{
    qint32 orderableID = 0;
    qint32 segmentID = 0;
    qint32 bid = 0;
    QDate date;
};

struct OrderData
{
    qint32 uid = 0;
    qint32 segmentID = 0;
    qint32 bid = 0;
    QDate date;
    QString ordered;
};
} // namespace

void TabloraWorker::addInformativeMeals()
{
    addInformativeMealsFrom(now().date());
}

void TabloraWorker::addInformativeMealsFrom(const QDate &day)
{
    qCDebug(lcCatering) << "<<< START TabloraWorker::addInformativeMeals() >>>";
    const QString today = day.toString(QStringLiteral("yyyy-MM-dd"));
    const QString marker = autoMarker();

    QSqlQuery suppliers(db);
    suppliers.prepare(
        QStringLiteral("\n        SELECT DISTINCT cf.supplierID\n        FROM cat_orderables co\n"
                       "        JOIN cat_foods cf ON co.foodID = cf.foodID\n"
                       "        WHERE co.locked = 1 AND co.date >= :currentDate\n    "));
    suppliers.bindValue(QStringLiteral(":currentDate"), today);
    if (!suppliers.exec()) {
        qCWarning(lcCatering) << "Chyba pri načítaní dodávateľov: " << suppliers.lastError().text();
        return;
    }
    QVector<int> supplierIDs;
    while (suppliers.next())
        supplierIDs.append(suppliers.value(0).toInt());

    for (const int sid : qAsConst(supplierIDs)) {
        qCDebug(lcCatering) << "=== Spracovanie dodávateľa supplierID:" << sid << "===";

        QSqlQuery mealsQuery(db);
        mealsQuery.prepare(QStringLiteral(
            "\n            SELECT co.orderableID, co.segmentID, co.bid, co.date\n"
            "            FROM cat_orderables co\n"
            "            JOIN cat_foods cf ON co.foodID = cf.foodID\n"
            "            JOIN cat_types ct ON cf.typeID = ct.typeID\n"
            "            WHERE ct.informative = 1 AND co.locked = 1 AND co.date >= :currentDate\n"
            "              AND cf.supplierID = :supplierID\n        "));
        mealsQuery.bindValue(QStringLiteral(":currentDate"), today);
        mealsQuery.bindValue(QStringLiteral(":supplierID"), sid);
        if (!mealsQuery.exec()) {
            qCWarning(lcCatering) << "Chyba pri načítaní informative meals pre supplierID " << sid
                                  << ": " << mealsQuery.lastError().text();
            continue;
        }
        QVector<InformativeMeal> meals;
        while (mealsQuery.next()) {
            InformativeMeal meal;
            meal.orderableID = mealsQuery.value(0).toInt();
            meal.segmentID = mealsQuery.value(1).toInt();
            meal.bid = mealsQuery.value(2).toInt();
            meal.date = mealsQuery.value(3).toDate();
            meals.append(meal);
        }

        QSqlQuery ordersQuery(db);
        ordersQuery.prepare(
            QStringLiteral("\n            SELECT co.uid, o.segmentID, o.bid, o.date, co.ordered, "
                           "co.quantity\n"
                           "            FROM cat_orders co\n"
                           "            JOIN cat_orderables o ON co.orderableID = o.orderableID\n"
                           "            JOIN cat_foods cf ON o.foodID = cf.foodID\n"
                           "            WHERE o.locked = 1 AND o.date >= :currentDate AND "
                           "cf.supplierID = :supplierID\n        "));
        ordersQuery.bindValue(QStringLiteral(":currentDate"), today);
        ordersQuery.bindValue(QStringLiteral(":supplierID"), sid);
        if (!ordersQuery.exec()) {
            qCWarning(lcCatering) << "Chyba pri načítaní objednávok pre supplierID " << sid << ": "
                                  << ordersQuery.lastError().text();
            continue;
        }
        QSet<QString> autoKeys;
        QVector<OrderData> userOrders;
        while (ordersQuery.next()) {
            OrderData order;
            order.uid = ordersQuery.value(0).toInt();
            order.segmentID = ordersQuery.value(1).toInt();
            order.bid = ordersQuery.value(2).toInt();
            order.date = ordersQuery.value(3).toDate();
            order.ordered = ordersQuery.value(4).toString();
            if (order.ordered.startsWith(marker))
                autoKeys.insert(orderKey(order.uid, order.segmentID, order.bid, order.date));
            else if (ordersQuery.value(5).toInt() > 0)
                // A row without portions is no order, as in the due orders.
                userOrders.append(order);
        }

        QSqlQuery insert(db);
        insert.prepare(QStringLiteral(
            "\n            INSERT INTO cat_orders (orderableID, uid, quantity, ordered)\n"
            "            VALUES (:orderableID, :uid, 1, :ordered)\n        "));
        for (const OrderData &od : qAsConst(userOrders)) {
            const QString key = orderKey(od.uid, od.segmentID, od.bid, od.date);
            // A diner gets each informative meal once per segment, branch and
            // day, however many orders of this supplier they hold there.
            if (autoKeys.contains(key))
                continue;
            bool added = false;
            for (const InformativeMeal &meal : qAsConst(meals)) {
                if (meal.segmentID != od.segmentID || meal.bid != od.bid || meal.date != od.date)
                    continue;
                const QStringList parts
                    = od.ordered.split(QStringLiteral(", "), Qt::KeepEmptyParts, Qt::CaseSensitive);
                const QString ordered = QStringLiteral("%1, %2").arg(
                    marker, parts.value(1) + QStringLiteral(", ") + parts.value(2));
                insert.bindValue(QStringLiteral(":orderableID"), meal.orderableID);
                insert.bindValue(QStringLiteral(":uid"), od.uid);
                insert.bindValue(QStringLiteral(":ordered"), ordered);
                if (!insert.exec())
                    qCWarning(lcCatering)
                        << "Chyba pri vkladaní automatického jedla: " << insert.lastError().text();
                else
                    added = true;
            }
            if (added)
                autoKeys.insert(key);
        }
    }
    qCDebug(lcCatering) << "<<< END TabloraWorker::addInformativeMeals() >>>";
}

void TabloraWorker::removeAutoInformativeMeals()
{
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("DELETE FROM cat_orders WHERE ordered LIKE 'Tablora-auto%'"))) {
        qCWarning(lcCatering) << "TabloraWorker::removeAutoInformativeMeals() ::: Chyba pri mazaní "
                                 "automatických objednávok:"
                              << query.lastError().text();
        return;
    }
    qCDebug(lcCatering)
        << "TabloraWorker::removeAutoInformativeMeals() ::: Automatické objednávky odstránené.";
}
