#pragma once

#include "mandrillapisettings.h"
#include "retryschedule.h"
#include "smtpsettings.h"

#include <QList>
#include <QMetaObject>
#include <QObject>
#include <QSqlDatabase>
#include <QString>

#include <atomic>
#include <functional>

class DBManager;
class KexDbSettings;
class Mailing;
class MailingPluginClient;
class MailingPluginSmtpClient;
class QTimer;

// Serves one tenant database. Created on the plug-in's thread, given the
// schema's connection (setDB clones it under a name of its own) and asked
// whether there is mail to send (checkEmails); then moved to a thread of its
// own, whose started() runs start(). There it builds the queue processor and
// both transports, reads the tenant's settings from `vars` and wires the
// processor to the transport that "mailingType" selects; the settings are
// read again on the reload timer, so a tenant can switch transport or SMTP
// account without a restart. Both transports' reports stay wired for the
// worker's life; the type only chooses where mail (and state questions) go.
// A settings read that fails keeps the settings as they are.
//
// When its tenant goes to another host, or the host stops, retire() ends
// the worker's work without dropping mail: rows claimed but not yet written
// by the transport go back to the queue, and the report of a mail in flight
// is awaited (for the API's request time-out at most) and written. retired()
// follows; only then may the worker be deleted.
//
// Delete it through its thread's finished() signal (deleteLater).
class MailingPluginWorker : public QObject
{
    Q_OBJECT

public:
    explicit MailingPluginWorker(QObject *parent = nullptr);
    ~MailingPluginWorker() override;

    static std::atomic<uint> workerCount;

    void setDebugLevel(unsigned char level) { debugLevel = level; }
    unsigned char getDebugLevel() const { return debugLevel; }
    uint getNumber() const { return number; }

    void setDB(const QSqlDatabase &db);
    QString getConnectionName() const;
    bool checkEmails();
    // The same test on any connection of a schema, from any thread: the
    // `emails` table exists, the database is recent enough and mail is pending.
    static bool checkEmails(QSqlDatabase &db, uint number, unsigned char debugLevel);
    void setTimeInterval(const uint &ms);
    uint getTimeInterval() const { return timeInterval; }

    // Deployment settings of the Mandrill transport; call before start().
    void setApiSettings(const MandrillApiSettings &settings) { apiSettings = settings; }

    // The host's defaults for a pass (see Mailing::setPassLimits): used until
    // and unless the tenant's `vars` name "mailsPerPass" or "passSeconds".
    void setPassDefaults(uint mailsPerPass, uint passSeconds);
    // The host's settings after a reload, in the worker's thread: they reach
    // a running worker's processor and transports at once.
    void applyHostSettings(unsigned char level, uint intervalMs, const MandrillApiSettings &api,
        uint mailsPerPass, uint passSeconds);
    // The host's retry schedule (used unless the tenant's `vars` name
    // "retrySchedule") and the days a final row's attempts are kept.
    void setRetryDefaults(const RetrySchedule &schedule, uint historyDays);

    // Multi-tenant mode on a shared host (see Mailing::setHostLimits): the
    // connection counts against the host's budget, passes run only while the
    // lease is current, and rows are claimed for claimHolder. Before start().
    void setHostLimits(DBManager *budget, std::function<bool()> leaseCurrent, const QString &claimHolder);

    void setMailingType(signed char type);
    signed char getMailingType() const { return mailingType; }
    void setSmtpSettings(SmtpSettings settings);
    SmtpSettings getSmtpSettings() const { return smtpSettings; }
    void setGlobalEmail(const QString &email);
    QString getGlobalEmail() const { return globalEmail; }

    // The parts built by start(); null before it.
    Mailing *queueProcessor() const { return mailing; }
    MailingPluginClient *mandrillTransport() const { return mandrillClient; }
    MailingPluginSmtpClient *smtpTransport() const { return smtpClient; }
    // Period of the settings reload in ms, or -1 before start().
    int reloadInterval() const;
    // Number of signal connections the current mailing type made (the
    // reports, wired once by start(), not counted).
    int transportConnectionCount() const { return typeConnections.size(); }

    // Nothing is out at a transport and no burst runs; from any thread.
    bool isQuiet() const { return !inFlight.load(); }

public slots:
    void start();
    void retire();

signals:
    void retired();

private slots:
    void loadSettings();

private:
    void connectTransport(signed char type);
    void applyPassLimits(uint mailsPerPass, uint passSeconds);

    unsigned char debugLevel = 0;
    Mailing *mailing = nullptr;
    MailingPluginClient *mandrillClient = nullptr;
    MailingPluginSmtpClient *smtpClient = nullptr;
    QSqlDatabase database;
    KexDbSettings *settings = nullptr;
    uint number = 0;
    uint timeInterval = 10000;
    signed char mailingType = -1;
    SmtpSettings smtpSettings;
    QTimer *reloadTimer = nullptr;
    QString globalEmail;
    MandrillApiSettings apiSettings;
    uint defaultMailsPerPass = 1;
    uint defaultPassSeconds = 30;
    RetrySchedule defaultSchedule;
    uint historyDays = 30;
    // What the current mailing type wired, so that a switch removes exactly that.
    QList<QMetaObject::Connection> typeConnections;
    DBManager *budget = nullptr;
    std::function<bool()> leaseCurrent;
    QString claimHolder;
    std::atomic<bool> inFlight { false };
    bool retiredSent = false;
};
