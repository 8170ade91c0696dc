#include "tablora.h"

#include "schemascan.h"

#include "buildstamp.h"
#include "cateringlogging.h"
#include "dbmanager.h"
#include "plugininfo.h"
#include "tabloraworker.h"
#include "tenantsharing.h"

#include <QMutex>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QTimer>

namespace {
constexpr unsigned pageSize = 1000;
constexpr int schemaInterval = 3600000;
constexpr int tickInterval = 60000;
} // namespace

Tablora::Tablora(QObject *parent)
    : QObject(parent)
    , timer(new QTimer(this))
    , sharing(new TenantSharing(QStringLiteral("tablora"), QStringLiteral("Tablora"), this))
{
    sharing->served = [this] { return workers.keys(); };
    // Orphans had a worker on their last host: they are served untested.
    sharing->serve = [this](const QString &token) { serveTenant(token); };
    sharing->lose = [this](const QString &token) { retireWorker(token); };
}

Tablora::~Tablora()
{
    // Workers end with their threads, in their own threads; then the leases
    // go, so that other hosts take the tenants over at once.
    sharing->shutdown();
    workers.clear();
}

QList<QThread *> Tablora::workerThreads() const
{
    return sharing->pool()->threads();
}

QString Tablora::getVersion() const
{
    return QStringLiteral("2.3.0");
}

QMap<QString, QString> Tablora::getVerInfo() const
{
    return PluginInfo::verInfo(getVersion(), QStringLiteral("PLG.TB"), YXA_BUILD_STAMP());
}

void Tablora::setDatabase(const QSqlDatabase &db)
{
    const QString name = QStringLiteral("%1.Tablora").arg(db.connectionName());
    if (debugLevel)
        qCDebug(lcCatering, "Tablora::setDatabase('%s') connection name: '%s'",
            qUtf8Printable(db.databaseName()), qUtf8Printable(name));
    database = QSqlDatabase::cloneDatabase(db, name);
}

bool Tablora::start()
{
    if (debugLevel)
        qCDebug(lcCatering) << "Startting Tablora..";
    if (!dbManager) {
        qCCritical(lcCatering) << "!!! Tablora: Database manager not initialized !!!";
        return false;
    }
    if (dbManager->isInfoDB()) {
        qCInfo(lcCatering, "Tablora - is info db: %s", "YES");
        QTimer::singleShot(1000, this, SLOT(checkSchemas()));
        connect(timer, SIGNAL(timeout()), this, SLOT(handleTimer()), Qt::UniqueConnection);
        timer->start(schemaInterval);
        sharing->setUp(dbManager);
        sharing->startTimers();
        return true;
    }
    qCInfo(lcCatering, "Tablora - is info db: %s", "NO");
    if (!worker) {
        worker = new TabloraWorker(database, this);
        worker->start();
    }
    return true;
}

void Tablora::stop()
{
    if (debugLevel)
        qCDebug(lcCatering) << "Stopping Tablora..";
    if (worker) {
        worker->pollTimer()->stop();
        // Every single-database worker works on a copy of the same default
        // connection: the deferred deletion must not close it under the
        // worker that a start() in the same event-loop turn creates.
        worker->closeConnection();
        worker->deleteLater();
        worker = nullptr;
    }
}

void Tablora::pause()
{
    if (debugLevel)
        qCDebug(lcCatering) << "Pausing Tablora..";
    if (worker)
        worker->pollTimer()->stop();
}

void Tablora::resume()
{
    if (debugLevel)
        qCDebug(lcCatering) << "Resuming Tablora..";
    if (worker)
        worker->pollTimer()->start(tickInterval);
}

void Tablora::handleTimer()
{
    qCDebug(lcCatering)
        << "~~~ Tablora::handleTimer() ### for periodically starting checkSchemas() ~~~";
    checkSchemas();
}

void Tablora::checkSchemas()
{
    if (debugLevel)
        qCDebug(lcCatering) << "Tablora::checkSchemas()";
    sharing->setUp(dbManager);
    // Schemas are tested side by side on a quarter of the budget; the
    // workers keep the rest while a scan runs.
    const int lanes = qBound(1, dbManager->maxConnections() / 4, 8);
    const SchemaScan scan = SchemaScan::runTested(
        dbManager, pageSize, lanes, [this](const QString &token) { return workers.contains(token); },
        [this](QSqlDatabase &db) { return checkCatering(db); },
        [this](const QString &token) { serveTenant(token); });
    if (scan.total == 0)
        return;

    if (debugLevel)
        qCInfo(lcCatering,
            "Tablora::checkSchemas() - active workers: %i / %u schemas checked (total enabled "
            "schemas: %u)",
            static_cast<int>(workers.size()), scan.seen, scan.total);
}

void Tablora::serveTenant(const QString &token)
{
    QSqlDatabase db = dbManager->tenantConnection(token);
    if (!db.isValid() || !sharing->take(token))
        return;
    const QString name = QStringLiteral("%1.Tablora.%2").arg(db.connectionName(), db.databaseName());
    QSqlDatabase clone = QSqlDatabase::cloneDatabase(db, name);
    // Only the clone is used from here on.
    dbManager->addUnusedConnection(db.connectionName());
    TabloraWorker *w = createWorker(clone);
    if (!w)
        return;
    w->setHostLimits(dbManager, sharing->leaseCheck(token));
    sharing->pool()->adopt(w);
    QMetaObject::invokeMethod(w, "start", Qt::QueuedConnection);
    workers.insert(token, w);
}

void Tablora::retireWorker(const QString &token)
{
    TabloraWorker *w = workers.take(token);
    if (w)
        sharing->pool()->retire(w);
}

TabloraWorker *Tablora::createWorker(QSqlDatabase db)
{
    if (debugLevel)
        qCDebug(lcCatering, "Tablora::createWorker(%s)", qUtf8Printable(db.connectionName()));
    return new TabloraWorker(db, nullptr);
}

bool Tablora::checkCatering(QSqlDatabase &db)
{
    if (debugLevel)
        qCDebug(lcCatering, "Tablora::checkCatering(%s)", qUtf8Printable(db.connectionName()));
    if (!db.open()) {
        qCWarning(lcCatering, "Tablora::checkCatering(%s) - can not open database! SQL ERROR: %s",
            qUtf8Printable(db.connectionName()), qUtf8Printable(db.lastError().text()));
        return false;
    }
    bool result = false;
    {
        QSqlQuery query(db);
        if (query.exec(QStringLiteral("SELECT COUNT(*) FROM cat_promailsdelay"))) {
            result = query.next() && query.value(0).toUInt() != 0;
        } else if (query.lastError().nativeErrorCode() == QLatin1String("1146")) {
            // A tenant without catering is no fault, and every scan meets it again.
            static QMutex mutex;
            static QSet<QString> reported;
            QMutexLocker lock(&mutex);
            if (!reported.contains(db.databaseName())) {
                reported.insert(db.databaseName());
                qCInfo(lcCatering,
                    "Tablora::checkCatering(%s) - tenant \"%s\" has no catering tables",
                    qUtf8Printable(db.connectionName()), qUtf8Printable(db.databaseName()));
            }
        } else if (query.lastError().isValid()) {
            qCCritical(lcCatering, "Tablora::checkCatering(%s) - SQL ERROR: %s",
                qUtf8Printable(db.connectionName()), qUtf8Printable(query.lastError().text()));
        }
    }
    db.close();
    return result;
}
