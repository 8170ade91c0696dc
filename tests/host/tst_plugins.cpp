#include "databasemanagerinterface.h"
#include "dbmanager.h"
#include "logcapture.h"
#include "serverinterface.h"
#include "testmain.h"
#include "verinfointerface.h"

#include <QPluginLoader>
#include <QRegularExpression>
#include <QTest>

// The plug-in libraries as the host sees them: loaded through QPluginLoader.
class PluginLoadingTest : public QObject
{
    Q_OBJECT

    static QString pluginPath(const QString &name)
    {
        return qEnvironmentVariable("YXA_BINARY_DIR") + QStringLiteral("/plugins/lib%1.so").arg(name);
    }

private slots:
    void metadata_data()
    {
        QTest::addColumn<QString>("library");
        QTest::addColumn<QString>("className");
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("typeCode");
        QTest::newRow("mailing") << "mailing" << "MailingPlugin" << "1.1.2" << "PLG.ML";
        QTest::newRow("tablora") << "tablora" << "Tablora" << "2.3.0" << "PLG.TB";
    }

    void metadata()
    {
        QFETCH(QString, library);
        QFETCH(QString, className);
        QFETCH(QString, version);
        QFETCH(QString, typeCode);

        QPluginLoader loader(pluginPath(library));
        const QJsonObject meta = loader.metaData();
        QCOMPARE(meta.value(QStringLiteral("IID")).toString(), QStringLiteral("com.velkor.yxa.ServerInterface"));
        QCOMPARE(meta.value(QStringLiteral("className")).toString(), className);
        QVERIFY(meta.value(QStringLiteral("MetaData")).toObject().isEmpty());
#ifdef QT_NO_DEBUG
        QCOMPARE(meta.value(QStringLiteral("debug")).toBool(), false);
#else
        QCOMPARE(meta.value(QStringLiteral("debug")).toBool(), true);
#endif

        QObject *instance = loader.instance();
        QVERIFY2(instance, qPrintable(loader.errorString()));
        // The host asks twice and must get the same object.
        QCOMPARE(loader.instance(), instance);
        QPluginLoader second(pluginPath(library));
        QCOMPARE(second.instance(), instance);

        auto *server = qobject_cast<ServerInterface *>(instance);
        auto *managed = qobject_cast<DatabaseManagerInterface *>(instance);
        auto *verInfo = qobject_cast<VerInfoInterface *>(instance);
        QVERIFY(server && managed && verInfo);
        QCOMPARE(server->getVersion(), version);

        const QMap<QString, QString> info = verInfo->getVerInfo();
        QCOMPARE(info.value(QStringLiteral("VER")), version);
        QCOMPARE(info.value(QStringLiteral("vodraType")), typeCode);
        QCOMPARE(info.value(QStringLiteral("KEXDB")), QStringLiteral("20.03.05"));
        QVERIFY(QRegularExpression(QStringLiteral("^\\d{10}$")).match(info.value(QStringLiteral("BUILD"))).hasMatch());
        QCOMPARE(info.size(), 4);

        // Casts by class name, interface names and identifiers.
        const char *names[] = { "ServerInterface", "com.velkor.yxa.ServerInterface" };
        for (const char *name : names)
            QCOMPARE(instance->qt_metacast(name), static_cast<void *>(server));
        const char *managerNames[] = { "DatabaseManagerInterface", "com.velkor.yxa.DatabaseManagerInterface" };
        for (const char *name : managerNames)
            QCOMPARE(instance->qt_metacast(name), static_cast<void *>(managed));
        const char *infoNames[] = { "VerInfoInterface", "com.velkor.VerInfoInterface" };
        for (const char *name : infoNames)
            QCOMPARE(instance->qt_metacast(name), static_cast<void *>(verInfo));
        QCOMPARE(instance->qt_metacast(className.toLatin1().constData()), static_cast<void *>(instance));
        QCOMPARE(instance->qt_metacast("com.velkor.yxa.VerInfoInterface"), nullptr);
        QCOMPARE(instance->qt_metacast("QObject"), static_cast<void *>(instance));

        // Without a database manager start() refuses with a critical line.
        LogCapture log;
        QVERIFY(!server->start());
        QCOMPARE(log.lines(QtCriticalMsg).size(), 1);
        QVERIFY(log.lines(QtCriticalMsg).first().contains(QStringLiteral("Database manager not initialized")));

        // A destroyed instance is replaced by a new one on the next request.
        delete instance;
        QObject *fresh = loader.instance();
        QVERIFY(fresh);
        delete fresh;
    }

    void tabloraClonesTheDefaultDatabase()
    {
        QPluginLoader loader(pluginPath(QStringLiteral("tablora")));
        QObject *instance = loader.instance();
        QVERIFY(instance);
        auto *server = qobject_cast<ServerInterface *>(instance);
        QSqlDatabase main = QSqlDatabase::addDatabase(QStringLiteral("QMYSQL"), QStringLiteral("main"));
        main.setDatabaseName(QStringLiteral("shop"));
        server->setDatabase(main);
        QVERIFY(QSqlDatabase::contains(QStringLiteral("main.Tablora")));
        QCOMPARE(QSqlDatabase::database(QStringLiteral("main.Tablora"), false).databaseName(), QStringLiteral("shop"));
        delete instance;
        QSqlDatabase::removeDatabase(QStringLiteral("main.Tablora"));
        main = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("main"));
    }
};

YXA_TEST_CLASS(PluginLoadingTest)
#include "tst_plugins.moc"
