#pragma once

#include "branchmailrecord.h"
#include "orderrecord.h"
#include "suppliermailrecord.h"
#include "suppliertimerecord.h"

#include <QDate>
#include <QHash>
#include <QSet>
#include <QSqlDatabase>
#include <QString>
#include <QVector>

#include <functional>

class QSqlQuery;

// The catering configuration and the orderables of a tenant as the worker
// reads them, one statement each. It holds nothing but the connection, so
// the worker makes a fresh one per read; the decisions (which slot is due,
// which order goes out) stay with the worker.
//
// Results instead of exceptions: every loader returns false (and logs the
// statement's error) when its read failed, and leaves its output as the
// comment says.
class CateringRepository
{
public:
    explicit CateringRepository(const QSqlDatabase &db);

    // The address order mails are sent from; the default sender when the
    // tenant has none. Left as it was when the read failed (unless empty).
    bool loadSender(QString &sender);
    // The tenant's licence name; empty without one, unchanged on failure.
    bool loadCompanyName(QString &name);
    // Emptied first.
    bool loadSupplierMails(QVector<SupplierMailRecord> &mails);
    bool loadBranchMails(QVector<BranchMailRecord> &mails);
    bool loadBranchNames(QHash<int, QString> &names);
    // Free days; empty when the read failed.
    QSet<QDate> loadHolidays(bool *ok = nullptr);
    // Per supplier, whether its slots skip free days. A missing or malformed
    // setting is a valid answer (none does).
    QHash<uint, bool> loadSupplierSkipDays(bool *ok = nullptr);
    // The send slots as stored, by supplier, days before (most first), time.
    bool loadSendSlots(QVector<SupplierTimeRecord> &stored);
    // Every locked orderable whose meal is still ahead at today (the time of
    // day from the server's clock), with its quantity summed over the
    // orders; sentBefore holds its `sent` column. take sees each record and
    // says whether to keep it (and may complete it).
    bool loadOrderables(const QDate &today, QVector<OrderRecord> &orderables,
        const std::function<bool(OrderRecord &)> &take);

private:
    // Runs sql; a failure is logged as "TabloraWorker - <operation> ERROR".
    bool exec(QSqlQuery &query, const QString &sql, const char *operation);

    QSqlDatabase m_db;
};
