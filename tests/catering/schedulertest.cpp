#include "cateringtenant.h"
#include "dbmanager.h"
#include "logcapture.h"
#include "mariadbfixture.h"
#include "rptengine.h"
#include "tablora.h"
#include "tabloraworker.h"
#include "testmain.h"

#include <QElapsedTimer>
#include <QPluginLoader>
#include <QPointer>
#include <QSqlQuery>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include <memory>

// Which schemas get a catering worker, how workers and threads are named,
// and the single-database lifecycle.
class SchedulerTest : public QObject
{
    Q_OBJECT

private:
    const QString infoName = QStringLiteral("yxa_cat_info");
    const QStringList tenants { QStringLiteral("yxa_cat_sched1"), QStringLiteral("yxa_cat_sched2"),
        QStringLiteral("yxa_cat_sched3") };
    static constexpr int fillers = 2497;

    QSqlDatabase infoRoot() const
    {
        return MariaDbFixture::rootConnection(QStringLiteral("cat.sched.inforoot"), infoName);
    }

    std::unique_ptr<DBManager> makeManager() const
    {
        std::unique_ptr<DBManager> manager(new DBManager);
        QSqlDatabase info = MariaDbFixture::connection(QStringLiteral("cat.sched.info"), infoName,
            QStringLiteral("root"), MariaDbFixture::rootPassword());
        // The manager only notes an information database that it opened itself.
        info.close();
        manager->setInfoDB(info);
        return manager;
    }

    static QStringList threadNames(const Tablora &plugin)
    {
        QStringList names;
        for (QThread *thread : plugin.workerThreads())
            names << thread->objectName();
        return names;
    }

private slots:
    void initTestCase()
    {
        YXA_REQUIRE_MARIADB();
        QString error;
        QVERIFY2(MariaDbFixture::createInfoDatabase(infoName, &error), qPrintable(error));
        for (int i = 0; i < tenants.size(); ++i) {
            QVERIFY2(
                MariaDbFixture::createTenant(infoName, QStringLiteral("t%1").arg(i + 1), tenants[i],
                    1, { QStringLiteral("tenant.sql"), QStringLiteral("catering.sql") }, &error),
                qPrintable(error));
        }
        // Two tenants with send slots; the third has none yet.
        for (int i = 0; i < 2; ++i)
            QVERIFY(CateringTenant(tenants[i])
                        .exec(QStringLiteral("INSERT INTO cat_promailsdelay (supplierID, sendtime, "
                                             "daysto) VALUES (1, '10:00:00', 1)")));

        // Enabled schemas without a usable account: the scan pages over them
        // but gets no connection.
        QStringList values;
        for (int i = 0; i < fillers; ++i)
            values << QStringLiteral("('z%1', 'nothing%1', '', '', 1)")
                          .arg(i, 4, 10, QLatin1Char('0'));
        QVERIFY2(
            MariaDbFixture::exec(infoRoot(),
                QStringLiteral("INSERT INTO `schemas` (token, name, user, pass, status) VALUES ")
                    + values.join(QLatin1Char(',')),
                &error),
            qPrintable(error));
        QCOMPARE(MariaDbFixture::scalar(
                     infoRoot(), QStringLiteral("SELECT COUNT(*) FROM `schemas` WHERE status = 1"))
                     .toInt(),
            2500);
    }

    void cleanupTestCase()
    {
        for (const QString &tenant : tenants)
            MariaDbFixture::dropDatabase(tenant, tenant);
        MariaDbFixture::dropDatabase(infoName);
    }

    void scanGivesWorkersToSchemasWithSendSlots()
    {
        std::unique_ptr<DBManager> manager = makeManager();
        manager->setDebugLevel(1);
        QVERIFY(manager->isInfoDB());
        auto plugin = std::make_unique<Tablora>();
        plugin->setDBManager(manager.get());
        plugin->setDebugLevel(1);

        LogCapture log;
        QVERIFY(QMetaObject::invokeMethod(plugin.get(), "checkSchemas", Qt::DirectConnection));
        QCOMPARE(log.matching(QStringLiteral("DBManager::loadTokens(limit:")),
            (QStringList { QStringLiteral("DBManager::loadTokens(limit: 1000, offset: 0)"),
                QStringLiteral("DBManager::loadTokens(limit: 1000, offset: 1000)"),
                QStringLiteral("DBManager::loadTokens(limit: 1000, offset: 2000)") }));
        QCOMPARE(log.matching(QStringLiteral("Tablora::checkSchemas() - active workers:")),
            QStringList {
                QStringLiteral("Tablora::checkSchemas() - active workers: 2 / 2500 schemas checked "
                               "(total enabled schemas: 2500)") });

        QCOMPARE(plugin->tenantWorkers().keys(),
            (QStringList { QStringLiteral("t1"), QStringLiteral("t2") }));
        // The manager's own connections are closed after the scan, whether
        // the schema got a worker or not; the workers have their clones.
        for (const QString &token : { QStringLiteral("t1"), QStringLiteral("t3") }) {
            const QString name = manager->getConnectionNameFromToken(token);
            QVERIFY2(!QSqlDatabase::database(name, false).isOpen(), qPrintable(name));
        }
        QCOMPARE(threadNames(*plugin),
            (QStringList { QStringLiteral("Tablora_1"), QStringLiteral("Tablora_2") }));
        for (int i = 0; i < 2; ++i) {
            const QString token = QStringLiteral("t%1").arg(i + 1);
            TabloraWorker *worker = plugin->tenantWorkers().value(token);
            QCOMPARE(worker->connectionName(),
                manager->getConnectionNameFromToken(token) + QStringLiteral(".Tablora.")
                    + tenants[i]);
            QThread *thread = plugin->workerThreads().at(i);
            QCOMPARE(worker->thread(), thread);
            QTRY_VERIFY(thread->isRunning());
            QCOMPARE(thread->priority(), QThread::LowPriority);
        }

        // A second scan adds nothing.
        log.clear();
        QVERIFY(QMetaObject::invokeMethod(plugin.get(), "checkSchemas", Qt::DirectConnection));
        QCOMPARE(plugin->workerThreads().size(), 2);
        QCOMPARE(log.matching(QStringLiteral("Tablora::checkSchemas() - active workers:")).value(0),
            QStringLiteral("Tablora::checkSchemas() - active workers: 2 / 2500 schemas checked "
                           "(total enabled schemas: 2500)"));

        // The third schema gets its worker on the first scan after its first send slot.
        QVERIFY(CateringTenant(tenants[2])
                    .exec(QStringLiteral("INSERT INTO cat_promailsdelay (supplierID, sendtime, "
                                         "daysto) VALUES (1, '10:00:00', 1)")));
        QVERIFY(QMetaObject::invokeMethod(plugin.get(), "checkSchemas", Qt::DirectConnection));
        QCOMPARE(plugin->tenantWorkers().keys(),
            (QStringList { QStringLiteral("t1"), QStringLiteral("t2"), QStringLiteral("t3") }));
        QCOMPARE(threadNames(*plugin).last(), QStringLiteral("Tablora_3"));
        QVERIFY(CateringTenant(tenants[2]).exec(QStringLiteral("DELETE FROM cat_promailsdelay")));

        // Destruction ends the threads without waiting out the 10 s limit.
        QList<QPointer<QThread>> threads;
        for (QThread *thread : plugin->workerThreads())
            threads << thread;
        QElapsedTimer clock;
        clock.start();
        plugin.reset();
        QVERIFY(clock.elapsed() < 5000);
        for (const QPointer<QThread> &thread : threads)
            QVERIFY(thread.isNull());
    }

    // A mail-only tenant is met by every scan: one info line, no critical one.
    void tenantWithoutCateringTablesIsOneInfoLine()
    {
        const QString name = QStringLiteral("yxa_cat_mailonly");
        QString error;
        QVERIFY2(MariaDbFixture::createDatabase(name, name, MariaDbFixture::tenantPassword(name),
                     { QStringLiteral("tenant.sql") }, &error),
            qPrintable(error));
        Tablora plugin;
        LogCapture log;
        for (int scan = 0; scan < 3; ++scan) {
            QSqlDatabase db
                = MariaDbFixture::connection(QStringLiteral("cat.mailonly.%1").arg(scan), name,
                    name, MariaDbFixture::tenantPassword(name));
            bool found = true;
            QVERIFY(QMetaObject::invokeMethod(&plugin, "checkCatering", Qt::DirectConnection,
                Q_RETURN_ARG(bool, found), Q_ARG(QSqlDatabase &, db)));
            QVERIFY(!found);
        }
        QCOMPARE(
            log.count(QStringLiteral("tenant \"yxa_cat_mailonly\" has no catering tables")), 1);
        QCOMPARE(log.lines(QtCriticalMsg).size(), 0);
        MariaDbFixture::dropDatabase(name, name);
    }

    void noEnabledSchemasReadsNoPage()
    {
        QVERIFY(
            MariaDbFixture::exec(infoRoot(), QStringLiteral("UPDATE `schemas` SET status = 0")));
        std::unique_ptr<DBManager> manager = makeManager();
        manager->setDebugLevel(1);
        Tablora plugin;
        plugin.setDBManager(manager.get());
        plugin.setDebugLevel(1);
        LogCapture log;
        QVERIFY(QMetaObject::invokeMethod(&plugin, "checkSchemas", Qt::DirectConnection));
        QVERIFY(
            MariaDbFixture::exec(infoRoot(), QStringLiteral("UPDATE `schemas` SET status = 1")));
        QVERIFY(log.matching(QStringLiteral("DBManager::loadTokens(limit:")).isEmpty());
        QVERIFY(
            log.matching(QStringLiteral("Tablora::checkSchemas() - active workers:")).isEmpty());
        QVERIFY(plugin.workerThreads().isEmpty());
    }

    void startInMultiTenantMode()
    {
        std::unique_ptr<DBManager> manager = makeManager();
        Tablora plugin;
        plugin.setDBManager(manager.get());
        LogCapture log;
        QVERIFY(plugin.start());
        QVERIFY2(log.lines().contains(QStringLiteral("Tablora - is info db: YES")),
            qPrintable(log.lines().join(QLatin1Char('\n'))));
        QVERIFY(plugin.singleWorker() == nullptr);
        QVERIFY(plugin.schemaTimer()->isActive());
        QCOMPARE(plugin.schemaTimer()->interval(), 3600000);
        // The first scan comes one second after start.
        QTRY_COMPARE_WITH_TIMEOUT(plugin.workerThreads().size(), 2, 5000);
    }

    void startWithoutManagerRefuses()
    {
        Tablora plugin;
        LogCapture log;
        QVERIFY(!plugin.start());
        QVERIFY(log.lines().contains(
            QStringLiteral("!!! Tablora: Database manager not initialized !!!")));
        QVERIFY(plugin.singleWorker() == nullptr);
        QVERIFY(!plugin.schemaTimer()->isActive());
    }

    void singleDatabaseLifecycle()
    {
        DBManager manager; // no information database
        QVERIFY(!manager.isInfoDB());
        Tablora plugin;
        plugin.setDBManager(&manager);
        plugin.setDatabase(CateringTenant(tenants[0]).connection(QStringLiteral("cat.single")));
        QCOMPARE(plugin.defaultDatabase().connectionName(), QStringLiteral("cat.single.Tablora"));

        LogCapture log;
        QVERIFY(plugin.start());
        QVERIFY(log.lines().contains(QStringLiteral("Tablora - is info db: NO")));
        QPointer<TabloraWorker> worker = plugin.singleWorker();
        QVERIFY(worker);
        QCOMPARE(worker->thread(), QThread::currentThread());
        QCOMPARE(worker->parent(), &plugin);
        QCOMPARE(worker->connectionName(), QStringLiteral("cat.single.Tablora"));
        // The order template is loaded only while a tick prints.
        QVERIFY(worker->reportEngine() == nullptr);
        QVERIFY(worker->pollTimer()->isActive());
        QCOMPARE(worker->pollTimer()->interval(), 60000);
        QVERIFY(!plugin.schemaTimer()->isActive());

        plugin.pause();
        QVERIFY(!worker->pollTimer()->isActive());
        plugin.resume();
        QVERIFY(worker->pollTimer()->isActive());
        QCOMPARE(worker->pollTimer()->interval(), 60000);

        plugin.stop();
        QVERIFY(plugin.singleWorker() == nullptr);
        QVERIFY(!worker->pollTimer()->isActive());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(worker.isNull());
        plugin.pause(); // only logs now
        plugin.resume();

        QVERIFY(plugin.start());
        QVERIFY(plugin.singleWorker() != nullptr);
        QVERIFY(plugin.singleWorker()->pollTimer()->isActive());

        // Stopped and started again in one event-loop turn: the old worker's
        // deletion leaves the new worker's connection open.
        plugin.stop();
        QVERIFY(plugin.start());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(QSqlDatabase::database(plugin.singleWorker()->connectionName(), false).isOpen());
    }

    void versionAndInterfaces()
    {
        Tablora plugin;
        QCOMPARE(plugin.getVersion(), QStringLiteral("2.3.0"));
        const QMap<QString, QString> info = plugin.getVerInfo();
        QCOMPARE(info.value(QStringLiteral("VER")), QStringLiteral("2.3.0"));
        QCOMPARE(info.value(QStringLiteral("vodraType")), QStringLiteral("PLG.TB"));
        QCOMPARE(info.value(QStringLiteral("KEXDB")), QStringLiteral("20.03.05"));
        QVERIFY(plugin.qt_metacast("com.velkor.yxa.ServerInterface"));
        QVERIFY(plugin.qt_metacast("com.velkor.VerInfoInterface"));
        QVERIFY(plugin.qt_metacast("DatabaseManagerInterface"));
    }

    void pluginLoads()
    {
        const QString path
            = qEnvironmentVariable("YXA_BINARY_DIR") + QStringLiteral("/plugins/libtablora.so");
        QVERIFY2(QFile::exists(path), qPrintable(path));
        QPluginLoader loader(path);
        QCOMPARE(loader.metaData().value(QStringLiteral("IID")).toString(),
            QStringLiteral("com.velkor.yxa.ServerInterface"));
        QCOMPARE(loader.metaData().value(QStringLiteral("className")).toString(),
            QStringLiteral("Tablora"));
        QObject *instance = loader.instance();
        QVERIFY2(instance, qPrintable(loader.errorString()));
        ServerInterface *server = qobject_cast<ServerInterface *>(instance);
        QVERIFY(server);
        QCOMPARE(server->getVersion(), QStringLiteral("2.3.0"));
        QVERIFY(loader.unload());
    }
};

YXA_TEST_CLASS(SchedulerTest)
#include "schedulertest.moc"
