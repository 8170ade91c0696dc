#include "mailingpluginworker.h"

#include "dbschemerecord.h"
#include "defaultsender.h"
#include "kexdbsettings.h"
#include "mailing.h"
#include "mailinglogging.h"
#include "mailingpluginclient.h"
#include "mailingpluginsmtpclient.h"
#include "sqlescape.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QTimer>

std::atomic<uint> MailingPluginWorker::workerCount { 0 };

namespace {
const char kMinimalVersion[] = "17.04.04";
const int kInitialReloadMs = 900000;
const int kMinReloadSeconds = 10;
// Beyond the API's own time-out: the report of the last mail had its chance.
const int kRetireGraceMs = 5000;
} // namespace

MailingPluginWorker::MailingPluginWorker(QObject *parent)
    : QObject(parent)
    , number(++workerCount)
{
}

MailingPluginWorker::~MailingPluginWorker()
{
    if (debugLevel)
        qCDebug(lcMailing, "MailingPluginWorker:%u: - DESTRUCT", number);
    // The worker itself goes in its thread's last deferred-deletion pass,
    // which no longer serves deletions posted from within it: a deleteLater()
    // there would leak the transports. In their own thread, and with none of
    // their calls on the stack (the worker is deleted from the event loop),
    // they can go at once.
    const auto release = [](QObject *transport) {
        if (!transport)
            return;
        if (transport->thread() == QThread::currentThread())
            delete transport;
        else
            transport->deleteLater();
    };
    release(mandrillClient);
    release(smtpClient);
    mandrillClient = nullptr;
    smtpClient = nullptr;
    if (database.isValid() && database.isOpen())
        database.close();
    delete settings;
}

void MailingPluginWorker::setDB(const QSqlDatabase &db)
{
    const QString name = QStringLiteral("YXA.%1.MailingPluginWorker.#%2.p0x%3")
                             .arg(db.databaseName())
                             .arg(number)
                             .arg(QString::number(quintptr(this), 16));
    if (debugLevel)
        qCInfo(lcMailing, "MailingPluginWorker:%u:setDB(%s)", number, qUtf8Printable(name));
    QSqlDatabase own
        = QSqlDatabase::contains(name) ? QSqlDatabase::database(name, true) : QSqlDatabase();
    if (!own.isValid())
        own = QSqlDatabase::cloneDatabase(db, name);
    if (own.isOpen())
        own.close();
    database = own;
}

QString MailingPluginWorker::getConnectionName() const
{
    return database.connectionName();
}

bool MailingPluginWorker::checkEmails()
{
    return checkEmails(database, number, debugLevel);
}

bool MailingPluginWorker::checkEmails(QSqlDatabase &database, uint number, unsigned char debugLevel)
{
    if (debugLevel)
        qCInfo(lcMailing, "MailingPluginWorker:%u:checkEmails() - db: %s; thread: %p", number,
            qUtf8Printable(database.databaseName()),
            static_cast<void *>(QThread::currentThreadId()));

    bool openedHere = false;
    if (!database.isOpen()) {
        if (!database.open()) {
            if (database.lastError().isValid())
                qCCritical(lcMailing,
                    "MailingPluginWorker:%u:checkEmails() - can not open database! SQL ERROR: %s",
                    number, qUtf8Printable(database.lastError().text()));
            return false;
        }
        openedHere = true;
    }

    const auto sqlError = [number](const QSqlQuery &query) {
        if (query.lastError().isValid())
            qCCritical(lcMailing, "MailingPluginWorker:%u:checkEmails() - SQL ERROR: %s", number,
                qUtf8Printable(query.lastError().text()));
    };

    const bool result = [&]() {
        {
            QSqlQuery presence(database);
            if (!presence.exec(
                    QStringLiteral("SELECT COUNT(*) FROM information_schema.TABLES WHERE "
                                   "TABLE_SCHEMA='%1' AND TABLE_NAME='emails'")
                        .arg(SqlEscape::string(database, database.databaseName())))) {
                sqlError(presence);
                return false;
            }
            if (!presence.next() || presence.value(0).toLongLong() == 0)
                return false;
        }
        {
            QSqlQuery version(database);
            if (version.exec(QStringLiteral("SELECT value FROM vars WHERE name = 'ver_db'"))) {
                if (version.next()) {
                    const QString found = version.value(0).toString();
                    if (found < QLatin1String(kMinimalVersion)) {
                        qCWarning(lcMailing,
                            "MailingPluginWorker:%u:checkEmails() - Database version is %s and "
                            "minimal required is %s!",
                            number, qUtf8Printable(found), kMinimalVersion);
                        return false;
                    }
                }
            } else {
                sqlError(version);
            }
        }
        QSqlQuery pending(database);
        if (!pending.exec(QStringLiteral("SELECT COUNT(*) FROM emails WHERE done IS NULL AND apiID "
                                         "IS NULL ORDER BY created LIMIT 100"))) {
            sqlError(pending);
            return true;
        }
        if (pending.next())
            return pending.value(0).toLongLong() > 0;
        return true;
    }();

    // Opened only for the test: start() opens it again on the worker's thread.
    if (openedHere)
        database.close();
    return result;
}

void MailingPluginWorker::setTimeInterval(const uint &ms)
{
    if (debugLevel > 1)
        qCInfo(lcMailing, "MailingPluginWorker:%u:setTimeInterval(%u)", number, ms);
    timeInterval = ms;
}

int MailingPluginWorker::reloadInterval() const
{
    return reloadTimer ? reloadTimer->interval() : -1;
}

void MailingPluginWorker::start()
{
    if (debugLevel)
        qCInfo(lcMailing, "MailingPluginWorker:%u:start()", number);

    settings = new KexDbSettings(database);
    mandrillClient = new MailingPluginClient;
    mandrillClient->setDebugLevel(debugLevel);
    mandrillClient->setApiSettings(apiSettings);
    // The one place where the SMTP transport (mailing type 1) is made.
    smtpClient = new MailingPluginSmtpClient;
    smtpClient->setDebugLevel(debugLevel);
    smtpClient->setSettings(smtpSettings);
    smtpClient->setCaCertificates(apiSettings.caCertificates);
    mailing = new Mailing(this);
    mailing->setDebugLevel(debugLevel);
    mailing->initDB(database);
    mailing->setInFlightFlag(&inFlight);
    // Claims are per worker: a worker retired on this host and a new one for
    // the same tenant never take each other's rows for their own.
    if (budget)
        mailing->setHostLimits(budget, leaseCurrent,
            claimHolder.isEmpty() ? claimHolder : claimHolder + QStringLiteral(":w%1").arg(number));
    // Reports stay wired whatever the type: a reply that arrives after a
    // switch still settles the mail that was out, which otherwise would hold
    // the queue for good.
    connect(mandrillClient, &MailingPluginClient::sentDone, mailing, &Mailing::sentReply);
    connect(smtpClient, &MailingPluginSmtpClient::sentDone, mailing, &Mailing::sentReply);
    connect(mandrillClient, &MailingPluginClient::attemptFailed, mailing, &Mailing::attemptFailed);
    connect(smtpClient, &MailingPluginSmtpClient::attemptFailed, mailing, &Mailing::attemptFailed);
    mailing->setRetrySchedule(defaultSchedule);
    mailing->setHistoryDays(historyDays);
    // Queued behind the last report, which reaches the processor from inside
    // the transport's send call.
    connect(mailing, &Mailing::passEnded, smtpClient, &MailingPluginSmtpClient::endSession,
        Qt::QueuedConnection);
    applyPassLimits(defaultMailsPerPass, defaultPassSeconds);
    // A type chosen before start() could not be wired yet.
    if (mailingType == 0 || mailingType == 1)
        connectTransport(mailingType);

    // On a shared host the first read connects, within the host's budget.
    if (!budget && !mailing->dbConnect())
        qCWarning(lcMailing, "MailingPluginWorker:%u:start() - database not opened! SQL ERROR: %s",
            number, qUtf8Printable(database.lastError().text()));

    reloadTimer = new QTimer(this);
    reloadTimer->setInterval(kInitialReloadMs);
    connect(reloadTimer, &QTimer::timeout, this, [this] {
        loadSettings();
        mailing->releaseIfIdle();
    });

    loadSettings();

    if (!budget) {
        if (mailing->dbConnect()) {
            if (debugLevel > 1)
                qCDebug(lcMailing, "MailingPluginWorker:%u:start() dbConnect SUCCESS", number);
        } else {
            qCWarning(lcMailing, "MailingPluginWorker:%u:start() ERROR dbConnect", number);
        }
    }
    // Polled even when the database is away now: every pass connects again,
    // and a worker is never created a second time for its schema.
    mailing->timerStart(timeInterval);
    mailing->releaseIfIdle();

    reloadTimer->start();
}

void MailingPluginWorker::retire()
{
    if (debugLevel)
        qCInfo(lcMailing, "MailingPluginWorker:%u:retire()", number);
    if (reloadTimer)
        reloadTimer->stop();
    const auto done = [this] {
        if (retiredSent)
            return;
        retiredSent = true;
        emit retired();
    };
    if (!mailing) {
        done();
        return;
    }
    connect(mailing, &Mailing::drained, this, done);
    mailing->retire();
    // Requests still waiting for a connection were never written: their rows
    // go back to the queue at once.
    if (mandrillClient)
        mandrillClient->cancelUnsent();
    if (!retiredSent) {
        QTimer::singleShot(apiSettings.requestTimeoutMs + kRetireGraceMs, this, [this, done] {
            if (!retiredSent)
                qCWarning(lcMailing,
                    "MailingPluginWorker:%u:retire() - mid: %u got no report in time; its row "
                    "stays claimed until the claim expires",
                    number, mailing->outstandingMid());
            done();
        });
    }
}

void MailingPluginWorker::setPassDefaults(uint mails, uint seconds)
{
    defaultMailsPerPass = mails;
    defaultPassSeconds = seconds;
}

void MailingPluginWorker::applyHostSettings(
    unsigned char level, uint intervalMs, const MandrillApiSettings &api, uint mails, uint seconds)
{
    debugLevel = level;
    apiSettings = api;
    setPassDefaults(mails, seconds);
    const bool newInterval = intervalMs != timeInterval;
    timeInterval = intervalMs;
    if (!mailing)
        return;
    mailing->setDebugLevel(level);
    mandrillClient->setDebugLevel(level);
    mandrillClient->setApiSettings(api);
    smtpClient->setDebugLevel(level);
    if (newInterval)
        mailing->timerStart(timeInterval);
    // The tenant's own pass limits win over the new defaults: read them again.
    loadSettings();
    mailing->releaseIfIdle();
}

void MailingPluginWorker::setRetryDefaults(const RetrySchedule &schedule, uint days)
{
    defaultSchedule = schedule;
    historyDays = days;
}

void MailingPluginWorker::applyPassLimits(uint mails, uint seconds)
{
    if (!mailing)
        return;
    if (debugLevel && (mails != mailing->mailsPerPass() || seconds != mailing->passSeconds()))
        qCInfo(lcMailing, "MailingPluginWorker:%u:loadSettings() - up to %u mails in %u s per pass", number,
            mails, seconds);
    mailing->setPassLimits(mails, seconds);
    // A session kept open across mails only pays where a pass sends several.
    if (smtpClient)
        smtpClient->setKeepSession(mailing->mailsPerPass() > 1);
}

void MailingPluginWorker::setHostLimits(DBManager *manager, std::function<bool()> current, const QString &holder)
{
    budget = manager;
    leaseCurrent = std::move(current);
    claimHolder = holder;
}

void MailingPluginWorker::loadSettings()
{
    if (debugLevel)
        qCInfo(lcMailing, "MailingPluginWorker:%u:loadSettings()", number);
    if (!settings)
        return;

    // A budgeted connection is closed between passes. Without one now, the
    // settings are asked for again soon; the budget itself warns when it is
    // used up.
    if (mailing && budget && !mailing->dbConnect()) {
        if (mailingType == -1 && reloadTimer)
            reloadTimer->setInterval(kMinReloadSeconds * 1000);
        return;
    }
    bool readOk = false;
    const QMap<QString, QVariant> values = settings->variableGetMultiple(
        QStringList { QStringLiteral("mailingType"), QStringLiteral("smtpHost"),
            QStringLiteral("smtpPort"), QStringLiteral("smtpUser"), QStringLiteral("smtpPass"),
            QStringLiteral("smtpType"), QStringLiteral("smtpMethod"),
            QStringLiteral("mailingUseReplyTo"), QStringLiteral("globalEmail"),
            QStringLiteral("mailingReloadSettingsInterval"), QStringLiteral("mailsPerPass"),
            QStringLiteral("passSeconds"), QStringLiteral("retrySchedule") },
        &readOk);

    if (!readOk) {
        // Nothing is known about the tenant's wishes: falling back to the
        // defaults could send its mail another way than it chose.
        qCWarning(lcMailing,
            "MailingPluginWorker:%u:loadSettings() - settings not read, the current ones stay",
            number);
        // Until a first read succeeds there is no transport; ask again soon.
        if (mailingType == -1 && reloadTimer)
            reloadTimer->setInterval(kMinReloadSeconds * 1000);
        return;
    }

    if (values.isEmpty()) {
        if (debugLevel)
            qCWarning(lcMailing, "MailingPluginWorker:%u:loadSettings() - data is empty!", number);
        setMailingType(0);
        return;
    }

    QString email = values.value(QStringLiteral("globalEmail")).toString().trimmed();
    if (email.isEmpty())
        email = DefaultSender::address();
    setGlobalEmail(email);

    const int reloadSeconds
        = values.value(QStringLiteral("mailingReloadSettingsInterval"), 60).toInt();
    if (reloadTimer)
        reloadTimer->setInterval(qMax(reloadSeconds, kMinReloadSeconds) * 1000);

    SmtpSettings smtp;
    smtp.host = values.value(QStringLiteral("smtpHost")).toString();
    smtp.port = quint16(values.value(QStringLiteral("smtpPort"), 0).toUInt());
    smtp.user = values.value(QStringLiteral("smtpUser")).toString();
    smtp.password = DBSchemeRecord::decodePassword(values.value(QStringLiteral("smtpPass")));
    smtp.connectionType = values.value(QStringLiteral("smtpType"), 0).toInt();
    smtp.authMethod = values.value(QStringLiteral("smtpMethod"), 0).toInt();
    smtp.useReplyTo = values.value(QStringLiteral("mailingUseReplyTo"), false).toBool();
    smtp.email = globalEmail;
    setSmtpSettings(smtp);

    setMailingType(
        static_cast<signed char>(values.value(QStringLiteral("mailingType"), 0).toInt()));

    // A value that is no positive number leaves the host's default.
    const auto positive = [&values](const QString &key, uint fallback) {
        bool ok = false;
        const int value = values.value(key).toString().trimmed().toInt(&ok);
        return ok && value > 0 ? uint(value) : fallback;
    };
    applyPassLimits(positive(QStringLiteral("mailsPerPass"), defaultMailsPerPass),
        positive(QStringLiteral("passSeconds"), defaultPassSeconds));

    // The tenant's schedule wins; an empty one means a single attempt.
    RetrySchedule schedule = defaultSchedule;
    const QString scheduleKey = QStringLiteral("retrySchedule");
    if (values.contains(scheduleKey)) {
        bool ok = false;
        const RetrySchedule own = RetrySchedule::parse(values.value(scheduleKey).toString(), &ok);
        if (ok)
            schedule = own;
        else
            qCWarning(lcMailing,
                "MailingPluginWorker:%u:loadSettings() - retrySchedule \"%s\" is no list of "
                "seconds; the host's \"%s\" applies",
                number, qUtf8Printable(values.value(scheduleKey).toString().left(100)),
                qUtf8Printable(defaultSchedule.toString()));
    }
    if (mailing)
        mailing->setRetrySchedule(schedule);
}

void MailingPluginWorker::setMailingType(signed char type)
{
    if (debugLevel)
        qCInfo(lcMailing, "MailingPluginWorker:%u:setMailingType(%i)", number, int(type));
    if (type == mailingType)
        return;
    for (const QMetaObject::Connection &connection : qAsConst(typeConnections))
        QObject::disconnect(connection);
    typeConnections.clear();
    connectTransport(type);
    mailingType = type;
}

void MailingPluginWorker::connectTransport(signed char type)
{
    if (type != 0 && type != 1) {
        qCWarning(lcMailing,
            "MailingPluginWorker:%u:setMailingType(%i) - mailing type is not implemented!", number,
            int(type));
        return;
    }
    // Before start() there is nothing to wire; start() calls in again.
    if (!mailing || !mandrillClient || !smtpClient)
        return;
    mailing->setTransportName(type == 0 ? QStringLiteral("api") : QStringLiteral("smtp"));
    if (type == 0) {
        typeConnections << connect(mailing, &Mailing::toSend, mandrillClient,
            &MailingPluginClient::sendMail, Qt::QueuedConnection)
                        << connect(mailing, &Mailing::toCheck, mandrillClient,
                               &MailingPluginClient::checkMail, Qt::QueuedConnection);
    } else {
        typeConnections << connect(mailing, &Mailing::toSend, smtpClient,
            &MailingPluginSmtpClient::sendMail, Qt::QueuedConnection);
    }
}

void MailingPluginWorker::setSmtpSettings(SmtpSettings newSettings)
{
    if (newSettings == smtpSettings)
        return;
    smtpSettings = newSettings;
    if (smtpClient)
        smtpClient->setSettings(newSettings);
}

void MailingPluginWorker::setGlobalEmail(const QString &email)
{
    if (debugLevel)
        qCInfo(
            lcMailing, "MailingPluginWorker:%u:setGlobalEmail(%s)", number, qUtf8Printable(email));
    globalEmail = email;
}
