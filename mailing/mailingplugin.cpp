#include "mailingplugin.h"

#include "schemascan.h"

#include "buildstamp.h"
#include "configcheck.h"
#include "datadirhelper.h"
#include "dbmanager.h"
#include "envirosettings.h"
#include "mailinglogging.h"
#include "mailingpluginworker.h"
#include "plugininfo.h"
#include "tenantsharing.h"

#include <QElapsedTimer>
#include <QSemaphore>

#include <memory>
#include <QSslSocket>

namespace {
const unsigned long kThreadStopWaitMs = 10000;
// How long a stopping host waits for the reports of mail in flight.
const int kDrainWaitMs = 10000;

// A value that does not parse counts as missing, as the host's check of
// yxa.ini reports it. Every name read here has its line in ConfigKeys.
uint settingValue(const EnviroSettings &settings, const char *name)
{
    const ConfigKey *key = ConfigKeys::find(
        QStringLiteral("yxa.ini"), QStringLiteral("MailingPlugin"), QLatin1String(name));
    const QString fallback = QLatin1String(key->defaultValue);
    const QString value = settings.value(QLatin1String(name), fallback).toString();
    return (ConfigCheck::parses(*key, value) ? value : fallback).trimmed().toUInt();
}
} // namespace

MailingPlugin::MailingPlugin(QObject *parent)
    : QObject(parent)
{
    settings = new EnviroSettings(
        DataDirHelper::getDataDir(true, QString()) + QStringLiteral("/yxa.ini"),
        QSettings::IniFormat, this);
    settings->beginGroup(QStringLiteral("MailingPlugin"));

    readSettings();
    connect(&schemaTimer, &QTimer::timeout, this, &MailingPlugin::checkSchemas);

    firstScanTimer.setSingleShot(true);
    firstScanTimer.setInterval(1000);
    connect(&firstScanTimer, &QTimer::timeout, this, &MailingPlugin::checkSchemas);

    sharing = new TenantSharing(QStringLiteral("mailing"), QStringLiteral("MailingPlugin"), this);
    sharing->served = [this] { return workers.keys(); };
    // Orphans had a worker on their last host: they are served untested.
    sharing->serve = [this](const QString &token) { serveTenant(token); };
    sharing->lose = [this](const QString &token) { retireWorker(token); };
    sharing->quiet = [this](const QString &token) {
        const MailingPluginWorker *worker = workers.value(token);
        return !worker || worker->isQuiet();
    };
}

MailingPlugin::~MailingPlugin()
{
    schemaTimer.stop();
    firstScanTimer.stop();
    // Mail in flight is settled and unwritten requests go back to the queue
    // before the threads end; then the pool's threads wind down side by side
    // and the leases go, so that other hosts take the tenants over at once.
    drainWorkers();
    if (singleThread.isRunning())
        singleThread.quit();
    sharing->shutdown();
    workers.clear();
    if (singleThread.isRunning())
        endThread(&singleThread);
}

QList<QThread *> MailingPlugin::workerThreads() const
{
    return sharing->pool()->threads();
}

void MailingPlugin::endThread(QThread *thread)
{
    if (thread->wait(kThreadStopWaitMs))
        return;
    qCCritical(lcMailing,
        "MailingPlugin::~MailingPlugin() - thread %s did not stop within %lu ms, terminating",
        qUtf8Printable(thread->objectName()), kThreadStopWaitMs);
    thread->terminate();
    thread->wait(kThreadStopWaitMs);
}

QString MailingPlugin::getVersion() const
{
    return QStringLiteral("1.1.2");
}

QMap<QString, QString> MailingPlugin::getVerInfo() const
{
    return PluginInfo::verInfo(getVersion(), QStringLiteral("PLG.ML"), YXA_BUILD_STAMP());
}

QString MailingPlugin::settingsFileName() const
{
    return settings->fileName();
}

bool MailingPlugin::start()
{
    if (debugLevel)
        qCDebug(lcMailing) << "MailingPlugin::start()";
    if (!QSslSocket::supportsSsl()) {
        qCCritical(lcMailing) << "!!! MailingPlugin: Support for SSL NOT FOUND - aborting.. !!!";
        return false;
    }
    if (!dbManager) {
        qCCritical(lcMailing) << "!!! MailingPlugin: Database manager not initialized !!!";
        return false;
    }

    if (dbManager->isInfoDB()) {
        if (debugLevel)
            qCInfo(lcMailing, "MailingPlugin - is info db: %s", "YES");
        firstScanTimer.start();
        schemaTimer.start();
        sharing->setUp(dbManager);
        sharing->startTimers();
        return true;
    }

    if (debugLevel)
        qCInfo(lcMailing, "MailingPlugin - is info db: %s", "NO");
    if (singleWorker) {
        // start() after stop(): the one worker keeps running.
        return true;
    }
    auto *worker = new MailingPluginWorker;
    worker->setDebugLevel(debugLevel);
    worker->setApiSettings(apiSettings);
    worker->setPassDefaults(mailsPerPass, passSeconds);
    worker->setRetryDefaults(retrySchedule, historyDays);
    worker->moveToThread(&singleThread);
    worker->setDB(dbManager->getKexDB());
    worker->setTimeInterval(workerInterval);
    connect(&singleThread, &QThread::started, worker, &MailingPluginWorker::start);
    connect(&singleThread, &QThread::finished, worker, &QObject::deleteLater);
    singleWorker = worker;
    singleThread.setObjectName(QStringLiteral("MailingPlugin_single"));
    singleThread.start(QThread::LowPriority);
    return true;
}

void MailingPlugin::setDebugLevel(unsigned char level)
{
    ServerInterface::setDebugLevel(level);
    settings->setDebugLevel(level);
}

void MailingPlugin::readSettings()
{
    workerInterval = qMax(5000u, settingValue(*settings, "interval") * 1000);
    const uint checkInterval = qMax(10u, settingValue(*settings, "checkInterval"));
    if (schemaTimer.interval() != int(checkInterval * 1000))
        schemaTimer.setInterval(int(checkInterval * 1000));
    apiSettings = MandrillApiSettings::fromSettings(*settings);
    // One mail per pass unless the operator allows bursts; a burst may hold
    // its tenant's connection and thread turn for passSeconds at most.
    mailsPerPass = settingValue(*settings, "mailsPerPass");
    passSeconds = settingValue(*settings, "passSeconds");
    // "60,300" reaches us as a list: QSettings splits values at commas.
    const QString scheduleKey = QStringLiteral("retrySchedule");
    retrySchedule = RetrySchedule();
    if (settings->contains(scheduleKey)) {
        bool ok = false;
        retrySchedule = RetrySchedule::parse(
            settings->value(scheduleKey).toStringList().join(QLatin1Char(',')), &ok);
        if (!ok)
            qCWarning(lcMailing,
                "MailingPlugin::readSettings() - retrySchedule is no list of seconds; the default "
                "applies");
    }
    historyDays = settingValue(*settings, "attemptHistoryDays");
}

void MailingPlugin::reloadSettings()
{
    settings->sync();
    readSettings();
    if (debugLevel)
        qCInfo(lcMailing,
            "MailingPlugin::reloadSettings() - interval %u ms, checkInterval %d ms, "
            "mailsPerPass %u, passSeconds %u, apiUrl %s, debug level %u for %d workers",
            workerInterval, schemaTimer.interval(), mailsPerPass, passSeconds,
            qUtf8Printable(apiSettings.apiUrl.toString()), unsigned(debugLevel),
            int(workers.size()) + (singleWorker ? 1 : 0));
    QList<MailingPluginWorker *> running = workers.values();
    if (singleWorker)
        running << singleWorker;
    for (MailingPluginWorker *worker : qAsConst(running)) {
        QMetaObject::invokeMethod(
            worker,
            [worker, level = debugLevel, interval = workerInterval, api = apiSettings,
                mails = mailsPerPass, seconds = passSeconds, schedule = retrySchedule,
                days = historyDays] {
                worker->setRetryDefaults(schedule, days);
                worker->applyHostSettings(level, interval, api, mails, seconds);
            },
            Qt::QueuedConnection);
    }
}

void MailingPlugin::stop()
{
    if (debugLevel)
        qCDebug(lcMailing) << "MailingPlugin::stop()";
    schemaTimer.stop();
    firstScanTimer.stop();
    sharing->stopTimers();
}

void MailingPlugin::pause()
{
    if (debugLevel)
        qCDebug(lcMailing) << "MailingPlugin::pause()";
}

void MailingPlugin::resume()
{
    if (debugLevel)
        qCDebug(lcMailing) << "MailingPlugin::resume()";
}

void MailingPlugin::checkSchemas()
{
    if (debugLevel)
        qCDebug(lcMailing) << "MailingPlugin::checkSchemas()";
    const unsigned limit = settingValue(*settings, "checkSchemasLimit");
    sharing->setUp(dbManager);
    const unsigned char level = debugLevel;
    const SchemaScan scan = SchemaScan::runTested(
        dbManager, limit, scanLanes(),
        [this](const QString &token) { return workers.contains(token); },
        [level](QSqlDatabase &db) { return MailingPluginWorker::checkEmails(db, 0, level); },
        [this](const QString &token) { serveTenant(token); });
    if (scan.total == 0)
        return;

    if (debugLevel)
        qCInfo(lcMailing,
            "MailingPlugin::checkSchemas() - active workers: %i / %u schemas checked (total "
            "enabled schemas: %u)",
            int(workers.size()), scan.seen, scan.total);
}

void MailingPlugin::serveTenant(const QString &token)
{
    QSqlDatabase db = dbManager->tenantConnection(token);
    if (!db.isValid())
        return;
    if (!sharing->take(token))
        return;
    if (debugLevel)
        qCDebug(lcMailing, "MailingPlugin::createWorker(%s)", qUtf8Printable(db.databaseName()));
    auto *worker = new MailingPluginWorker;
    worker->setDebugLevel(debugLevel);
    worker->setDB(db);
    worker->setApiSettings(apiSettings);
    // The worker works on a clone of its own.
    dbManager->addUnusedConnection(db.connectionName());
    worker->setTimeInterval(workerInterval);
    worker->setPassDefaults(mailsPerPass, passSeconds);
    worker->setRetryDefaults(retrySchedule, historyDays);
    if (sharing->leases())
        worker->setHostLimits(dbManager, sharing->leaseCheck(token), sharing->leases()->holder());
    sharing->pool()->adopt(worker);
    QMetaObject::invokeMethod(worker, &MailingPluginWorker::start, Qt::QueuedConnection);
    workers.insert(token, worker);
}

int MailingPlugin::scanLanes() const
{
    // A quarter of the budget: the workers keep the rest while a scan runs.
    return dbManager ? qBound(1, dbManager->maxConnections() / 4, 8) : 1;
}

void MailingPlugin::retireWorker(const QString &token)
{
    MailingPluginWorker *worker = workers.take(token);
    if (!worker)
        return;
    // Deleted only once what it has in flight is settled.
    connect(worker, &MailingPluginWorker::retired, this,
        [this, worker] { sharing->pool()->retire(worker); }, Qt::QueuedConnection);
    QMetaObject::invokeMethod(worker, &MailingPluginWorker::retire, Qt::QueuedConnection);
}

void MailingPlugin::drainWorkers()
{
    QList<MailingPluginWorker *> all = workers.values();
    if (singleWorker && singleThread.isRunning())
        all << singleWorker;
    if (all.isEmpty())
        return;
    // Counted from the workers' threads: this thread's event loop may be gone.
    const auto done = std::make_shared<QSemaphore>();
    for (MailingPluginWorker *worker : all) {
        connect(worker, &MailingPluginWorker::retired, worker, [done] { done->release(); },
            Qt::DirectConnection);
        QMetaObject::invokeMethod(worker, &MailingPluginWorker::retire, Qt::QueuedConnection);
    }
    const int waitMs = qMin(apiSettings.requestTimeoutMs + 2000, kDrainWaitMs);
    if (!done->tryAcquire(all.size(), waitMs))
        qCWarning(lcMailing,
            "MailingPlugin::~MailingPlugin() - %d workers still had mail in flight after %d ms",
            all.size() - done->available(), waitMs);
}
