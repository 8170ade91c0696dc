#pragma once

#include <QByteArray>
#include <QElapsedTimer>

#include "mailmetrics.h"
#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QSqlDatabase>
#include <QString>
#include <QVariant>

#include "attempthistory.h"
#include "retryschedule.h"
#include "rowclaims.h"
#include <atomic>

#include <functional>

class DBManager;
class QTimer;

// The queue processor of one tenant: drains the table `emails` on its own
// poll timer. A pass with an empty stack reads up to 100 pending rows
// (oldest first) and asks for the state of rows the provider only queued
// (toCheck); a pass with a non-empty stack hands the next row to the
// transport (toSend). Every report of the transport (sentReply) becomes the
// row's status letter, time and identifier.
//
// Exactly one mail is out at a time: the next row leaves only after the
// transport reported the one before. While no transport is wired to toSend,
// nothing is handed out at all. A row that is out is never read into
// the stack again, so a slow reply cannot make it leave twice.
//
// A hand-out pass sends one mail (the default) or, with setPassLimits(), a
// burst: after each report the next row leaves at once, until the pass has
// sent mailsPerPass mails, has run passSeconds, the lease is lost, a mail
// failed with "neterror" or no row is pending (a burst reads the table again
// when its stack runs dry). Each row is still claimed, and the claim
// committed, before it leaves. Within a burst the next row is claimed while
// a mail is out, and a mail's outcome is written just after the next mail
// has left, in the commit that claims the row after that: the server's sync
// of each commit to disk then overlaps the wait for a reply instead of
// adding to it. passEnded() closes every pass that handed out
// a burst; a transport holding a session open across the burst ends it there.
//
// A row that failed for a moment (the transport's attemptFailed() says
// "temporary") waits for its next attempt by the retry schedule instead of
// ending 'E': its waiting state and every attempt live in the plug-in's own
// tables (AttemptHistory). Each attempt that does not deliver logs one
// warning naming tenant, row, attempt and reply.
//
// retire() ends the processor for good when its tenant goes to another host
// or the host stops: nothing more is claimed, the report of a mail that is
// out is still awaited and written under this processor's own claim, and
// drained() follows once nothing is left in flight. A transport that never
// wrote a mail reports "unsent": its claim is cleared at once (only where it
// is still this processor's), so that whoever serves the tenant sends it.
//
// Lives in its worker's thread; the transport is wired by the worker.
class Mailing : public QObject
{
    Q_OBJECT

public:
    explicit Mailing(QObject *parent = nullptr);
    ~Mailing() override;

    void setDebugLevel(const uchar &level);
    void initDB(const QSqlDatabase &db);
    bool dbConnect();
    bool dbDisconnect();

    // Multi-tenant mode on a shared host. The connection then counts against
    // the host's budget and is closed after each pass that leaves no mail out
    // and nothing to write; a pass runs only while leaseCurrent says this host
    // still serves the tenant; and every row is claimed for claimHolder
    // before it goes out, so that no other host sends it too.
    void setHostLimits(
        DBManager *budget, std::function<bool()> leaseCurrent, const QString &claimHolder);
    // Closes the connection when nothing needs it now (budget mode only).
    void releaseIfIdle();
    void timerStart(uint ms);
    void timerStop();
    // Values below 1 count as 1.
    void setPassLimits(uint mailsPerPass, uint passSeconds);
    uint mailsPerPass() const { return m_mailsPerPass; }
    void setRetrySchedule(const RetrySchedule &schedule) { retrySchedule = schedule; }
    const RetrySchedule &schedule() const { return retrySchedule; }
    // Days the history of a final row is kept.
    void setHistoryDays(uint days) { historyDays = qMax(1u, days); }
    // Named in the history of successful attempts (failures name their own).
    void setTransportName(const QString &name) { transportName = name; }
    uint passSeconds() const { return m_passSeconds; }
    bool isBursting() const { return burstActive; }

    // Introspection for the worker's owner and for tests.
    uint interval() const { return m_interval; }
    bool isTimerActive() const;
    bool isReady() const { return ready; }
    QList<uint> stackMids() const;
    // The row handed to the transport and not yet reported, or 0.
    uint outstandingMid() const { return outstanding ? outMid : 0; }
    bool isRetiring() const { return retiring; }
    // Kept true while a mail is out or a burst runs; read from other threads.
    void setInFlightFlag(std::atomic<bool> *flag) { inFlightFlag = flag; }

signals:
    void toSend(
        uint mid, QString from, QString to, QString subject, QByteArray body, QByteArray data);
    void toCheck(uint mid, QString id);
    void passEnded();
    void drained();

public slots:
    void sentReply(uint mid, QString status, QString apiID);
    void retire();
    // What a transport says of a failed attempt, just before its sentDone().
    void attemptFailed(uint mid, QString transport, QString kind, QString reply);

private slots:
    void processQueue();
    void continueBurst();

private:
    // With scheduleHandOut, the first mail of what was read leaves 500 ms later.
    void readDatabase(bool scheduleHandOut = true, bool askStates = true);
    void handOut();
    // Takes rows off the stack until one is claimed and hands it out.
    bool sendNext();
    void endBurst();
    // Writes the outcomes whose update failed earlier; false while any is left.
    bool flushUnwritten();
    // Claims the row for this host; false when another reader has it or the
    // claim could not be written.
    bool claim(uint mid, int attemptsMade);
    void releaseClaim(uint mid);
    // Whether the burst will send another mail after the report of `status`.
    bool burstGoesOn(const QString &status) const;
    // Claims the next row of the burst inside the transaction that writes
    // the outcome of the one before; false when the statement failed.
    bool claimAhead();
    void releaseClaimAhead();
    void checkDrained();
    void updateInFlight();
    void readQueueGauges(bool retries);
    // A transport's report of a row, as it is written.
    struct Report
    {
        uint mid = 0;
        QString status;
        QString apiID;
        // An answer to toCheck(), not the report of a send.
        bool answersCheck = false;
        int attemptsMade = 0;
        const QObject *transport = nullptr;
        // What attemptFailed() said of this attempt, if anything.
        QString failedTransport;
        QString failedKind;
        QString failedReply;
    };
    // Records the report of the row that was out; true when it waits for a
    // later attempt instead of taking the status word's letter.
    bool settleAttempt(const Report &report);
    // The row's outcome, attempt entry and (within a burst) the claim of the
    // next row, in one commit.
    void writeReport(const Report &report);
    void writeDeferred();
    // Runs once the transport has taken the next mail of a burst.
    void afterHandOut();

    uchar debugLevel = 0;
    QSqlDatabase database;
    QTimer *timer = nullptr;
    QList<QHash<QString, QVariant>> stack;
    uint m_interval = 0;
    bool ready = false;
    uint passCounter = 0;
    bool busy = false;
    uint m_mailsPerPass = 1;
    uint m_passSeconds = 30;
    bool burstActive = false;
    bool burstBroken = false;
    bool burstTimerWasRunning = false;
    uint burstSent = 0;
    QElapsedTimer burstClock;
    MailMetrics metrics;
    // The row that is out at the transport.
    bool outstanding = false;
    uint outMid = 0;
    int outAttempts = 0;
    // The first row of the stack, claimed with the last outcome; 0 when none.
    uint claimedAhead = 0;
    // The report written once the next row of the burst has left.
    bool hasDeferred = false;
    Report deferred;
    RetrySchedule retrySchedule;
    AttemptHistory history;
    uint historyDays = 30;
    QString transportName;
    // The last attemptFailed() report, for the sentDone() that follows it.
    uint failedMid = 0;
    QString failedTransport;
    QString failedKind;
    QString failedReply;
    // Rows that a delivery-state answer made final. A pass that read such a
    // row as queued just before the answer arrived asks once more; that late
    // answer must not count the delivery a second time. A row leaves the set
    // when it is read as pending again (the writer reset it).
    QSet<uint> settled;
    QList<uint> settledOrder;
    // Outcome updates that failed (the database was away), by row, in the
    // order they were reported. Such a row is still pending in the table;
    // it is neither read, sent nor asked about again until its outcome is
    // written; an outcome written meanwhile replaces the kept one.
    QMap<uint, QString> unwritten;
    QList<uint> unwrittenOrder;
    DBManager *budget = nullptr;
    bool holdsBudget = false;
    // The last dbConnect() failed for want of a connection of the budget.
    bool budgetRefused = false;
    std::function<bool()> leaseCurrent;
    RowClaims claims;
    bool retiring = false;
    bool drainedSent = false;
    std::atomic<bool> *inFlightFlag = nullptr;
};
