#include "cateringtenant.h"
#include "datasetinfo.h"
#include "logcapture.h"
#include "mariadbfixture.h"
#include "tabloraworker.h"
#include "testmain.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace {
// Runs one of poppler's tools on pdf and returns what it wrote to stdout.
// With TST_CATERING_KEEP_PDF set to a directory, the PDFs are kept there.
QString popplerOutput(const QString &tool, const QStringList &options, const QByteArray &pdf,
    const QStringList &trailing = {})
{
    QTemporaryFile file;
    if (!file.open())
        return QString();
    file.write(pdf);
    file.flush();
    const QString keep = qEnvironmentVariable("TST_CATERING_KEEP_PDF");
    if (!keep.isEmpty())
        QFile::copy(file.fileName(),
            QStringLiteral("%1/%2.pdf")
                .arg(keep, QString::fromLatin1(QTest::currentTestFunction())));
    QProcess process;
    process.start(tool, QStringList(options) << file.fileName() << trailing);
    if (!process.waitForFinished(30000)) {
        qWarning("%s did not run: %s", qPrintable(tool), qPrintable(process.errorString()));
        return QString();
    }
    return QString::fromUtf8(process.readAllStandardOutput());
}

QString pdfText(const QByteArray &pdf)
{
    return popplerOutput(QStringLiteral("pdftotext"),
        { QStringLiteral("-layout"), QStringLiteral("-enc"), QStringLiteral("UTF-8") }, pdf,
        { QStringLiteral("-") });
}
} // namespace

// An order PDF without text (or a poppler tool that did not run) is a
// failure: the supplier could not read the order.
#define REQUIRE_PDF_TEXT(text)                                                                     \
    QVERIFY2(!(text).trimmed().isEmpty(), "the order PDF holds no readable text")

// The order mail of one (supplier, segment) group: subject, body, the PDF
// attachment and its content, one row per supplier address, and what a
// failure to queue leaves behind.
class OrderMailTest : public QObject
{
    Q_OBJECT

private:
    CateringTenant tenant { QStringLiteral("yxa_cat_ordermail") };
    std::unique_ptr<TabloraWorker> worker;
    const QDate friday = nextFriday(QDate(2030, 1, 1));
    const QDate wednesday = friday.addDays(-2);

    bool seed(const QString &segmentName = QStringLiteral("Obed"),
        const QStringList &addresses = { QStringLiteral("objednavky@slnko.test") })
    {
        QSqlQuery vars(tenant.root());
        vars.prepare(QStringLiteral("INSERT INTO vars (name, value) VALUES ('LCNSN', ?), "
                                    "('globalEmail', 'jedalen@firma.test')"));
        vars.addBindValue(CateringTenant::licenceName(QStringLiteral("Firma s.r.o.")));
        QSqlQuery segment(tenant.root());
        segment.prepare(QStringLiteral(
            "INSERT INTO cat_segments (segmentID, name, start) VALUES (1, ?, '12:00:00')"));
        segment.addBindValue(segmentName);
        if (!vars.exec() || !segment.exec())
            return false;
        for (const QString &address : addresses) {
            if (!tenant.exec(QStringLiteral(
                    "INSERT INTO cat_suppliermails (supplierID, mail) VALUES (1, '%1')")
                         .arg(address)))
                return false;
        }
        return tenant.exec(QStringLiteral(
                   "INSERT INTO cat_suppliers (supplierID, name) VALUES (1, 'Slnko')"))
            && tenant.exec(QStringLiteral(
                "INSERT INTO cat_foods (foodID, name, supplierID) VALUES (1, 'Guláš', 1), "
                "(2, 'Vývar', 1), (3, 'Rezeň', 1)"))
            && tenant.exec(QStringLiteral(
                "INSERT INTO branches (bid, name) VALUES (1, 'Zvolen'), (2, 'Banská Bystrica'), "
                "(3, 'Martin')"))
            && tenant.exec(QStringLiteral(
                "INSERT INTO cat_promailsdelay (proMailDelayID, supplierID, sendtime, daysto) "
                "VALUES (5, 1, '10:00:00', 2)"));
    }

    bool orderable(int id, int bid, int foodID, int quantity)
    {
        return tenant.exec(QStringLiteral(
                   "INSERT INTO cat_orderables (orderableID, segmentID, date, bid, foodID, locked) "
                   "VALUES (%1, 1, '%2', %3, %4, 1)")
                       .arg(id)
                       .arg(friday.toString(Qt::ISODate))
                       .arg(bid)
                       .arg(foodID))
            && tenant.exec(QStringLiteral("INSERT INTO cat_orders (orderableID, uid, quantity, ordered) "
                                  "VALUES (%1, 7, %2, 'Obed, x, y')")
                       .arg(id)
                       .arg(quantity));
    }

    // Goulash for two branches (3 and 2), broth and schnitzel elsewhere.
    bool standardOrders()
    {
        return orderable(1, 1, 1, 3) && orderable(2, 2, 1, 2) && orderable(3, 2, 2, 1)
            && orderable(4, 3, 3, 4);
    }

    bool tick(const QTime &time = QTime(10, 1))
    {
        return CateringTenant::tickAt(worker.get(), QDateTime(wednesday, time));
    }

    struct Row
    {
        QString type, from, to, subject, body;
        QByteArray data;
    };

    QVector<Row> mails() const
    {
        QVector<Row> rows;
        QSqlQuery query(tenant.root());
        query.exec(QStringLiteral(
            "SELECT type, `from`, `to`, subject, body, data FROM emails ORDER BY mid"));
        while (query.next())
            rows.append({ query.value(0).toString(), query.value(1).toString(),
                query.value(2).toString(), query.value(3).toString(), query.value(4).toString(),
                query.value(5).toByteArray() });
        return rows;
    }

    static QJsonObject attachmentOf(const Row &row)
    {
        return QJsonDocument::fromJson(row.data)
            .object()
            .value(QStringLiteral("attachments"))
            .toArray()
            .first()
            .toObject();
    }

    static QByteArray pdfOf(const Row &row)
    {
        return QByteArray::fromBase64(
            attachmentOf(row).value(QStringLiteral("content")).toString().toLatin1());
    }

    QVariant sentOf(int orderableID) const
    {
        return tenant.scalar(
            QStringLiteral("SELECT sent FROM cat_orderables WHERE orderableID = %1")
                .arg(orderableID));
    }

private slots:
    void initTestCase()
    {
        YXA_REQUIRE_MARIADB();
        QString error;
        QVERIFY2(tenant.create(&error), qPrintable(error));
    }

    void init()
    {
        QVERIFY(tenant.clear());
        worker.reset(new TabloraWorker(tenant.connection(QStringLiteral("cat.ordermail.worker"))));
        worker->start();
        worker->pollTimer()->stop();
    }

    void cleanup() { worker.reset(); }
    void cleanupTestCase() { tenant.drop(); }

    void subjectAndBody()
    {
        QVERIFY(seed());
        QVERIFY(standardOrders());
        QVERIFY(tick());
        const QVector<Row> rows = mails();
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows[0].type, QStringLiteral("C"));
        QCOMPARE(rows[0].from, QStringLiteral("jedalen@firma.test"));
        QCOMPARE(rows[0].to, QStringLiteral("objednavky@slnko.test"));
        QCOMPARE(rows[0].subject,
            QStringLiteral("Firma s.r.o. - Objednávka - %1, Obed, dodávateľ: Slnko")
                .arg(friday.toString(QStringLiteral("dd.MM.yyyy"))));
        QCOMPARE(rows[0].body,
            QStringLiteral("Celkový súčet objednaných jedál: \n\n"
                           "5  x \tGuláš\n"
                           "1  x \tVývar\n"
                           "4  x \tRezeň\n"
                           "\n\n"
                           "Objednávka sa nachádza v prílohe."));
        for (int id = 1; id <= 4; ++id)
            QCOMPARE(sentOf(id).toInt(), 5);
        // Printed and let go: thousands of idle tenants keep no engine.
        QVERIFY(worker->reportEngine() == nullptr);
    }

    void missingCompanyStartsTheSubjectBare()
    {
        QVERIFY(seed());
        QVERIFY(tenant.exec(QStringLiteral("DELETE FROM vars WHERE name = 'LCNSN'")));
        QVERIFY(orderable(1, 1, 1, 1));
        QVERIFY(tick());
        QCOMPARE(mails().value(0).subject,
            QStringLiteral(" - Objednávka - %1, Obed, dodávateľ: Slnko")
                .arg(friday.toString(QStringLiteral("dd.MM.yyyy"))));
    }

    void reportAnswers()
    {
        QVERIFY(seed());
        QVERIFY(standardOrders());
        QVERIFY(tick());
        QCOMPARE(mails().size(), 1);

        // The engine's questions, answered from the group just mailed.
        DataSetInfo info;
        info.reportPage = 0;
        info.dataSetNo = 1;
        worker->setDSInfo(info);
        QCOMPARE(info.recCount, 4);

        QVariant value;
        worker->setValue(1, QStringLiteral("name"), value, 0);
        QCOMPARE(value.toString(), QStringLiteral("Guláš"));
        worker->setValue(1, QStringLiteral("quant"), value, 0);
        QCOMPARE(value.toInt(), 2);
        worker->setValue(1, QStringLiteral("branchName"), value, 0);
        QCOMPARE(value.toString(), QStringLiteral("Banská Bystrica"));
        worker->setValue(0, QStringLiteral("header"), value, 0);
        QCOMPARE(value.toString(),
            QStringLiteral("Záväzná objednávka - Firma s.r.o. %1, Obed: Slnko")
                .arg(friday.toString(QStringLiteral("d. M. yyyy"))));

        // Out of range reads an empty record; unknown names stay untouched.
        worker->setValue(4, QStringLiteral("name"), value, 0);
        QCOMPARE(value.toString(), QString());
        worker->setValue(-1, QStringLiteral("quant"), value, 0);
        QCOMPARE(value.toInt(), 0);
        worker->setValue(99, QStringLiteral("branchName"), value, 0);
        QCOMPARE(value.toString(), QString());
        value = QStringLiteral("kept");
        worker->setValue(0, QStringLiteral("grouping"), value, 0);
        QCOMPARE(value.toString(), QStringLiteral("kept"));
        worker->setValue(0, QStringLiteral("Name"), value, 0);
        QCOMPARE(value.toString(), QStringLiteral("kept"));
    }

    void attachment_data()
    {
        QTest::addColumn<QString>("segment");
        QTest::newRow("plain") << QStringLiteral("Obed");
        QTest::newRow("slash") << QStringLiteral("Obed/Večera");
    }

    void attachment()
    {
        QFETCH(QString, segment);
        QVERIFY(seed(segment));
        QVERIFY(standardOrders());
        QVERIFY(tick());
        const QVector<Row> rows = mails();
        QCOMPARE(rows.size(), 1);
        const QJsonDocument doc = QJsonDocument::fromJson(rows[0].data);
        QVERIFY(doc.isObject());
        QCOMPARE(doc.object().keys(), QStringList { QStringLiteral("attachments") });
        QCOMPARE(doc.object().value(QStringLiteral("attachments")).toArray().size(), 1);
        QCOMPARE(rows[0].data, doc.toJson(QJsonDocument::Indented));
        const QJsonObject file = attachmentOf(rows[0]);
        QCOMPARE(file.value(QStringLiteral("name")).toString(),
            QStringLiteral("Objednávka-%1-%2.pdf")
                .arg(friday.toString(QStringLiteral("yyyyMMdd")), segment));
        const QString content = file.value(QStringLiteral("content")).toString();
        QVERIFY(!content.contains(QLatin1Char('\n')));
        QCOMPARE(
            QString::fromLatin1(QByteArray::fromBase64(content.toLatin1()).toBase64()), content);

        const QByteArray pdf = pdfOf(rows[0]);
        REQUIRE_PDF_TEXT(pdfText(pdf));
        QVERIFY(pdf.startsWith("%PDF-"));
        QCOMPARE(file.value(QStringLiteral("type")).toString(), QStringLiteral("application/pdf"));
    }

    void pdfContent()
    {
        QVERIFY(seed());
        QVERIFY(standardOrders());
        QVERIFY(tick());
        const QVector<Row> rows = mails();
        QCOMPARE(rows.size(), 1);
        const QString text = pdfText(pdfOf(rows[0]));
        REQUIRE_PDF_TEXT(text);

        const QStringList pages = text.split(QLatin1Char('\f'), Qt::SkipEmptyParts);
        QCOMPARE(pages.size(), 1);
        // Everything in reading order: title, header line, column heads, then
        // the branches by ascending name with their rows.
        const QList<QRegularExpression> expected {
            QRegularExpression(QStringLiteral("Objednávka")),
            QRegularExpression(QRegularExpression::escape(
                QStringLiteral("Záväzná objednávka - Firma s.r.o. %1, Obed: Slnko")
                    .arg(friday.toString(QStringLiteral("d. M. yyyy"))))),
            QRegularExpression(QStringLiteral("Položka\\s+Počet")),
            QRegularExpression(QStringLiteral("Banská Bystrica")),
            QRegularExpression(QStringLiteral("Guláš\\s+2\\b")),
            QRegularExpression(QStringLiteral("Vývar\\s+1\\b")),
            QRegularExpression(QStringLiteral("Martin")),
            QRegularExpression(QStringLiteral("Rezeň\\s+4\\b")),
            QRegularExpression(QStringLiteral("Zvolen")),
            QRegularExpression(QStringLiteral("Guláš\\s+3\\b")),
        };
        int from = 0;
        for (const QRegularExpression &re : expected) {
            const QRegularExpressionMatch match = re.match(text, from);
            QVERIFY2(match.hasMatch(),
                qPrintable(re.pattern() + QStringLiteral(" not found after ")
                    + QString::number(from) + QStringLiteral(" in:\n") + text));
            from = match.capturedEnd();
        }
        // The footer: page counter (text extraction may drop the blanks
        // around the slash), banner, print date and time.
        QVERIFY2(QRegularExpression(QStringLiteral("(^|\\s)1 ?/ ?1(\\s|$)")).match(text).hasMatch(),
            qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("Tablora")), qPrintable(text));
        QVERIFY2(text.contains(QString::number(QDate::currentDate().year())), qPrintable(text));
        QVERIFY2(QRegularExpression(QStringLiteral("\\b\\d{1,2}:\\d{2}(:\\d{2})?\\b"))
                     .match(text)
                     .hasMatch(),
            qPrintable(text));
    }

    void pdfEmblem()
    {
        QVERIFY(seed());
        QVERIFY(orderable(1, 1, 1, 1));
        QVERIFY(tick());
        const QByteArray pdf = pdfOf(mails().value(0));
        REQUIRE_PDF_TEXT(pdfText(pdf));
        const QString images
            = popplerOutput(QStringLiteral("pdfimages"), { QStringLiteral("-list") }, pdf);
        QVERIFY2(images.contains(QRegularExpression(QStringLiteral("image\\s+32\\s+32\\b"))),
            qPrintable(images));
    }

    void pageCounters()
    {
        QVERIFY(seed());
        for (int id = 1; id <= 60; ++id)
            QVERIFY(orderable(id, 1, 1, id));
        QVERIFY(tick());
        const QString text = pdfText(pdfOf(mails().value(0)));
        REQUIRE_PDF_TEXT(text);
        const QStringList pages = text.split(QLatin1Char('\f'), Qt::SkipEmptyParts);
        QCOMPARE(pages.size(), 2);
        QVERIFY2(
            QRegularExpression(QStringLiteral("(^|\\s)1 ?/ ?2(\\s|$)")).match(pages[0]).hasMatch(),
            qPrintable(pages[0]));
        QVERIFY2(
            QRegularExpression(QStringLiteral("(^|\\s)2 ?/ ?2(\\s|$)")).match(pages[1]).hasMatch(),
            qPrintable(pages[1]));
        QVERIFY(pages[0].contains(QStringLiteral("Položka")));
        QVERIFY(pages[1].contains(QStringLiteral("Položka"))); // repeated after the break
        QVERIFY(pages[0].contains(QStringLiteral("Záväzná objednávka")));
        QVERIFY(!pages[1].contains(QStringLiteral("Záväzná objednávka"))); // the title only once
        QVERIFY(QRegularExpression(QStringLiteral("Guláš\\s+60\\b")).match(pages[1]).hasMatch());
    }

    void unknownBranchHasEmptyHeading()
    {
        QVERIFY(seed());
        QVERIFY(orderable(1, 9, 1, 2));
        LogCapture log;
        QVERIFY(tick());
        QVERIFY(!log.matching(QStringLiteral("Unknown Branch")).isEmpty());
        QCOMPARE(mails().size(), 1);
        const QString text = pdfText(pdfOf(mails().value(0)));
        REQUIRE_PDF_TEXT(text);
        QVERIFY(QRegularExpression(QStringLiteral("Guláš\\s+2\\b")).match(text).hasMatch());
        for (const QString &name :
            { QStringLiteral("Zvolen"), QStringLiteral("Martin"), QStringLiteral("Banská") })
            QVERIFY(!text.contains(name));
    }

    void threeAddressesThreeRows()
    {
        QVERIFY(seed(QStringLiteral("Obed"),
            { QStringLiteral("a@slnko.test"), QStringLiteral("b@slnko.test"),
                QStringLiteral("c@slnko.test") }));
        QVERIFY(standardOrders());
        LogCapture log;
        QVERIFY(tick());
        const QVector<Row> rows = mails();
        QCOMPARE(rows.size(), 3);
        // Each queued order mail is one info line naming tenant, supplier, meal day and row.
        for (const Row &row : rows)
            QCOMPARE(
                log.count(QStringLiteral("order mail to '%1' queued as mid: ").arg(row.to)), 1);
        QCOMPARE(log.count(QStringLiteral("TabloraWorker::createMail() - tenant \"")), 3);
        QStringList to;
        for (const Row &row : rows) {
            to << row.to;
            QCOMPARE(row.subject, rows[0].subject);
            QCOMPARE(row.body, rows[0].body);
            QCOMPARE(attachmentOf(row).value(QStringLiteral("name")),
                attachmentOf(rows[0]).value(QStringLiteral("name")));
        }
        QCOMPARE(to,
            (QStringList { QStringLiteral("a@slnko.test"), QStringLiteral("b@slnko.test"),
                QStringLiteral("c@slnko.test") }));
        const QString text = pdfText(pdfOf(rows[2]));
        REQUIRE_PDF_TEXT(text);
        QCOMPARE(text.count(QStringLiteral("Banská Bystrica")), 1);
    }

    void failingInsertLeavesOrdersDue()
    {
        QVERIFY(seed(QStringLiteral("Obed"),
            { QStringLiteral("a@slnko.test"), QStringLiteral("zlyha@slnko.test"),
                QStringLiteral("c@slnko.test") }));
        QVERIFY(standardOrders());
        QVERIFY(tenant.exec(QStringLiteral(
            "CREATE TRIGGER emails_refuse BEFORE INSERT ON emails FOR EACH ROW "
            "BEGIN IF NEW.`to` = 'zlyha@slnko.test' THEN "
            "SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT = 'refused by test'; END IF; END")));
        LogCapture log;
        QVERIFY(tick());
        QVERIFY(!log.matching(QStringLiteral("MailRepository::addMail() SQL ERROR:")).isEmpty());
        QCOMPARE(mails().size(), 0); // the first address's mail went back with the group
        for (int id = 1; id <= 4; ++id)
            QVERIFY(sentOf(id).isNull());

        QVERIFY(tenant.exec(QStringLiteral("DROP TRIGGER emails_refuse")));
        QVERIFY(tick(QTime(10, 2)));
        QCOMPARE(mails().size(), 3);
        for (int id = 1; id <= 4; ++id)
            QCOMPARE(sentOf(id).toInt(), 5);
        QVERIFY(tick(QTime(10, 3)));
        QCOMPARE(mails().size(), 3);
    }

    void unprintedOrderStaysDue()
    {
        QVERIFY(seed());
        QVERIFY(standardOrders());
        const QByteArray oldTmp = qgetenv("TMPDIR");
        // Nobody, root included, can create files in /proc.
        qputenv("TMPDIR", "/proc");
        LogCapture log;
        const bool ticked = tick();
        if (oldTmp.isEmpty())
            qunsetenv("TMPDIR");
        else
            qputenv("TMPDIR", oldTmp);
        QVERIFY(ticked);
        QVERIFY(!log.matching(QStringLiteral("not queued without its PDF")).isEmpty());
        QCOMPARE(mails().size(), 0);
        for (int id = 1; id <= 4; ++id)
            QVERIFY(sentOf(id).isNull());

        QVERIFY(tick(QTime(10, 2)));
        QCOMPARE(mails().size(), 1);
        QVERIFY(pdfOf(mails().first()).startsWith("%PDF"));
        for (int id = 1; id <= 4; ++id)
            QCOMPARE(sentOf(id).toInt(), 5);
    }

    void failingSentUpdateTakesTheMailsBack()
    {
        QVERIFY(seed());
        QVERIFY(standardOrders());
        QVERIFY(tenant.exec(QStringLiteral(
            "CREATE TRIGGER orderables_refuse BEFORE UPDATE ON cat_orderables FOR EACH ROW "
            "BEGIN IF NEW.orderableID = 3 THEN "
            "SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT = 'refused by test'; END IF; END")));
        LogCapture log;
        QVERIFY(tick());
        QVERIFY(!log.matching(QStringLiteral("TabloraWorker - setSent ERROR:")).isEmpty());
        QCOMPARE(mails().size(), 0);
        for (int id = 1; id <= 4; ++id)
            QVERIFY(sentOf(id).isNull());
        QVERIFY(tenant.exec(QStringLiteral("DROP TRIGGER orderables_refuse")));
        QVERIFY(tick(QTime(10, 2)));
        QCOMPARE(mails().size(), 1);
    }

    void twoHostsMailAGroupOnce()
    {
        // A second host's worker read the same due orders, then the first
        // host mailed them before the second one came to write.
        QVERIFY(seed());
        QVERIFY(standardOrders());
        TabloraWorker other(tenant.connection(QStringLiteral("cat.ordermail.other")));
        other.start();
        other.pollTimer()->stop();
        QVERIFY(CateringTenant::setTime(&other, QDateTime(wednesday, QTime(10, 1))));
        QVERIFY(other.getSender() && other.getSupplierMails() && other.getBranchMails()
            && other.loadSupplierTimes() && other.getOrders() && other.getCompanyName());
        QCOMPARE(other.dueOrders().size(), 4);

        QVERIFY(tick());
        QCOMPARE(mails().size(), 1);
        LogCapture log;
        other.processOrders();
        QCOMPARE(log.matching(QStringLiteral("was marked by another host meanwhile")).size(), 1);
        QCOMPARE(mails().size(), 1);
        for (int id = 1; id <= 4; ++id)
            QCOMPARE(sentOf(id).toInt(), 5);
    }

    void emptyAddressIsSkipped()
    {
        QVERIFY(seed(QStringLiteral("Obed"), { QString(), QStringLiteral("b@slnko.test") }));
        QVERIFY(orderable(1, 1, 1, 2));
        LogCapture log;
        QVERIFY(tick());
        QVERIFY(
            !log.matching(QStringLiteral("TabloraWorker - order mail to '' not queued")).isEmpty());
        QCOMPARE(mails().size(), 1);
        QCOMPARE(mails().value(0).to, QStringLiteral("b@slnko.test"));
        QCOMPARE(sentOf(1).toInt(), 5);
    }

    void groupsBySupplierAndSegment()
    {
        QVERIFY(seed());
        QVERIFY(tenant.exec(QStringLiteral(
            "INSERT INTO cat_segments (segmentID, name, start) VALUES (2, 'Večera', '18:00:00')")));
        QVERIFY(standardOrders());
        QVERIFY(tenant.exec(QStringLiteral(
            "INSERT INTO cat_orderables (orderableID, segmentID, date, bid, foodID, locked) "
            "VALUES (5, 2, '%1', 1, 2, 1)")
                        .arg(friday.toString(Qt::ISODate))));
        QVERIFY(tenant.exec(QStringLiteral(
            "INSERT INTO cat_orders (orderableID, uid, quantity, ordered) VALUES (5, 7, 6, 'x')")));
        QVERIFY(tick());
        const QVector<Row> rows = mails();
        QCOMPARE(rows.size(), 2);
        QVERIFY(rows[0].subject.contains(QStringLiteral(", Obed, ")));
        QVERIFY(rows[1].subject.contains(QStringLiteral(", Večera, ")));
        QVERIFY(rows[1].body.contains(QStringLiteral("6  x \tVývar\n")));
        QVERIFY(!rows[1].body.contains(QStringLiteral("Guláš")));
    }

    // A template mistake reaches the operator: one warning per order
    // document naming the template, the fields and their lines, each
    // distinct error once however many rows repeat it. The document is
    // still printed and queued, showing the error text where the value was.
    void templateErrorsAreOneWarningPerDocument()
    {
        QFile original(QStringLiteral(":/reports/menureportbybranches.xml"));
        QVERIFY(original.open(QIODevice::ReadOnly));
        QString xml = QString::fromUtf8(original.readAll());
        const QString quant = QStringLiteral("name=\"fund\" type=\"label\" value=\"[quant]\"");
        const QString name = QStringLiteral("name=\"field5\" type=\"label\" value=\"[name]\"");
        QVERIFY(xml.contains(quant) && xml.contains(name));
        const int quantLine = xml.left(xml.indexOf(quant)).count(QLatin1Char('\n')) + 1;
        const int nameLine = xml.left(xml.indexOf(name)).count(QLatin1Char('\n')) + 1;
        xml.replace(
            quant, QStringLiteral("name=\"fund\" type=\"label\" value=\"&lt;[quant] * * 2&gt;\""));
        xml.replace(
            name, QStringLiteral("name=\"field5\" type=\"label\" value=\"&lt;Shout([name])&gt;\""));
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString broken = dir.filePath(QStringLiteral("broken-order.xml"));
        QFile file(broken);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(xml.toUtf8());
        file.close();

        QVERIFY(seed(QStringLiteral("Obed"),
            { QStringLiteral("a@slnko.test"), QStringLiteral("b@slnko.test") }));
        QVERIFY(standardOrders());
        worker->setReportTemplate(broken);
        LogCapture log;
        QVERIFY(tick());
        const QVector<Row> rows = mails();
        QCOMPARE(rows.size(), 2);
        QStringList warnings;
        for (const QString &l : log.lines(QtWarningMsg)) {
            if (l.contains(QLatin1String("printed with errors")))
                warnings.append(l);
        }
        QCOMPARE(warnings.size(), 2);
        for (int i = 0; i < 2; ++i) {
            const QString &w = warnings.at(i);
            QVERIFY2(w.startsWith(QLatin1String("TabloraWorker::createMail() - tenant \"")),
                qPrintable(w));
            QVERIFY2(w.contains(QStringLiteral("order document to '%1'").arg(rows[i].to)),
                qPrintable(w));
            QVERIFY2(w.contains(QLatin1String("template broken-order.xml: ")), qPrintable(w));
            const QString syntax
                = QStringLiteral("field fund line %1: SyntaxError: Parse error").arg(quantLine);
            const QString unknown
                = QStringLiteral("field field5 line %1: ReferenceError: Can't find variable: Shout")
                      .arg(nameLine);
            QCOMPARE(w.count(syntax), 1);
            QCOMPARE(w.count(unknown), 1);
            // Four rows, two distinct errors.
            QCOMPARE(w.count(QLatin1String("; ")), 1);
        }
        const QString text = pdfText(pdfOf(rows[0]));
        REQUIRE_PDF_TEXT(text);
        QVERIFY2(text.contains(QLatin1String("SyntaxError: Parse error")), qPrintable(text));
    }

    void orderTemplatePrintsWithoutErrors()
    {
        QVERIFY(seed());
        QVERIFY(standardOrders());
        LogCapture log;
        QVERIFY(tick());
        QCOMPARE(mails().size(), 1);
        QCOMPARE(log.count(QStringLiteral("printed with errors")), 0);
    }
};

YXA_TEST_CLASS(OrderMailTest)
#include "ordermailtest.moc"
