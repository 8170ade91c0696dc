#include "mailing.h"

#include "dbmanager.h"
#include "mailinglogging.h"
#include "metricsregistry.h"
#include "outcomestatement.h"
#include "sqlescape.h"

#include <QDateTime>
#include <QMetaMethod>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QSysInfo>
#include <QThread>
#include <QTimer>

namespace {
const QString kPendingRows = QStringLiteral(
    "SELECT * FROM emails WHERE done IS NULL AND apiID IS NULL ORDER BY created LIMIT 100");
// Our own marks ("yxa-claim:", "yxa-queued-without-id") name no message of the
// provider: a claimed row is out at this or another host.
const QString kRowsToCheck = QStringLiteral("SELECT mid, apiID FROM emails WHERE status ='Q' AND "
                                            "apiID IS NOT NULL AND apiID NOT LIKE 'yxa-%' "
                                            "ORDER BY created LIMIT 100");
// A pass never waits for a connection of the host's budget: the worker's
// thread serves other tenants, whose replies would wait with it. A pass that
// finds the budget used up is left to the next poll.
const int kBudgetWaitMs = 0;
// The tenant's share of the host's queue gauges: pending rows, those of them
// waiting for a further attempt, and the oldest one not waiting.
const QString kQueueGauges = QStringLiteral(
    "SELECT COUNT(*), 0, MIN(created) FROM emails WHERE done IS NULL AND apiID IS NULL");
const QString kQueueGaugesWithRetries = QStringLiteral(
    "SELECT COUNT(*), COUNT(r.mid), MIN(IF(r.mid IS NULL, e.created, NULL)) FROM emails e LEFT "
    "JOIN `email_retries` r ON r.mid = e.mid WHERE e.done IS NULL AND e.apiID IS NULL");
} // namespace

Mailing::Mailing(QObject *parent)
    : QObject(parent)
    , timer(new QTimer)
{
    connect(timer, &QTimer::timeout, this, &Mailing::processQueue);
    history.setHost(QSysInfo::machineHostName());
}

Mailing::~Mailing()
{
    // Its queued write would die with this object.
    writeDeferred();
    timer->stop();
    // Destroyed with its worker in the thread's last deferred-deletion pass,
    // which would never serve a deleteLater() posted from here.
    if (timer->thread() == QThread::currentThread())
        delete timer;
    else
        timer->deleteLater();
}

void Mailing::setDebugLevel(const uchar &level)
{
    debugLevel = level;
}

void Mailing::initDB(const QSqlDatabase &db)
{
    if (debugLevel > 1)
        qCDebug(lcMailing, "Mailing::initDB(%s)", qUtf8Printable(db.connectionName()));
    database = db;
    history.setDatabase(db);
    claims.setDatabase(db);
}

void Mailing::setHostLimits(
    DBManager *manager, std::function<bool()> current, const QString &holder)
{
    budget = manager;
    leaseCurrent = std::move(current);
    claims.setHolder(holder);
    if (!holder.isEmpty())
        history.setHost(holder);
}

bool Mailing::dbConnect()
{
    if (debugLevel)
        qCDebug(lcMailing, "Mailing::dbConnect() to %s", qUtf8Printable(database.connectionName()));
    if (database.isOpen())
        return true;
    budgetRefused = false;
    if (budget && !holdsBudget) {
        if (!budget->acquireConnection(kBudgetWaitMs)) {
            budgetRefused = true;
            return false;
        }
        holdsBudget = true;
    }
    if (database.open())
        return true;
    if (holdsBudget) {
        budget->releaseConnection();
        holdsBudget = false;
    }
    if (database.lastError().isValid())
        qCCritical(lcMailing, "Mailing::dbConnect() to %s - SQL ERROR: %s",
            qUtf8Printable(database.connectionName()), qUtf8Printable(database.lastError().text()));
    return false;
}

bool Mailing::dbDisconnect()
{
    if (debugLevel)
        qCDebug(lcMailing, "Mailing::dbDisconnect() from %s",
            qUtf8Printable(database.connectionName()));
    database.close();
    if (holdsBudget) {
        budget->releaseConnection();
        holdsBudget = false;
    }
    return !database.isOpen();
}

void Mailing::releaseIfIdle()
{
    // Rows waiting in the stack need no connection until their pass: with
    // thousands of tenants the budget must go round between passes. A burst
    // is one pass: it keeps its connection from the first mail to the last.
    // Outcomes kept for a database that failed are written at the next read,
    // which connects again anyway.
    if (budget && database.isOpen() && !outstanding && !burstActive)
        dbDisconnect();
}

void Mailing::timerStart(uint ms)
{
    m_interval = ms;
    timer->start(int(ms));
}

void Mailing::timerStop()
{
    timer->stop();
}

void Mailing::setPassLimits(uint mails, uint seconds)
{
    m_mailsPerPass = qMax(1u, mails);
    m_passSeconds = qMax(1u, seconds);
}

bool Mailing::isTimerActive() const
{
    return timer->isActive();
}

QList<uint> Mailing::stackMids() const
{
    QList<uint> mids;
    for (const auto &entry : stack)
        mids << entry.value(QStringLiteral("mid")).toUInt();
    return mids;
}

void Mailing::processQueue()
{
    if (debugLevel > 1)
        qCDebug(lcMailing, "Mailing::processQueue() #%u", ++passCounter);
    if (busy) {
        qCWarning(
            lcMailing, "Mailing::processQueue() - stack is processing, this iteration is skipped!");
        return;
    }
    // The burst running now is this pass; it ends by itself.
    if (burstActive || retiring)
        return;
    // Another host may serve the tenant by now: no read, no send.
    if (leaseCurrent && !leaseCurrent()) {
        if (debugLevel)
            qCWarning(lcMailing,
                "Mailing::processQueue() - the tenant's lease is not current, pass skipped");
        return;
    }
    busy = true;

    // A pass either reads (empty stack) or hands out; the first mail of a
    // read leaves on the pass scheduled 500 ms after it.
    if (stack.isEmpty())
        readDatabase();
    else
        handOut();

    busy = false;
    releaseIfIdle();
}

void Mailing::readDatabase(bool scheduleHandOut, bool askStates)
{
    if (debugLevel > 1)
        qCDebug(lcMailing, "Mailing::processQueue() reading DB...");
    const bool connected = dbConnect();
    // The budget's own warning says when it is used up, once a minute.
    if (!connected && !budgetRefused)
        qCCritical(lcMailing, "Mailing::processQueue() can't connect to KEXDB !");

    if (connected)
        flushUnwritten();
    if (connected && claims.isActive())
        claims.expire([this](uint mid) {
            return (outstanding && mid == outMid) || unwritten.contains(mid) || mid == claimedAhead
                || (hasDeferred && mid == deferred.mid);
        });

    // Without its own tables the tenant's mail goes out as it always did.
    const bool retries = connected && history.prepare();
    if (retries)
        history.prune(historyDays);

    if (connected) {
        QSqlQuery query(database);
        if (query.exec(retries ? AttemptHistory::pendingRowsStatement() : kPendingRows)) {
            // Columns by position: a lookup by name builds the whole record
            // for every value, which a burst of large rows feels.
            const QSqlRecord columns = query.record();
            const int midColumn = columns.indexOf(QStringLiteral("mid"));
            const int fromColumn = columns.indexOf(QStringLiteral("from"));
            const int toColumn = columns.indexOf(QStringLiteral("to"));
            const int subjectColumn = columns.indexOf(QStringLiteral("subject"));
            const int bodyColumn = columns.indexOf(QStringLiteral("body"));
            const int dataColumn = columns.indexOf(QStringLiteral("data"));
            const int attemptsColumn = columns.indexOf(QStringLiteral("yxa_attempts"));
            while (query.next()) {
                const uint mid = query.value(midColumn).toUInt();
                // Delivered (or failed) already; only the table does not know yet.
                if (unwritten.contains(mid))
                    continue;
                if (settled.remove(mid))
                    settledOrder.removeOne(mid);
                // The row at the transport is still pending in the table
                // until its report arrives; reading it again would send it twice.
                if (outstanding && mid == outMid)
                    continue;
                const QString to = query.value(toColumn).toString();
                if (to.isEmpty()) {
                    sentReply(mid, QStringLiteral("bad"), QString());
                    continue;
                }
                QHash<QString, QVariant> entry;
                entry.insert(QStringLiteral("mid"), mid);
                entry.insert(QStringLiteral("from"), query.value(fromColumn).toString());
                entry.insert(QStringLiteral("to"), to);
                entry.insert(QStringLiteral("subject"), query.value(subjectColumn).toString());
                entry.insert(QStringLiteral("body"), query.value(bodyColumn).toByteArray());
                entry.insert(QStringLiteral("data"), query.value(dataColumn).toByteArray());
                entry.insert(QStringLiteral("attempts"),
                    attemptsColumn < 0 ? 0 : query.value(attemptsColumn).toInt());
                stack.append(entry);
                // While a mail is out, the transport is not ready before its report.
                if (!outstanding)
                    ready = true;
            }
            if (!stack.isEmpty() && scheduleHandOut)
                QTimer::singleShot(500, this, &Mailing::processQueue);
        }
        if (query.lastError().isValid())
            qCCritical(lcMailing) << "Mailing::processQueue() SQL ERROR:"
                                  << query.lastError().text();
    }

    // A burst goes on sending; states are asked on the regular read passes.
    if (!askStates)
        return;
    if (connected && MetricsRegistry::instance())
        readQueueGauges(retries);
    if (debugLevel > 1)
        qCDebug(lcMailing, "Mailing::processQueue() Queued emails processing..");
    QSqlQuery check(database);
    if (check.exec(kRowsToCheck)) {
        while (check.next()) {
            const uint mid = check.value(QStringLiteral("mid")).toUInt();
            // Its answer is known, only not yet written: a second answer
            // would count the delivery again.
            if (unwritten.contains(mid))
                continue;
            emit toCheck(mid, check.value(QStringLiteral("apiID")).toString());
        }
    }
    if (check.lastError().isValid())
        qCCritical(lcMailing) << "Mailing::processQueue() SQL ERROR:" << check.lastError().text();
}

bool Mailing::flushUnwritten()
{
    while (!unwrittenOrder.isEmpty()) {
        const uint mid = unwrittenOrder.first();
        QSqlQuery query(database);
        if (!query.exec(unwritten.value(mid))) {
            qCWarning(lcMailing) << "Mailing::sentReply() MySQL ERROR" << query.lastError().text();
            return false;
        }
        unwrittenOrder.removeFirst();
        unwritten.remove(mid);
    }
    return true;
}

bool Mailing::claim(uint mid, int attemptsMade)
{
    return dbConnect() && claims.claim(mid, attemptsMade, history.isAvailable());
}

void Mailing::handOut()
{
    if (debugLevel > 1)
        qCDebug(lcMailing) << "Mailing::processQueue() Stack processing, emails:" << stack.size();
    // Nobody would ever answer a mail handed out now (an unknown mailing
    // type): it stays here until a transport is wired.
    if (ready && !isSignalConnected(QMetaMethod::fromSignal(&Mailing::toSend))) {
        if (debugLevel)
            qCWarning(lcMailing,
                "Mailing::processQueue() - Stack processing (%i): no transport connected",
                int(stack.size()));
        return;
    }
    if (ready) {
        // A pass that hands out only restarts a running timer: a processor
        // that was stopped (or never started) must not start polling by itself.
        const bool wasRunning = timer->isActive();
        timer->stop();
        if (m_mailsPerPass > 1) {
            // The poll timer rests until the burst ends: the next pass is
            // one interval after the last mail of this one.
            burstActive = true;
            updateInFlight();
            burstTimerWasRunning = wasRunning;
            burstSent = 0;
            burstBroken = false;
            burstClock.start();
            if (!sendNext())
                endBurst();
            return;
        }
        while (!stack.isEmpty() && ready)
            sendNext();
        if (wasRunning)
            timer->start(int(m_interval));
    } else if (debugLevel) {
        qCWarning(lcMailing, "Mailing::processQueue() - Stack processing (%i): waiting for reply",
            int(stack.size()));
    }
}

bool Mailing::sendNext()
{
    while (!stack.isEmpty()) {
        const QHash<QString, QVariant> entry = stack.takeFirst();
        const int attempts = entry.value(QStringLiteral("attempts")).toInt();
        const uint mid = entry.value(QStringLiteral("mid")).toUInt();
        const bool claimed = claimedAhead != 0 && claimedAhead == mid;
        claimedAhead = 0;
        if (claims.isActive() && !claimed && !claim(mid, attempts))
            continue;
        ready = false;
        outstanding = true;
        outMid = entry.value(QStringLiteral("mid")).toUInt();
        updateInFlight();
        outAttempts = attempts;
        ++burstSent;
        metrics.handedOut(outMid);
        emit toSend(outMid, entry.value(QStringLiteral("from")).toString(),
            entry.value(QStringLiteral("to")).toString(),
            entry.value(QStringLiteral("subject")).toString(),
            entry.value(QStringLiteral("body")).toByteArray(),
            entry.value(QStringLiteral("data")).toByteArray());
        return true;
    }
    return false;
}

void Mailing::continueBurst()
{
    if (!burstActive || outstanding || !ready || retiring) {
        writeDeferred();
        return;
    }
    const bool timeUp = burstClock.hasExpired(qint64(m_passSeconds) * 1000);
    const bool over = burstBroken || burstSent >= m_mailsPerPass || timeUp
        || (leaseCurrent && !leaseCurrent())
        || !isSignalConnected(QMetaMethod::fromSignal(&Mailing::toSend));
    if (!over && stack.isEmpty()) {
        if (dbConnect())
            readDatabase(false, false);
    }
    if (over)
        releaseClaimAhead();
    const bool sent = !over && sendNext();
    // The outcome of the mail before is written once the next one is out:
    // queued behind the transport's send, which the worker queues as well.
    if (sent)
        QMetaObject::invokeMethod(this, &Mailing::afterHandOut, Qt::QueuedConnection);
    else
        writeDeferred();
    if (!sent) {
        endBurst();
        // passSeconds shares the thread, it does not throttle a backlog: the
        // next pass comes as soon as the thread's other tenants were served,
        // not an interval later.
        if (timeUp && !burstBroken && burstTimerWasRunning && !stack.isEmpty())
            QMetaObject::invokeMethod(this, &Mailing::processQueue, Qt::QueuedConnection);
    }
}

void Mailing::endBurst()
{
    if (debugLevel > 1)
        qCDebug(lcMailing, "Mailing::processQueue() - burst of %u mails in %lld ms ended",
            burstSent, burstClock.elapsed());
    writeDeferred();
    burstActive = false;
    updateInFlight();
    emit passEnded();
    if (burstTimerWasRunning && !retiring)
        timer->start(int(m_interval));
    releaseIfIdle();
}

void Mailing::readQueueGauges(bool retries)
{
    QSqlQuery query(database);
    if (query.exec(retries ? kQueueGaugesWithRetries : kQueueGauges) && query.next())
        metrics.queueRead(query.value(0).toInt() - query.value(1).toInt(), query.value(1).toInt(),
            query.value(2).isNull() ? -1 : query.value(2).toLongLong());
}

void Mailing::updateInFlight()
{
    if (inFlightFlag)
        inFlightFlag->store(outstanding || burstActive);
}

void Mailing::releaseClaim(uint mid)
{
    if (claims.isActive() && dbConnect())
        claims.release(mid);
}

bool Mailing::burstGoesOn(const QString &status) const
{
    return burstActive && !retiring && !burstBroken && status != QLatin1String("neterror")
        && claims.isActive() && !stack.isEmpty() && burstSent < m_mailsPerPass
        && !burstClock.hasExpired(qint64(m_passSeconds) * 1000) && (!leaseCurrent || leaseCurrent())
        && isSignalConnected(QMetaMethod::fromSignal(&Mailing::toSend));
}

bool Mailing::claimAhead()
{
    const auto &entry = stack.first();
    const uint mid = entry.value(QStringLiteral("mid")).toUInt();
    const int attempts = entry.value(QStringLiteral("attempts")).toInt();
    QSqlQuery query(database);
    if (!query.exec(claims.claimStatement(mid, attempts, history.isAvailable()))) {
        qCInfo(lcMailing) << "Mailing::sentReply() - mid:" << mid
                          << "not claimed ahead, it is claimed on its own:"
                          << query.lastError().text();
        return false;
    }
    // Taken by another host: sendNext() finds that out again and skips it.
    if (query.numRowsAffected() == 1)
        claimedAhead = mid;
    return true;
}

void Mailing::releaseClaimAhead()
{
    if (!claimedAhead)
        return;
    releaseClaim(claimedAhead);
    claimedAhead = 0;
}

void Mailing::retire()
{
    if (retiring)
        return;
    retiring = true;
    timer->stop();
    releaseClaimAhead();
    writeDeferred();
    // Rows read but not yet claimed are simply left in the table.
    stack.clear();
    if (burstActive) {
        burstActive = false;
        updateInFlight();
        emit passEnded();
    }
    checkDrained();
}

void Mailing::checkDrained()
{
    if (!retiring || drainedSent || outstanding)
        return;
    if (!unwritten.isEmpty() && dbConnect())
        flushUnwritten();
    if (!unwritten.isEmpty())
        qCWarning(lcMailing) << "Mailing::retire() -" << unwritten.size()
                             << "outcomes could not be written; their rows stay claimed";
    if (budget)
        dbDisconnect();
    drainedSent = true;
    emit drained();
}

void Mailing::attemptFailed(uint mid, QString transport, QString kind, QString reply)
{
    failedMid = mid;
    failedTransport = transport;
    failedKind = kind;
    failedReply = reply;
}

bool Mailing::settleAttempt(const Report &report)
{
    // Only these words stand for a request that went out; anything else
    // (a send that never started, a word not known here) is no attempt.
    static const QStringList attemptWords { QStringLiteral("sent"), QStringLiteral("queued"),
        QStringLiteral("error"), QStringLiteral("neterror"), QStringLiteral("bad"),
        QStringLiteral("invalid"), QStringLiteral("rejected") };
    const uint mid = report.mid;
    const QString &status = report.status;
    const bool reported = !report.failedKind.isEmpty();
    const QString transport = reported ? report.failedTransport : transportName;
    const QString kind = reported ? report.failedKind : QStringLiteral("refused");
    const QString reply = reported ? report.failedReply : QString();
    if (!attemptWords.contains(status))
        return false;

    const bool accepted = status == QLatin1String("sent") || status == QLatin1String("queued");
    const int attempt = report.attemptsMade + 1;
    const QString tenant = database.databaseName();
    int wait = -1;
    // A failure the transport could not judge counts as final: the mail
    // may be out.
    if (!accepted && kind == QLatin1String("temporary") && history.isAvailable()) {
        wait = retrySchedule.delayAfter(attempt);
        if (wait >= 0 && !history.scheduleNext(mid, attempt, wait))
            wait = -1;
    }
    history.record(
        mid, attempt, transport, accepted ? QStringLiteral("accepted") : kind, status, reply, wait);
    metrics.attempt(accepted ? QStringLiteral("accepted") : kind);
    if (wait < 0 && report.attemptsMade > 0)
        history.clear(mid);

    if (accepted) {
        qCInfo(lcMailing, "Mailing::sentReply() - tenant \"%s\" mid: %u %s via %s, attempt %d",
            qUtf8Printable(tenant), mid, qUtf8Printable(status), qUtf8Printable(transport),
            attempt);
        return false;
    }
    const int attempts = history.isAvailable() ? retrySchedule.attempts() : 1;
    const QString next = wait >= 0
        ? QStringLiteral("next attempt at %1")
              .arg(QDateTime::currentDateTimeUtc().addSecs(wait).toString(Qt::ISODate))
        : QStringLiteral("final, %1").arg(OutcomeStatement::letterOf(status));
    qCWarning(lcMailing,
        "Mailing::sentReply() - tenant \"%s\" mid: %u via %s, attempt %d of %d, %s (%s), %s: "
        "\"%s\"",
        qUtf8Printable(tenant), mid, qUtf8Printable(transport), attempt, qMax(attempts, attempt),
        qUtf8Printable(kind), qUtf8Printable(status), qUtf8Printable(next), qUtf8Printable(reply));
    return wait >= 0;
}

void Mailing::sentReply(uint mid, QString status, QString apiID)
{
    if (debugLevel)
        qCDebug(lcMailing) << "Mailing::sentReply() mid:" << mid << " status:" << status
                           << " api ID:" << apiID;

    // Send reports always concern the row that is out; anything else answers
    // a delivery-state question.
    const bool answersCheck = !(outstanding && mid == outMid);
    // The provider keeps a scheduled mail as it keeps a queued one.
    if (!answersCheck && status == QLatin1String("scheduled"))
        status = QStringLiteral("queued");
    if (status == QLatin1String("unsent")) {
        if (!answersCheck) {
            releaseClaim(mid);
            outstanding = false;
            ready = true;
            updateInFlight();
            // The transport could not write it now; the rest waits for the next pass.
            burstBroken = true;
            if (burstActive)
                QMetaObject::invokeMethod(this, &Mailing::continueBurst, Qt::QueuedConnection);
            checkDrained();
            releaseIfIdle();
        }
        return;
    }
    if (answersCheck && settled.contains(mid)) {
        qCWarning(lcMailing) << "Mailing::sentReply() mid:" << mid
                             << "is already final, status ignored:" << status;
        return;
    }
    Report report;
    report.mid = mid;
    report.status = status;
    report.apiID = apiID;
    report.answersCheck = answersCheck;
    if (!answersCheck) {
        report.attemptsMade = outAttempts;
        report.transport = sender();
        if (failedMid == mid) {
            report.failedTransport = failedTransport;
            report.failedKind = failedKind;
            report.failedReply = failedReply;
        }
        failedMid = 0;
        failedKind.clear();
        failedReply.clear();
    }
    // Within a burst whose next row is claimed already, that row leaves
    // first and this outcome is written while it is out: the commit, synced
    // to disk by the server, then overlaps the next mail's wait.
    if (!answersCheck && claimedAhead && !hasDeferred && burstGoesOn(status)) {
        deferred = report;
        hasDeferred = true;
    } else {
        writeReport(report);
    }

    // Only the report of the row that is out frees the transport: a check
    // answer for another row arriving meanwhile must not let a second mail go.
    if (!outstanding || mid == outMid) {
        const bool wasOut = outstanding;
        outstanding = false;
        ready = true;
        updateInFlight();
        // Queued: a transport that reports from inside its send call must
        // return before the next mail leaves, and other tenants of the
        // thread get their turn between two mails.
        if (wasOut && burstActive) {
            // A server or API that cannot be reached now would fail every
            // further mail of the burst in moments, and those rows end for
            // good: the rest waits for the next pass, as with single mails.
            if (status == QLatin1String("neterror"))
                burstBroken = true;
            QMetaObject::invokeMethod(this, &Mailing::continueBurst, Qt::QueuedConnection);
        }
        if (wasOut)
            checkDrained();
    }
    releaseIfIdle();
}

void Mailing::writeReport(const Report &report)
{
    const uint mid = report.mid;
    const QString &status = report.status;
    const QString &apiID = report.apiID;
    const bool answersCheck = report.answersCheck;
    // Between passes a budgeted connection is closed; the outcome needs it.
    if (budget)
        dbConnect();

    // The identifier comes from outside (the provider's reply): it reaches the
    // statement only escaped by the driver, never as raw text.
    const QString apiValue = (!apiID.isNull() && !apiID.trimmed().isEmpty())
        ? QStringLiteral("'%1'").arg(SqlEscape::string(database, apiID))
        : QStringLiteral("NULL");
    // The attempt's entry, its waiting state and the row's outcome (or the
    // released claim) are one commit: a crash cannot leave a row released
    // without its waiting state, and a server that syncs every commit to
    // disk pays once per mail for them.
    const bool ahead = !answersCheck && !claimedAhead && burstGoesOn(status);
    bool grouped = !answersCheck && (history.isAvailable() || ahead) && database.transaction();
    if (grouped && ahead && !claimAhead()) {
        // A deadlock ends the transaction it happened in; the outcome gets
        // one of its own.
        database.rollback();
        grouped = history.isAvailable() && database.transaction();
    }
    const bool waits = !answersCheck && settleAttempt(report);
    // A mail that waits for a further attempt has no final letter yet.
    metrics.reported(mid, report.transport, waits ? QStringLiteral("waiting") : status);

    QString sql;
    if (waits || (!answersCheck && status.isEmpty())) {
        // Its claim is let go and nothing else of the row changes: it waits
        // for its next attempt, or the API answered with an error of its own
        // (a refused key), took nothing, and the row goes again once it
        // accepts requests.
        if (claims.isActive())
            sql = claims.releaseStatement(mid);
    } else {
        sql = OutcomeStatement::forStatus(status, mid, apiValue, answersCheck, debugLevel > 1);
    }
    // The report of a mail this processor sent is written only while the row
    // is still claimed by it: the claim is what keeps a second host away, and
    // a claim that expired meanwhile has ended the row already.
    const bool guarded
        = !sql.isEmpty() && !answersCheck && claims.isActive() && !waits && !status.isEmpty();
    if (guarded)
        sql += QStringLiteral(" AND ") + claims.ownCondition();

    if (!sql.isEmpty()) {
        QSqlQuery query(database);
        if (!query.exec(sql)) {
            if (status == QLatin1String("queued"))
                qCWarning(lcMailing)
                    << "Mailing::sentReply() MySQL ERROR:" << query.lastError().text();
            else
                qCWarning(lcMailing)
                    << "Mailing::sentReply() MySQL ERROR" << query.lastError().text();
            // Dropping the outcome would leave the row pending, and it would be
            // delivered a second time: keep it and write it once the database is back.
            if (!unwritten.contains(mid))
                unwrittenOrder.append(mid);
            unwritten.insert(mid, sql);
        } else {
            if (guarded && query.numRowsAffected() == 0)
                qCWarning(lcMailing) << "Mailing::sentReply() - mid:" << mid
                                     << "is no longer claimed here; status not written:" << status;
            // Written now: an older outcome kept for this row must not be
            // applied on top of it (it would count `sent` a second time).
            if (unwritten.remove(mid))
                unwrittenOrder.removeOne(mid);
            if (answersCheck && status != QLatin1String("queued") && !waits) {
                settled.insert(mid);
                settledOrder.append(mid);
                // Late answers come within a request timeout; old entries can go.
                while (settledOrder.size() > 10000)
                    settled.remove(settledOrder.takeFirst());
            }
        }
    }
    if (grouped && !database.commit()) {
        qCWarning(lcMailing) << "Mailing::sentReply() - mid:" << mid
                             << "COMMIT failed:" << database.lastError().text();
        // Whether the claim ahead took cannot be known: sendNext() claims
        // the row again, and one that is taken waits for its claim to expire.
        claimedAhead = 0;
        // As for an update that failed: kept, and written once the database is back.
        if (!sql.isEmpty()) {
            if (!unwritten.contains(mid))
                unwrittenOrder.append(mid);
            unwritten.insert(mid, sql);
        }
    }
}

void Mailing::afterHandOut()
{
    // Without an outcome to write (the first mail of a burst), the next row
    // is claimed on its own, still while this one is out.
    if (hasDeferred)
        writeDeferred();
    else if (!claimedAhead && burstGoesOn(QString()) && dbConnect())
        claimAhead();
}

void Mailing::writeDeferred()
{
    if (!hasDeferred)
        return;
    hasDeferred = false;
    writeReport(deferred);
}
