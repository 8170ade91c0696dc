// Tokens and schema names that carry quotes, backslashes and line breaks,
// in the information database and in the calls that look them up: every
// statement built from them must still select exactly what it names.
#include "dbmanager.h"
#include "logcapture.h"
#include "mariadbfixture.h"
#include "testmain.h"

#include <QSqlQuery>
#include <QTest>

namespace {
const QString kInfo = QStringLiteral("yxa_faults_info");
const QString kTenant = QStringLiteral("yxa_faults_tok");

const QStringList &hostileTokens()
{
    static const QStringList tokens { QStringLiteral("x' OR '1'='1"), QStringLiteral("back\\slash'"),
        QStringLiteral("line\r\nbreak"), QStringLiteral("semi'; DROP TABLE schemas; --"),
        QStringLiteral("\\' OR 1=1 -- ") };
    return tokens;
}
} // namespace

class HostileTokenTest : public QObject
{
    Q_OBJECT

private:
    QSqlDatabase info() { return MariaDbFixture::rootConnection(QStringLiteral("faults.info.root"), kInfo); }

private slots:
    void initTestCase()
    {
        YXA_REQUIRE_MARIADB();
        QString error;
        QVERIFY2(MariaDbFixture::createInfoDatabase(kInfo, &error), qPrintable(error));
        QVERIFY2(MariaDbFixture::createTenant(kInfo, QStringLiteral("good"), kTenant, 1,
                     { QStringLiteral("tenant.sql") }, &error),
            qPrintable(error));
        int n = 0;
        for (const QString &token : hostileTokens()) {
            QSqlQuery insert(info());
            insert.prepare(QStringLiteral(
                "INSERT INTO `schemas` (token, name, user, pass, status) VALUES (?, ?, 'nobody', 'cHc=', 1)"));
            insert.addBindValue(token);
            insert.addBindValue(QStringLiteral("db%1' OR '1'='1").arg(++n));
            QVERIFY(insert.exec());
        }
    }

    void cleanupTestCase()
    {
        MariaDbFixture::dropDatabase(kTenant, kTenant);
        MariaDbFixture::dropDatabase(kInfo);
    }

    void lookupsSelectOnlyWhatTheyName()
    {
        DBManager manager;
        manager.setInfoDB(info());
        const int rows = MariaDbFixture::scalar(info(), QStringLiteral("SELECT COUNT(*) FROM `schemas`")).toInt();
        QCOMPARE(rows, hostileTokens().size() + 1);
        QCOMPARE(int(manager.tokensCount(true)), rows);

        QStringList loaded = manager.loadTokens(100, 0);
        QStringList expected = hostileTokens();
        expected << QStringLiteral("good");
        loaded.sort();
        expected.sort();
        QCOMPARE(loaded, expected);

        // A token that does not exist but would widen the WHERE clause.
        QVERIFY(manager.loadScheme(QStringLiteral("nope' OR '1'='1")).name.isEmpty());
        QVERIFY(manager.loadScheme(QStringLiteral("nope\\' OR 1=1 -- ")).name.isEmpty());
        QVERIFY(manager.getTokenBySchemaName(QStringLiteral("zzz' OR '1'='1")).isEmpty());
        // Hostile tokens that do exist find their own row and no other.
        int n = 0;
        for (const QString &token : hostileTokens()) {
            const DBSchemeRecord record = manager.loadScheme(token);
            QCOMPARE(record.name, QStringLiteral("db%1' OR '1'='1").arg(++n));
            QCOMPARE(manager.getTokenBySchemaName(record.name), token);
        }
        QCOMPARE(manager.loadScheme(QStringLiteral("good")).name, kTenant);

        // A schema whose database name is hostile gives no connection, and
        // nothing else.
        LogCapture log;
        const QSqlDatabase db = manager.getDatabase(hostileTokens().first());
        QVERIFY(!db.isOpen());
        QVERIFY(manager.getDatabase(QStringLiteral("good")).isOpen());
        QCOMPARE(MariaDbFixture::scalar(info(), QStringLiteral("SELECT COUNT(*) FROM `schemas`")).toInt(), rows);
    }
};

YXA_TEST_CLASS(HostileTokenTest)
#include "hostiletokentest.moc"
