// The rptrender tool: a grouped template with a JSON data file, the small
// templates of the layout fixtures, the catering order template, and the
// tool's error exits.
#include "layouttestutil.h"
#include "testmain.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace RptOut;

namespace {

QString fixture(const QString &name)
{
    return QStringLiteral(RPT_LAYOUT_DATA_DIR "/") + name;
}

struct Result
{
    int exitCode = -1;
    QString out;
    QString err;
};

Result render(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral(RPT_RENDER_BIN), args);
    Result r;
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

// The catering worker's data: rows in their order, branches interleaved.
QString writeOrderData(const QString &file, int rows, const QStringList &branches)
{
    QJsonArray records;
    for (int i = 0; i < rows; ++i) {
        QJsonObject r;
        r.insert(QStringLiteral("branchName"), branches.at(i % branches.size()));
        r.insert(
            QStringLiteral("name"), QStringLiteral("Jedlo %1").arg(i, 2, 10, QLatin1Char('0')));
        r.insert(QStringLiteral("quant"), 1 + i % 9);
        records.append(r);
    }
    QJsonObject root;
    root.insert(QStringLiteral("records"), records);
    root.insert(QStringLiteral("values"),
        QJsonObject {
            { QStringLiteral("header"), QStringLiteral("Záväzná objednávka – Firma s.r.o.") } });
    QFile f(file);
    if (!f.open(QIODevice::WriteOnly))
        return QString();
    f.write(QJsonDocument(root).toJson());
    return file;
}

} // namespace

class RenderToolTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

private slots:
    void groupedTemplateWithDataFile()
    {
        const QString out = m_dir.filePath(QStringLiteral("grouped.pdf"));
        const Result r = render({ fixture(QStringLiteral("grouped.xml")), out,
            QStringLiteral("--data"), fixture(QStringLiteral("grouped.json")) });
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.err, QString());
        const QStringList expected { "Orders <by> branch & day", "Branch Bratislava", "Goulash 5",
            "Pie 13", "Branch total 18", "Branch Košice", "Salad 11", "Branch total 11",
            "Branch Nitra", "Soup 3", "Dumplings 7", "Branch total 10", "Grand total 39",
            "Page 1 of 1" };
        QCOMPARE(textLines(pdfText(out)).join(QLatin1Char('|')), expected.join(QLatin1Char('|')));
    }

    void groupedTemplateToHtml()
    {
        const QString out = m_dir.filePath(QStringLiteral("grouped.html"));
        const Result r = render({ QStringLiteral("--data"), fixture(QStringLiteral("grouped.json")),
            fixture(QStringLiteral("grouped.xml")), out });
        QCOMPARE(r.exitCode, 0);
        QFile f(out);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QString html = QString::fromUtf8(f.readAll());
        QVERIFY(html.contains(QLatin1String(">Orders &lt;by&gt; branch &amp; day</div>")));
        const int bratislava = html.indexOf(QStringLiteral(">Branch Bratislava<"));
        QVERIFY(bratislava > 0);
        QVERIFY(bratislava < html.indexOf(QStringLiteral(">Branch Košice<")));
        QVERIFY(html.contains(QLatin1String(">Grand total 39</div>")));
        QVERIFY(!html.contains(QLatin1String("Page 1 of")));
    }

    // The small templates a template author can try out: auto-height rows,
    // group values of mixed kinds, and data that looks like markup in rich
    // text.
    void smallTemplates_data()
    {
        QTest::addColumn<QString>("templateFile");
        QTest::addColumn<QString>("dataFile");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("present");
        QTest::addColumn<QStringList>("absent");
        QTest::newRow("group values")
            << "grouped.xml"
            << "groupvalues.json"
            << "groups.pdf"
            << "Branch 2|Soup 1|Pie 8|Branch total 9|Branch 10|Goulash 2|Branch total 2|"
               "Branch 1a|Salad 4|Branch total 4|Grand total 15"
            << QStringList();
        QTest::newRow("auto-height rows")
            << "autoheight.xml"
            << "autoheight.json"
            << "auto.pdf"
            << "Auto-height rows|One line. first|Two lines of text" << QStringList();
        QTest::newRow("rich text to PDF")
            << "richtext.xml"
            << "richtext.json"
            << "rich.pdf"
            << "Dish: <img src=x onerror=alert(1)>, 3 portions|Dish: Underlined, 5 portions"
            << QStringList();
        QTest::newRow("rich text to HTML")
            << "richtext.xml"
            << "richtext.json"
            << "rich.html"
            << "<b>&lt;img src=x onerror=alert(1)&gt;</b>, <i>3 portions</i>"
            << QStringList { "<img", "onclick", "<script" };
    }
    void smallTemplates()
    {
        QFETCH(QString, templateFile);
        QFETCH(QString, dataFile);
        QFETCH(QString, output);
        QFETCH(QString, present);
        QFETCH(QStringList, absent);
        const QString out = m_dir.filePath(output);
        const Result r
            = render({ fixture(templateFile), out, QStringLiteral("--data"), fixture(dataFile) });
        QCOMPARE(r.exitCode, 0);
        QString text;
        if (output.endsWith(QLatin1String(".html"))) {
            QFile f(out);
            QVERIFY(f.open(QIODevice::ReadOnly));
            text = QString::fromUtf8(f.readAll());
        } else {
            text = textLines(pdfText(out)).join(QLatin1Char('|'));
        }
        QVERIFY2(text.contains(present), qPrintable(text));
        for (const QString &a : absent)
            QVERIFY2(!text.contains(a), qPrintable(text));
    }

    void datasetsOverrideTheRecordCount()
    {
        const QString data = m_dir.filePath(QStringLiteral("two.json"));
        QFile f(data);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(R"({"records": [{"branch": "A", "item": "first", "quant": 1},
                                {"branch": "A", "item": "second", "quant": 2},
                                {"branch": "A", "item": "third", "quant": 4}],
                    "datasets": {"": 2}})");
        f.close();
        const QString out = m_dir.filePath(QStringLiteral("two.pdf"));
        QCOMPARE(
            render({ fixture(QStringLiteral("grouped.xml")), out, QStringLiteral("--data"), data })
                .exitCode,
            0);
        const QString text = pdfText(out);
        QVERIFY(text.contains(QLatin1String("second")));
        QVERIFY(!text.contains(QLatin1String("third")));
        QVERIFY(text.contains(QLatin1String("Branch total 3")));
    }

    void errorsExitWithOneLine_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        const QString grouped = fixture(QStringLiteral("grouped.xml"));
        const QString out = QStringLiteral("/tmp/rptrender-test-never.pdf");
        QTest::newRow("missing template")
            << QStringList { fixture(QStringLiteral("missing.xml")), out } << 1;
        QTest::newRow("broken template")
            << QStringList { fixture(QStringLiteral("broken.xml")), out } << 1;
        QTest::newRow("missing data")
            << QStringList { grouped, out, "--data", fixture(QStringLiteral("none.json")) } << 1;
        QTest::newRow("invalid data")
            << QStringList { grouped, out, "--data", fixture(QStringLiteral("invalid.json")) } << 1;
        QTest::newRow("data not an object")
            << QStringList { grouped, out, "--data", fixture(QStringLiteral("array.json")) } << 1;
        QTest::newRow("unwritable output")
            << QStringList { grouped, QStringLiteral("/nonexistent-dir/x.pdf") } << 1;
        QTest::newRow("no arguments") << QStringList() << 2;
        QTest::newRow("one argument") << QStringList { grouped } << 2;
        QTest::newRow("three arguments") << QStringList { grouped, out, out } << 2;
        QTest::newRow("data without file") << QStringList { grouped, out, "--data" } << 2;
        QTest::newRow("unknown option") << QStringList { grouped, out, "--fast" } << 2;
    }
    void errorsExitWithOneLine()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        const Result r = render(args);
        QCOMPARE(r.exitCode, exitCode);
        QVERIFY2(r.err.endsWith(QLatin1Char('\n')) && r.err.count(QLatin1Char('\n')) == 1,
            qPrintable(r.err));
        QVERIFY(!QFile::exists(QStringLiteral("/tmp/rptrender-test-never.pdf")) || exitCode == 2);
    }

    // The catering order: 60 rows in 4 branches.
    void orderTemplateWithSixtyRows()
    {
        const QStringList branches { "Žilina", "Bratislava", "Nitra", "Košice" };
        const QString data
            = writeOrderData(m_dir.filePath(QStringLiteral("order.json")), 60, branches);
        const QString out = m_dir.filePath(QStringLiteral("order.pdf"));
        const Result r
            = render({ QStringLiteral(RPT_ORDER_TEMPLATE), out, QStringLiteral("--data"), data });
        QCOMPARE(r.exitCode, 0);
        const int pages = pdfPages(out);
        QVERIFY(pages >= 2);
        QStringList all;
        for (int p = 1; p <= pages; ++p) {
            const QStringList lines = textLines(pdfText(out, p));
            // Every page counts itself against the page count ("N / M";
            // strPager is left empty by the caller): three words.
            const QString words = pdfWords(out, p).join(QLatin1Char(' '));
            const QString counter = QStringLiteral(" %1 / %2 ").arg(p).arg(pages);
            QVERIFY2(words.contains(counter), qPrintable(words));
            all += lines;
        }
        QCOMPARE(all.first(), QStringLiteral("Objednávka"));
        QVERIFY(all.contains(QStringLiteral("Záväzná objednávka – Firma s.r.o.")));
        QVERIFY(all.contains(QStringLiteral("Položka Počet")));

        // Branch headings ascending, each followed by its rows in record order.
        QStringList sorted = branches;
        std::sort(sorted.begin(), sorted.end());
        int at = 0;
        for (const QString &b : qAsConst(sorted)) {
            const int heading = all.indexOf(b, at);
            QVERIFY2(heading >= at, qPrintable(b));
            at = heading + 1;
            const int branch = branches.indexOf(b);
            for (int i = branch; i < 60; i += 4) {
                const QString row
                    = QStringLiteral("Jedlo %1 %2").arg(i, 2, 10, QLatin1Char('0')).arg(1 + i % 9);
                const int pos = all.indexOf(row, at);
                QVERIFY2(pos >= at, qPrintable(row));
                at = pos + 1;
            }
        }
    }

    void orderTemplateToHtml()
    {
        const QStringList branches { "Žilina", "Bratislava", "Nitra", "Košice" };
        const QString data
            = writeOrderData(m_dir.filePath(QStringLiteral("order-html.json")), 60, branches);
        const QString out = m_dir.filePath(QStringLiteral("order.html"));
        QCOMPARE(render({ QStringLiteral(RPT_ORDER_TEMPLATE), out, QStringLiteral("--data"), data })
                     .exitCode,
            0);
        QFile f(out);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QString html = QString::fromUtf8(f.readAll());
        // Rows one below the other on one sheet, in branch order.
        const QRegularExpression row(QStringLiteral("top: (-?\\d+)px;[^>]*>Jedlo (\\d+)</div>"));
        QRegularExpressionMatchIterator it = row.globalMatch(html);
        int rows = 0;
        int lastTop = -1;
        QStringList order;
        while (it.hasNext()) {
            const QRegularExpressionMatch m = it.next();
            QVERIFY(m.captured(1).toInt() > lastTop);
            lastTop = m.captured(1).toInt();
            order.append(branches.at(m.captured(2).toInt() % 4));
            ++rows;
        }
        QCOMPARE(rows, 60);
        QCOMPARE(order.first(), QStringLiteral("Bratislava"));
        QCOMPARE(order.last(), QStringLiteral("Žilina"));
    }
};

YXA_TEST_CLASS(RenderToolTest)

#include "tst_rendertool.moc"
