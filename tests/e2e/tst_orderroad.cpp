#include "mariadbfixture.h"
#include "systemrun.h"
#include "testmain.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QUrl>
#include <QUrlQuery>

// The road of one order through the whole system: the catering plug-in finds
// the due orders, prints the PDF and queues the mail; the mailing plug-in
// delivers it by SMTP to a real server, and delivers another tenant's mails
// through the (fake) Mandrill API. yxa-host runs both real plug-ins.
class OrderRoadTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<SystemRun> run;
    // A real Prometheus server scraping the host's /metrics every second.
    QProcess prometheus;
    int prometheusPort = 0;
    qint64 startedAt = 0;

    static int freePort()
    {
        QTcpServer server;
        return server.listen(QHostAddress::LocalHost, 0) ? server.serverPort() : 0;
    }

    static QByteArray httpGet(int port, const QByteArray &target)
    {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, quint16(port));
        if (!socket.waitForConnected(5000))
            return QByteArray();
        socket.write("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
        QByteArray data;
        while (socket.waitForReadyRead(10000))
            data += socket.readAll();
        const int headerEnd = data.indexOf("\r\n\r\n");
        return headerEnd < 0 ? QByteArray() : data.mid(headerEnd + 4);
    }

    QString startPrometheus(int metricsPort)
    {
        const QString binary = QStandardPaths::findExecutable(QStringLiteral("prometheus"));
        if (binary.isEmpty())
            return QStringLiteral("no prometheus binary (Debian package prometheus)");
        const QString dir = run->workDir() + QStringLiteral("/prometheus");
        QDir().mkpath(dir);
        QFile config(dir + QStringLiteral("/prometheus.yml"));
        if (!config.open(QIODevice::WriteOnly))
            return QStringLiteral("cannot write the Prometheus configuration");
        config.write(QStringLiteral(
            "global:\n  scrape_interval: 1s\n  scrape_timeout: 1s\nscrape_configs:\n"
            "  - job_name: yxa\n    static_configs:\n      - targets: ['127.0.0.1:%1']\n")
                         .arg(metricsPort)
                         .toUtf8());
        config.close();
        prometheusPort = freePort();
        prometheus.setProcessChannelMode(QProcess::MergedChannels);
        prometheus.setStandardOutputFile(dir + QStringLiteral("/prometheus.log"));
        prometheus.start(binary,
            { QStringLiteral("--config.file=") + config.fileName(),
                QStringLiteral("--storage.tsdb.path=") + dir + QStringLiteral("/data"),
                QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(prometheusPort) });
        if (!prometheus.waitForStarted(10000))
            return QStringLiteral("prometheus does not start");
        startedAt = QDateTime::currentSecsSinceEpoch();
        return QString();
    }

    static QSqlDatabase tenant(const QString &name)
    {
        return MariaDbFixture::rootConnection(QStringLiteral("e2e.") + name, name);
    }

    static int count(const QString &database, const QString &sql)
    {
        return MariaDbFixture::scalar(tenant(database), sql).toInt();
    }

    static QJsonObject parseMail(const QString &eml)
    {
        QProcess dump;
        dump.start(QStringLiteral("/usr/bin/python3"),
                   { SystemRun::sourceDir() + QStringLiteral("/tests/support/smtp-eml-dump.py"), eml });
        dump.waitForFinished(30000);
        return QJsonDocument::fromJson(dump.readAllStandardOutput()).object();
    }

    static QString pdfText(const QByteArray &pdf, const QString &dir)
    {
        const QString path = dir + QStringLiteral("/order.pdf");
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return QString();
        file.write(pdf);
        file.close();
        QProcess text;
        text.start(QStringLiteral("pdftotext"), { QStringLiteral("-layout"), path, QStringLiteral("-") });
        text.waitForFinished(30000);
        return QString::fromUtf8(text.readAllStandardOutput());
    }

    // The text line of a food inside one branch's section of the order.
    static QString lineOf(const QString &section, const QString &food)
    {
        const QStringList lines = section.split(QLatin1Char('\n'));
        for (const QString &line : lines) {
            if (line.contains(food))
                return line;
        }
        return QString();
    }

private slots:
    void initTestCase()
    {
        YXA_REQUIRE_MARIADB();
        QString error;
        QVERIFY2(MariaDbFixture::createInfoDatabase(QStringLiteral("e2e_info"), &error), qPrintable(error));
        QVERIFY2(MariaDbFixture::createDatabase(QStringLiteral("e2e_kex"), QString(), QString(),
                                                { QStringLiteral("tenant.sql") }, &error),
                 qPrintable(error));
        const QString data = qEnvironmentVariable("YXA_TEST_DATA_DIR") + QStringLiteral("/e2e/");
        QVERIFY2(MariaDbFixture::createTenant(QStringLiteral("e2e_info"), QStringLiteral("cat1"), QStringLiteral("e2e_cat"), 1,
                                              { QStringLiteral("tenant.sql"), QStringLiteral("catering.sql"),
                                                data + QStringLiteral("catering-tenant.sql") },
                                              &error),
                 qPrintable(error));
        QVERIFY2(MariaDbFixture::createTenant(QStringLiteral("e2e_info"), QStringLiteral("shop1"), QStringLiteral("e2e_shop"), 1,
                                              { QStringLiteral("tenant.sql"), data + QStringLiteral("api-tenant.sql") }, &error),
                 qPrintable(error));
        QVERIFY2(MariaDbFixture::createTenant(QStringLiteral("e2e_info"), QStringLiteral("off1"), QStringLiteral("e2e_off"), 0,
                                              { QStringLiteral("tenant.sql"), data + QStringLiteral("api-tenant.sql") }, &error),
                 qPrintable(error));

        run = std::make_unique<SystemRun>();
        QVERIFY2(run->startSmtpServer(&error), qPrintable(error));
        QVERIFY2(run->startFakeApi(&error), qPrintable(error));
        QVERIFY(MariaDbFixture::exec(tenant(QStringLiteral("e2e_cat")),
                                     QStringLiteral("INSERT INTO vars (name, value) VALUES ('smtpHost', '127.0.0.1'), "
                                                    "('smtpPort', '%1'), ('smtpType', '0'), ('smtpMethod', '0')")
                                         .arg(run->smtpPort())));
        const int metricsPort = freePort();
        const QString noPrometheus = startPrometheus(metricsPort);
        if (!noPrometheus.isEmpty())
            qWarning("%s: the scrape is not tested", qPrintable(noPrometheus));
        QVERIFY2(run->addHost(QStringLiteral("e2e_info"), QStringLiteral("e2e_kex"),
                     { { QStringLiteral("metricsListen"),
                         QStringLiteral("127.0.0.1:%1").arg(metricsPort) } },
                     &error)
                == 0,
            qPrintable(error));
    }

    void cleanupTestCase()
    {
        if (prometheus.state() != QProcess::NotRunning) {
            prometheus.terminate();
            if (!prometheus.waitForFinished(10000))
                prometheus.kill();
        }
        run.reset();
    }

    void everythingIsDelivered()
    {
        // The catering worker's first tick comes a minute after it starts; the
        // mailing plug-in finds the new mail at its next scan (every 10 s here).
        QElapsedTimer timer;
        timer.start();
        bool done = false;
        while (!done && timer.elapsed() < 180000 && run->hostRunning()) {
            QTest::qWait(1000);
            const int orders = count(QStringLiteral("e2e_cat"), QStringLiteral("SELECT COUNT(*) FROM emails WHERE type='C'"));
            const int ordersSent = count(QStringLiteral("e2e_cat"),
                                         QStringLiteral("SELECT COUNT(*) FROM emails WHERE type='C' AND status='S'"));
            const int shopSent = count(QStringLiteral("e2e_shop"), QStringLiteral("SELECT COUNT(*) FROM emails WHERE status='S'"));
            done = orders > 0 && orders == ordersSent && shopSent == 3;
        }
        QVERIFY2(run->hostRunning(), qPrintable(run->hostLog().right(4000)));
        QVERIFY2(done, qPrintable(run->hostLog().right(6000)));
        // Give a second delivery every chance to happen before counting.
        QTest::qWait(12000);
        run->stopHost();
    }

    void prometheusSawTheMailsCounterRise()
    {
        if (prometheus.state() != QProcess::Running)
            QSKIP("no Prometheus server runs");
        // Before the first mail the series does not exist yet: it counts as 0.
        QUrlQuery query;
        query.addQueryItem(QStringLiteral("query"),
            QStringLiteral("sum(yxa_mails_total{status=\"S\"}) or vector(0)"));
        query.addQueryItem(QStringLiteral("start"), QString::number(startedAt));
        query.addQueryItem(
            QStringLiteral("end"), QString::number(QDateTime::currentSecsSinceEpoch()));
        query.addQueryItem(QStringLiteral("step"), QStringLiteral("1"));
        const QByteArray target
            = "/api/v1/query_range?" + query.query(QUrl::FullyEncoded).replace("+", "%2B").toUtf8();
        const QJsonObject answer
            = QJsonDocument::fromJson(httpGet(prometheusPort, target)).object();
        QCOMPARE(answer.value(QStringLiteral("status")).toString(), QStringLiteral("success"));
        const QJsonArray series = answer.value(QStringLiteral("data"))
                                      .toObject()
                                      .value(QStringLiteral("result"))
                                      .toArray();
        QCOMPARE(series.size(), 1);
        QVector<double> values;
        for (const QJsonValue &point :
            series.first().toObject().value(QStringLiteral("values")).toArray())
            values << point.toArray().at(1).toString().toDouble();
        QVERIFY(!values.isEmpty());
        // 0 while the host started, at least the three API mails and one
        // order later.
        const int firstZero = int(values.indexOf(0.0));
        QVERIFY2(firstZero >= 0, qPrintable(QString::fromUtf8(QJsonDocument(series).toJson())));
        const double highest = *std::max_element(values.cbegin() + firstZero, values.cend());
        QVERIFY2(highest >= 4, qPrintable(QString::fromUtf8(QJsonDocument(series).toJson())));
    }

    void orderRowsAndSlots()
    {
        const QString db = QStringLiteral("e2e_cat");
        QCOMPARE(count(db, QStringLiteral("SELECT COUNT(*) FROM emails")), 1);
        QCOMPARE(count(db, QStringLiteral("SELECT COUNT(*) FROM emails WHERE type='C' AND status='S' AND sent=1 "
                                          "AND done IS NOT NULL AND apiID IS NULL")),
                 1);
        // Every ordered orderable carries the slot; the one nobody ordered does not.
        QCOMPARE(count(db, QStringLiteral("SELECT COUNT(*) FROM cat_orderables WHERE sent=7")), 7);
        QCOMPARE(count(db, QStringLiteral("SELECT COUNT(*) FROM cat_orderables WHERE orderableID=22 AND sent IS NULL")), 1);
        // One automatic soup per diner, segment, branch and day.
        QCOMPARE(count(db, QStringLiteral("SELECT COUNT(*) FROM cat_orders WHERE ordered LIKE 'Tablora-auto%'")), 6);
        QCOMPARE(count(db, QStringLiteral("SELECT COUNT(*) FROM cat_orders WHERE ordered = 'Tablora-auto, Ján Novák, 2026-12-01 09:12' "
                                          "AND orderableID=14 AND quantity=1")),
                 1);
    }

    void theSupplierReceivedTheOrderWithItsPdf()
    {
        const QStringList mails = run->receivedMails();
        QCOMPARE(mails.size(), 1);
        const QJsonObject mail = parseMail(mails.first());
        QVERIFY2(mail.value(QStringLiteral("subject")).toString().startsWith(QStringLiteral("Firma Demo s.r.o. - Objednávka - ")),
                 qPrintable(mail.value(QStringLiteral("subject")).toString()));
        QVERIFY(mail.value(QStringLiteral("subject")).toString().endsWith(QStringLiteral(", Obed, dodávateľ: Jedáleň u Anny")));
        QVERIFY(mail.value(QStringLiteral("to")).toString().contains(QStringLiteral("objednavky@jedalen-anna.example")));

        QByteArray pdf;
        QString name;
        const QJsonArray parts = mail.value(QStringLiteral("parts")).toArray();
        for (const QJsonValue &part : parts) {
            if (part.toObject().value(QStringLiteral("content_type")).toString() == QStringLiteral("application/pdf")) {
                pdf = QByteArray::fromBase64(part.toObject().value(QStringLiteral("base64")).toString().toLatin1());
                name = part.toObject().value(QStringLiteral("filename")).toString();
            }
        }
        QVERIFY2(pdf.startsWith("%PDF"), qPrintable(QString::fromUtf8(QJsonDocument(mail).toJson())));
        QVERIFY2(QRegularExpression(QStringLiteral("^Objednávka-\\d{8}-Obed\\.pdf$")).match(name).hasMatch(), qPrintable(name));

        const QString text = pdfText(pdf, run->workDir());
        // Branches in ascending name order, each with its foods and quantities.
        const int centrum = text.indexOf(QStringLiteral("Pobočka Centrum"));
        const int sever = text.indexOf(QStringLiteral("Pobočka Sever"));
        QVERIFY2(centrum >= 0 && sever > centrum, qPrintable(text));
        const QString centrumPart = text.mid(centrum, sever - centrum);
        const QString severPart = text.mid(sever);
        const auto quantityIs = [](const QString &line, int quantity) {
            return QRegularExpression(QStringLiteral("\\b%1\\b").arg(quantity)).match(line).hasMatch();
        };
        QVERIFY2(quantityIs(lineOf(severPart, QStringLiteral("Kuracie prsia so zemiakmi")), 3), qPrintable(severPart));
        QVERIFY2(quantityIs(lineOf(severPart, QStringLiteral("Vyprážaný syr s hranolkami")), 1), qPrintable(severPart));
        QVERIFY2(quantityIs(lineOf(severPart, QStringLiteral("Zeleninové rizoto")), 1), qPrintable(severPart));
        QVERIFY2(quantityIs(lineOf(severPart, QStringLiteral("Paradajková polievka")), 4), qPrintable(severPart));
        QVERIFY2(quantityIs(lineOf(centrumPart, QStringLiteral("Kuracie prsia so zemiakmi")), 3), qPrintable(centrumPart));
        QVERIFY2(quantityIs(lineOf(centrumPart, QStringLiteral("Zeleninové rizoto")), 2), qPrintable(centrumPart));
        QVERIFY2(quantityIs(lineOf(centrumPart, QStringLiteral("Paradajková polievka")), 2), qPrintable(centrumPart));
        // Nobody ordered the fried cheese at Centrum: it is not on the order.
        QVERIFY2(lineOf(centrumPart, QStringLiteral("Vyprážaný syr")).isEmpty(), qPrintable(centrumPart));
    }

    void theApiTenantsMailsWentThroughTheApiOnce()
    {
        const QString db = QStringLiteral("e2e_shop");
        QSqlQuery query(tenant(db));
        QVERIFY_SQL(query, exec(QStringLiteral("SELECT mid, status, sent, apiID, done FROM emails ORDER BY mid")));
        int rows = 0;
        QSet<QString> ids;
        while (query.next()) {
            ++rows;
            QCOMPARE(query.value(1).toString(), QStringLiteral("S"));
            QCOMPARE(query.value(2).toInt(), 1);
            QVERIFY(!query.value(4).isNull());
            const QString id = query.value(3).toString();
            QVERIFY2(id.startsWith(QStringLiteral("fake-")), qPrintable(id));
            ids.insert(id);
        }
        QCOMPARE(rows, 3);
        QCOMPARE(ids.size(), 3);

        int sends = 0;
        QSet<int> mids;
        for (const QJsonObject &request : run->apiRequests()) {
            if (request.value(QStringLiteral("path")).toString() != QStringLiteral("/api/1.0/messages/send.json"))
                continue;
            ++sends;
            const QJsonObject body = request.value(QStringLiteral("body")).toObject();
            mids.insert(body.value(QStringLiteral("message")).toObject().value(QStringLiteral("metadata")).toObject()
                            .value(QStringLiteral("mid")).toVariant().toInt());
        }
        QCOMPARE(sends, 3);
        QCOMPARE(mids.size(), 3);
    }

    void theDisabledTenantIsUntouched()
    {
        QCOMPARE(count(QStringLiteral("e2e_off"), QStringLiteral("SELECT COUNT(*) FROM emails WHERE done IS NULL AND apiID IS NULL "
                                                                "AND sent = 0")),
                 3);
    }
};

YXA_TEST_CLASS(OrderRoadTest)
#include "tst_orderroad.moc"
