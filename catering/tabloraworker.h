#pragma once

#include "branchmailrecord.h"
#include "orderrecord.h"
#include "rptevaluationerror.h"
#include "sendslotrule.h"
#include "suppliermailrecord.h"
#include "suppliertimerecord.h"

#include <QDate>
#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QSqlDatabase>
#include <QVariant>
#include <QVector>

#include <functional>

class DBManager;
class QTimer;
class RptEngine;
struct DataSetInfo;

// Serves one tenant database. Once a minute (timerTick) it reloads the
// tenant's catering configuration, adds automatic informative meals when the
// tenant wants them, finds the orderables that are due at their supplier by
// the send-slot rule (SendSlotRule), queues one order mail with its PDF per
// (supplier, segment, meal day) group and supplier address, and records the
// slot in cat_orderables.sent. A tick whose configuration reads failed
// queues nothing and marks nothing: its orders stay due for the next tick.
//
// States: constructed (nothing loaded, timer stopped); started (connection
// opened, ticking every 60 s until the worker is deleted or its timer
// stopped). The report engine with the order template exists only while a
// tick prints. The worker, its connection, timer and report engine belong
// to one thread; in multi-tenant mode it is deleted
// through its thread's finished() signal.
class TabloraWorker : public QObject
{
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;

    TabloraWorker(QSqlDatabase db, QObject *parent = nullptr);
    ~TabloraWorker() override;

    // The poll timer; the plug-in stops and restarts it for pause/resume.
    QTimer *pollTimer() const { return timer; }
    QString connectionName() const { return db.connectionName(); }
    // Closes the connection now and lets go of it, so that the deferred
    // deletion of a stopped worker cannot close it under a successor that
    // shares it.
    void closeConnection();

    // Multi-tenant mode on a shared host: the connection is open only during
    // a tick and counts against the host's budget, and a tick runs only while
    // leaseCurrent says this host still serves the tenant. Call before start().
    void setHostLimits(DBManager *budget, std::function<bool()> leaseCurrent);

    // The worker's idea of now (today and the time of day). Tests set a
    // fixed clock; the statements that compare with the server's CURTIME()
    // follow the session time of the worker's connection instead.
    void setClock(Clock clock);
    QDateTime now() const;

    // One tick's steps, in the order timerTick() runs them. A loader returns
    // false when its read failed. The forms without a moment read the clock;
    // a tick reads it once and hands that moment to every step.
    void timerTick();
    bool getSender();
    bool getCompanyName();
    bool getSupplierMails();
    bool getBranchMails();
    bool loadSupplierTimes();
    bool loadSupplierTimes(const QDateTime &at);
    bool getOrders();
    bool getOrders(const QDateTime &at);
    void processOrders();
    bool setSent(const QVector<OrderRecord> &list);
    bool createMail(const QString &mailTo, const QVector<OrderRecord> &orders);

    // What the current tick found and loaded.
    const QVector<OrderRecord> &dueOrders() const { return orders; }
    const QVector<SupplierTimeRecord> &sendSlots() const { return supplierTimes; }
    const QVector<SupplierMailRecord> &supplierAddresses() const { return supplierMails; }
    const QVector<BranchMailRecord> &branchAddresses() const { return branchMails; }
    const QHash<int, QString> &branchNames() const { return bid2nameMap; }
    QString senderAddress() const { return sender; }
    QString company() const { return companyName; }
    bool autoInformativeMeals() const { return isCatAutoInformativeMeals; }
    // Only while a tick prints; null between ticks.
    RptEngine *reportEngine() const { return report; }
    // The order template, the plug-in's own unless tests hand another;
    // read when a tick starts printing.
    void setReportTemplate(const QString &fileName) { reportTemplate = fileName; }
    // What a log line says of an order document's evaluation errors:
    // "template NAME.xml: field F line L: message; ...".
    static QString describeEvaluationErrors(
        const QString &templateFile, const QList<RptEvaluationError> &errors);

    // The marker that starts the `ordered` text of an automatic order.
    static QString autoMarker();

public slots:
    void setValue(
        const int recNo, const QString paramName, QVariant &paramValue, const int reportPage);
    void setDSInfo(DataSetInfo &dsInfo);
    void start();

private slots:
    bool getBid2NameMap();
    QSet<QDate> loadHolidays(bool *ok = nullptr);
    QHash<uint, bool> loadSupplierSkipDays(bool *ok = nullptr);
    void addInformativeMeals();
    void loadCatAutoInformativeMealsSetting();
    void removeAutoInformativeMeals();

private:
    void addInformativeMealsFrom(const QDate &today);
    // Queues one group's mails and records its slot, all or nothing.
    void sendGroup(const QVector<OrderRecord> &group);
    void runTick();
    void openReport();
    void closeReport();

    DBManager *budget = nullptr;
    std::function<bool()> leaseCurrent;
    // Since when the current tick has been waiting for a connection.
    QElapsedTimer retryClock;

    QTimer *timer = nullptr;
    QSqlDatabase db;
    QVector<OrderRecord> orders;
    QVector<SupplierMailRecord> supplierMails;
    QVector<SupplierTimeRecord> supplierTimes;
    SendSlotRule slotRule;
    QVector<BranchMailRecord> branchMails;
    QString sender;
    QString subject;
    QString companyName;
    RptEngine *report = nullptr;
    QString reportTemplate = QStringLiteral(":/reports/menureportbybranches.xml");
    QVector<OrderRecord> reportOrders;
    QDate reportDate;
    QString reportSegmentName;
    QString reportSupplierName;
    QHash<int, QString> bid2nameMap;
    bool isCatAutoInformativeMeals = false;
    Clock clock;
};
