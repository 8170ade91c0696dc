// A long run of both plug-ins' workers on one tenant, as a busy day would
// bring it: hundreds of queued mails with attachments and dozens of order
// PDFs, all delivered by SMTP to a real server. Under the sanitizer build
// LeakSanitizer checks the whole run at exit; here the test checks that every
// mail arrived once, that no temporary file stays behind, and that neither
// open descriptors nor the tenant's server connections grow with the work.
#include "../catering/cateringtenant.h"
#include "mailingpluginworker.h"
#include "mailtenant.h"
#include "mariadbfixture.h"
#include "queueaudit.h"
#include "runningworker.h"
#include "smtppeer.h"
#include "tabloraworker.h"
#include "testmain.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QSet>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {
const int kPlainMails = 300;
const int kCateringTicks = 12; // two order mails, each with its PDF, per tick

int openDescriptors()
{
    return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size();
}

qint64 residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}
} // namespace

class SoakTest : public QObject
{
    Q_OBJECT

private:
    CateringTenant tenant { QStringLiteral("yxa_faults_soak") };
    const QDate friday = nextFriday(QDate(2030, 1, 1));
    const QDate wednesday = friday.addDays(-2);

    int count(const QString &where) const
    {
        return tenant.scalar(QStringLiteral("SELECT COUNT(*) FROM emails WHERE %1").arg(where)).toInt();
    }

    int tenantConnections() const
    {
        return tenant
            .scalar(QStringLiteral(
                "SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE USER = '%1'")
                        .arg(tenant.database()))
            .toInt();
    }

private slots:
    void initTestCase()
    {
        YXA_REQUIRE_MARIADB();
        QString error;
        QVERIFY2(tenant.create(&error), qPrintable(error));
    }

    void cleanupTestCase() { tenant.drop(); }

    void busyDay()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        const QByteArray oldTmp = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(tmp.path()));
        auto leftovers = [&tmp] {
            return QDir(tmp.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
        };

        SmtpPeer server;
        const QString started = server.startReal();
        QVERIFY2(started.isEmpty(), qPrintable(started));

        QVERIFY(tenant.seedOneSupplier(friday));
        QVERIFY(tenant.exec(QStringLiteral("INSERT INTO vars (name, value) VALUES ('mailingType', '1'), "
                                           "('smtpHost', '127.0.0.1'), ('smtpPort', '%1'), ('smtpType', '0')")
                                .arg(server.port())));

        // Plain mails, each with an attachment of its own.
        QByteArray attachment(20 * 1024, Qt::Uninitialized);
        for (char &c : attachment)
            c = char(QRandomGenerator::global()->bounded(256));
        const QByteArray data = QJsonDocument(QJsonObject { { "attachments",
                                                  QJsonArray { QJsonObject {
                                                      { "type", "application/octet-stream" },
                                                      { "name", "príloha.bin" },
                                                      { "content", QString::fromLatin1(attachment.toBase64()) } } } } })
                                    .toJson(QJsonDocument::Compact);
        for (int i = 0; i < kPlainMails; ++i)
            QVERIFY(MailTenant::insertMail(tenant.database(), QStringLiteral("r%1@example.test").arg(i),
                        QStringLiteral("soak %1").arg(i), "Dobrý deň,\r\nv prílohe.\r\n", data, 1000 + i)
                != 0);

        QElapsedTimer clock;
        clock.start();
        RunningWorker mailing(MailTenant::connection(QStringLiteral("faults.soak.mail"), tenant.database()),
            MandrillApiSettings(), 50);

        TabloraWorker catering(tenant.connection(QStringLiteral("faults.soak.cat")));
        catering.start();
        catering.pollTimer()->stop();

        int baselineDescriptors = -1;
        int baselineConnections = -1;
        qint64 baselineRss = -1;
        for (int tick = 0; tick < kCateringTicks; ++tick) {
            QString error;
            QVERIFY2(CateringTenant::tickAt(&catering, QDateTime(wednesday, QTime(10, 1 + tick)), &error),
                qPrintable(error));
            QCOMPARE(count(QStringLiteral("`to` LIKE '%@slnko.test'")), 2 * (tick + 1));
            QVERIFY2(leftovers().isEmpty(), qPrintable(leftovers().join(',')));
            // Due again on the next tick.
            QVERIFY(tenant.exec(QStringLiteral("UPDATE cat_orderables SET sent = NULL")));
            QTest::qWait(200); // the mailing worker works meanwhile, as on a real host
            if (tick == 1) {
                baselineDescriptors = openDescriptors();
                baselineConnections = tenantConnections();
                baselineRss = residentKiB();
            }
        }

        const int total = kPlainMails + 2 * kCateringTicks;
        QTRY_VERIFY_WITH_TIMEOUT(count(QStringLiteral("done IS NULL")) == 0, 300000);
        qInfo("%d mails and %d order PDFs in %.1f s; resident memory %lld KiB after the second tick, %lld KiB at the end",
            total, 2 * kCateringTicks, clock.elapsed() / 1000.0, baselineRss, residentKiB());

        QCOMPARE(count(QStringLiteral("1")), total);
        QCOMPARE(count(QStringLiteral("status = 'S' AND sent = 1")), total);
        QueueAudit audit(tenant.database());
        QVERIFY2(audit.violations().isEmpty(), qPrintable(audit.violations().join('\n')));

        // Every mail reached the server once; every order mail with its PDF.
        QTRY_COMPARE_WITH_TIMEOUT(server.messageCount(), total, 5000);
        QSet<QString> recipients;
        int orderPdfs = 0;
        for (int i = 1; i <= server.messageCount(); ++i) {
            const QJsonObject envelope = server.envelope(i);
            const QJsonArray to = envelope.value(QLatin1String("rcpt_tos")).toArray();
            QCOMPARE(to.size(), 1);
            const QString address = to.at(0).toString();
            if (address.endsWith(QLatin1String("@slnko.test"))) {
                const QByteArray eml = server.eml(i);
                QVERIFY(eml.contains("Content-Type: application/pdf"));
                ++orderPdfs;
            } else {
                QVERIFY2(!recipients.contains(address), qPrintable(address + " delivered twice"));
                recipients.insert(address);
            }
        }
        QCOMPARE(recipients.size(), kPlainMails);
        QCOMPARE(orderPdfs, 2 * kCateringTicks);

        // Nothing stays on disk, and the work does not pile up descriptors
        // or server connections (a little slack for Qt's own lazy files).
        QVERIFY2(leftovers().isEmpty(), qPrintable(leftovers().join(',')));
        QVERIFY2(openDescriptors() <= baselineDescriptors + 2,
            qPrintable(QStringLiteral("%1 descriptors open, %2 after the second tick")
                           .arg(openDescriptors())
                           .arg(baselineDescriptors)));
        QTRY_VERIFY_WITH_TIMEOUT(tenantConnections() <= baselineConnections, 3000);

        if (oldTmp.isNull())
            qunsetenv("TMPDIR");
        else
            qputenv("TMPDIR", oldTmp);
    }
};

YXA_TEST_CLASS(SoakTest)
#include "soaktest.moc"
