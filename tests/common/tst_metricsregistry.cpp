#include "healthcheck.h"
#include "metricsregistry.h"
#include "testmain.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QThread>

#include <cmath>
#include <vector>

// The host-wide metrics: their text exposition, as promtool reads it, values
// written from several threads, and the health verdict drawn from them.
class MetricsRegistryTest : public QObject
{
    Q_OBJECT

private slots:
    void exposition()
    {
        MetricsRegistry registry;
        QCOMPARE(registry.exposition(), QByteArray());
        registry.add("yxa_mails_total", { { "transport", "smtp" }, { "status", "S" } }, 1);
        registry.add("yxa_mails_total", { { "status", "S" }, { "transport", "smtp" } }, 2);
        registry.add("yxa_mails_total", { { "transport", "api" }, { "status", "E" } }, 1);
        registry.set("yxa_db_connection_budget", {}, 32);
        registry.record("yxa_order_pdf_render_duration_seconds", {}, 0.02);
        registry.record("yxa_order_pdf_render_duration_seconds", {}, 0.3);
        registry.record("yxa_order_pdf_render_duration_seconds", {}, 20);
        registry.set("yxa_plugin_info", { { "plugin", "mail\"ing\\" }, { "version", "1.1.2" } }, 1);
        const QByteArray expected
            = "# HELP yxa_mails_total Mails that reached a final status letter, by transport.\n"
              "# TYPE yxa_mails_total counter\n"
              "yxa_mails_total{status=\"E\",transport=\"api\"} 1\n"
              "yxa_mails_total{status=\"S\",transport=\"smtp\"} 3\n"
              "# HELP yxa_db_connection_budget Tenant connections this host may hold open at "
              "once.\n"
              "# TYPE yxa_db_connection_budget gauge\n"
              "yxa_db_connection_budget 32\n";
        const QByteArray text = registry.exposition();
        QVERIFY2(text.contains(expected), text.constData());
        QVERIFY(text.contains("yxa_plugin_info{plugin=\"mail\\\"ing\\\\\",version=\"1.1.2\"} 1\n"));
        QVERIFY(text.contains("# TYPE yxa_order_pdf_render_duration_seconds histogram\n"
                              "yxa_order_pdf_render_duration_seconds_bucket{le=\"0.01\"} 0\n"
                              "yxa_order_pdf_render_duration_seconds_bucket{le=\"0.025\"} 1\n"));
        QVERIFY(text.contains("yxa_order_pdf_render_duration_seconds_bucket{le=\"0.5\"} 2\n"));
        QVERIFY(text.contains("yxa_order_pdf_render_duration_seconds_bucket{le=\"10\"} 2\n"
                              "yxa_order_pdf_render_duration_seconds_bucket{le=\"+Inf\"} 3\n"
                              "yxa_order_pdf_render_duration_seconds_sum 20.32\n"
                              "yxa_order_pdf_render_duration_seconds_count 3\n"));
        QCOMPARE(registry.value("yxa_order_pdf_render_duration_seconds"), 3.0);
        QCOMPARE(
            registry.value("yxa_mails_total", { { "transport", "smtp" }, { "status", "S" } }), 3.0);
    }

    void undeclaredAndMistypedAreDropped_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::newRow("unknown name") << QByteArray("yxa_no_such_total");
        QTest::newRow("gauge written as counter") << QByteArray("yxa_db_connection_budget");
    }

    void undeclaredAndMistypedAreDropped()
    {
        QFETCH(QByteArray, name);
        MetricsRegistry registry;
        registry.add(name, {}, 1);
        QCOMPARE(registry.exposition(), QByteArray());
        QVERIFY(std::isnan(registry.value(name, {}, std::nan(""))));
    }

    void promtoolAcceptsEveryFamily()
    {
        const QString promtool = QStandardPaths::findExecutable(QStringLiteral("promtool"));
        if (promtool.isEmpty())
            QSKIP("promtool (Debian package prometheus) is not installed");
        MetricsRegistry registry;
        registry.set("yxa_build_info", { { "version", "1.0.0" }, { "qt_version", "5.15.8" } }, 1);
        registry.set("yxa_plugin_info", { { "plugin", "mailing" }, { "version", "1.1.2" } }, 1);
        registry.add("yxa_mails_total", { { "transport", "api" }, { "status", "S" } }, 5);
        registry.record("yxa_mail_send_duration_seconds", { { "transport", "api" } }, 0.2);
        registry.set("yxa_tenants_served", { { "plugin", "mailing" } }, 3);
        registry.set("yxa_tenant_leases_held", { { "plugin", "mailing" } }, 3);
        registry.set("yxa_lease_renewal_timestamp_seconds", { { "plugin", "mailing" } }, 1.7e9);
        registry.set("yxa_db_connection_budget", {}, 32);
        registry.set("yxa_db_connections_in_use", {}, 4);
        registry.set("yxa_info_db_up", {}, 1);
        registry.set("yxa_info_db_answer_timestamp_seconds", {}, 1.7e9);
        registry.record("yxa_schema_scan_duration_seconds", {}, 1.5);
        registry.set("yxa_schema_scan_success", {}, 1);
        registry.add("yxa_catering_ticks_total", {}, 7);
        registry.add("yxa_order_mails_queued_total", {}, 2);
        registry.record("yxa_order_pdf_render_duration_seconds", {}, 0.08);
        QProcess process;
        process.start(promtool, { QStringLiteral("check"), QStringLiteral("metrics") });
        QVERIFY(process.waitForStarted());
        process.write(registry.exposition());
        process.closeWriteChannel();
        QVERIFY(process.waitForFinished(30000));
        const QByteArray said = process.readAllStandardOutput() + process.readAllStandardError();
        QVERIFY2(process.exitCode() == 0, said.constData());
        QVERIFY2(said.trimmed().isEmpty(), said.constData());
    }

    void countsFromSeveralThreads()
    {
        MetricsRegistry registry;
        MetricsRegistry::install(&registry);
        std::vector<std::unique_ptr<QThread>> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back(QThread::create([] {
                for (int i = 0; i < 2500; ++i) {
                    MetricsRegistry::count("yxa_catering_ticks_total");
                    MetricsRegistry::observe("yxa_schema_scan_duration_seconds", {}, 0.02);
                }
            }));
            threads.back()->start();
        }
        for (auto &thread : threads)
            QVERIFY(thread->wait(30000));
        MetricsRegistry::install(nullptr);
        // Without a registry the shorthands do nothing.
        MetricsRegistry::count("yxa_catering_ticks_total");
        QCOMPARE(registry.value("yxa_catering_ticks_total"), 10000.0);
        QCOMPARE(registry.value("yxa_schema_scan_duration_seconds"), 10000.0);
        QVERIFY(registry.exposition().contains(
            "yxa_schema_scan_duration_seconds_bucket{le=\"0.05\"} 10000\n"));
    }

    void health_data()
    {
        QTest::addColumn<bool>("expectInfoDB");
        QTest::addColumn<double>("infoUp");
        QTest::addColumn<double>("answeredAgo");
        QTest::addColumn<double>("scanSuccess");
        QTest::addColumn<double>("renewedAgo");
        QTest::addColumn<QString>("reason");
        const double none = std::nan("");
        QTest::newRow("all well") << true << 1.0 << 5.0 << 1.0 << 10.0 << "";
        QTest::newRow("nothing known yet, no information database")
            << false << none << none << none << none << "";
        QTest::newRow("information database never checked")
            << true << none << none << none << none << "the information database does not answer";
        QTest::newRow("information database down")
            << true << 0.0 << 20.0 << 1.0 << 10.0 << "the information database does not answer";
        QTest::newRow("last answer too old")
            << true << 1.0 << 61.0 << 1.0 << 10.0
            << "the information database has not answered for 61 s";
        QTest::newRow("scan failed")
            << true << 1.0 << 5.0 << 0.0 << 10.0 << "the last scan could not read the schemas";
        QTest::newRow("leases stale")
            << true << 1.0 << 5.0 << 1.0 << 90.0 << "mailing: leases not renewed for 90 s";
        QTest::newRow("leasing off") << true << 1.0 << 5.0 << 1.0 << none << "";
    }

    void health()
    {
        QFETCH(bool, expectInfoDB);
        QFETCH(double, infoUp);
        QFETCH(double, answeredAgo);
        QFETCH(double, scanSuccess);
        QFETCH(double, renewedAgo);
        QFETCH(QString, reason);
        const qint64 now = 1800000000;
        MetricsRegistry registry;
        if (!std::isnan(infoUp))
            registry.set("yxa_info_db_up", {}, infoUp);
        if (!std::isnan(answeredAgo))
            registry.set("yxa_info_db_answer_timestamp_seconds", {}, double(now) - answeredAgo);
        if (!std::isnan(scanSuccess))
            registry.set("yxa_schema_scan_success", {}, scanSuccess);
        if (!std::isnan(renewedAgo))
            registry.set("yxa_lease_renewal_timestamp_seconds", { { "plugin", "mailing" } },
                double(now) - renewedAgo);
        HealthCheck check;
        check.expectInfoDB = expectInfoDB;
        check.plugins = QStringList { QStringLiteral("mailing"), QStringLiteral("tablora") };
        check.leaseSeconds = 60;
        const HealthCheck::Result result = check.evaluate(registry, now);
        QCOMPARE(result.healthy, reason.isEmpty());
        if (reason.isEmpty()) {
            QCOMPARE(result.json(), QByteArray("{\"status\":\"ok\"}\n"));
        } else {
            QCOMPARE(result.reasons, QStringList { reason });
            QCOMPARE(result.json(),
                "{\"reasons\":[\"" + reason.toUtf8() + "\"],\"status\":\"unhealthy\"}\n");
        }
    }
};

YXA_TEST_CLASS(MetricsRegistryTest)
#include "tst_metricsregistry.moc"
