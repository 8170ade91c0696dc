#include "schemascan.h"

#include "commonlogging.h"
#include "dbmanager.h"
#include "metricsregistry.h"

#include <QElapsedTimer>
#include <QSqlQuery>

#include <QThread>

#include <atomic>
#include <memory>
#include <vector>

namespace {
// How long a test waits for a connection of the budget. A scan runs on the
// host's thread: when the budget stays used up, the rest of the schemas are
// left to the next scan rather than holding the host up.
const int kBudgetWaitMs = 1000;
const QString kConnectOptions = QStringLiteral("MYSQL_OPT_RECONNECT=1;CLIENT_IGNORE_SPACE=1");
} // namespace

SchemaScan SchemaScan::run(DBManager *manager, unsigned pageSize, const std::function<void(const QString &)> &visit)
{
    SchemaScan scan;
    if (!manager)
        return scan;
    scan.total = manager->tokensCount(true);
    if (scan.total == 0)
        return scan;
    unsigned offset = 0;
    do {
        const QStringList page = manager->loadTokens(pageSize, offset);
        for (const QString &token : page)
            visit(token);
        offset += pageSize;
        scan.seen += unsigned(page.size());
        if (page.isEmpty())
            break;
    } while (scan.seen < scan.total);
    return scan;
}

SchemaScan SchemaScan::runTested(DBManager *manager, unsigned pageSize, int parallel,
                                 const std::function<bool(const QString &)> &skip,
                                 const std::function<bool(QSqlDatabase &)> &test,
                                 const std::function<void(const QString &)> &accept)
{
    QElapsedTimer clock;
    clock.start();
    QStringList candidates;
    const SchemaScan scan = run(manager, pageSize, [&](const QString &token) {
        if (!skip(token))
            candidates << token;
    });
    // No schema counted may as well mean no answer: ask once more.
    const bool listed = manager && (scan.total > 0 || manager->withInfoDB([](QSqlDatabase &db) {
        return QSqlQuery(db).exec(QStringLiteral("SELECT 1"));
    }));
    MetricsRegistry::gauge("yxa_schema_scan_success", {}, listed ? 1 : 0);
    const auto observe = [&clock] {
        MetricsRegistry::observe(
            "yxa_schema_scan_duration_seconds", {}, double(clock.nsecsElapsed()) / 1e9);
    };
    if (candidates.isEmpty()) {
        observe();
        return scan;
    }

    // Connecting is what a scan waits for: one query for all accounts, then
    // one connection per schema, several at a time.
    const QHash<QString, DBSchemeRecord> records = manager->loadSchemes(candidates);
    const QSqlDatabase info = manager->getInfoDB();
    const QString host = info.hostName();
    const int port = info.port();
    std::vector<char> passed(size_t(candidates.size()), 0);
    std::atomic<int> next { 0 };
    std::atomic<bool> starved { false };
    const auto testSome = [&](int lane) {
        const QString name = QStringLiteral("YXA.SchemaScan.%1.%2").arg(lane).arg(quintptr(&passed), 0, 16);
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QMYSQL"), name);
            db.setHostName(host);
            db.setPort(port);
            db.setConnectOptions(kConnectOptions);
            for (int i = next++; i < candidates.size() && !starved; i = next++) {
                const DBSchemeRecord record = records.value(candidates.at(i));
                if (!record.isUsable())
                    continue;
                db.setDatabaseName(record.name);
                db.setUserName(record.user);
                db.setPassword(record.pass);
                if (!manager->acquireConnection(kBudgetWaitMs)) {
                    starved = true;
                    break;
                }
                passed[size_t(i)] = test(db) ? 1 : 0;
                if (db.isOpen())
                    db.close();
                manager->releaseConnection();
            }
        }
        QSqlDatabase::removeDatabase(name);
    };

    const int lanes = qBound(1, parallel, int(candidates.size()));
    std::vector<std::unique_ptr<QThread>> threads;
    for (int lane = 1; lane < lanes; ++lane) {
        threads.emplace_back(QThread::create(testSome, lane));
        threads.back()->start();
    }
    testSome(0);
    for (auto &thread : threads)
        thread->wait();

    if (starved)
        qCWarning(lcCommon, "SchemaScan::runTested() - no connection of the budget within %d ms; the schemas "
                            "not tested yet are left to the next scan",
                  kBudgetWaitMs);
    for (int i = 0; i < candidates.size(); ++i) {
        if (passed[size_t(i)])
            accept(candidates.at(i));
    }
    observe();
    return scan;
}
