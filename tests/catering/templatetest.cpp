#include "datasetinfo.h"
#include "rptbandobject.h"
#include "rptengine.h"
#include "rptfieldobject.h"
#include "rptpageobject.h"
#include "testmain.h"

#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryFile>
#include <QtTest>

// The two order templates compiled into the plug-in, read back through the
// report engine.
class TemplateTest : public QObject
{
    Q_OBJECT

private:
    static QStringList bandNames(RptPageObject *page)
    {
        QStringList names;
        for (RptBandObject *band : page->bands)
            names << QStringLiteral("%1:%2:%3")
                         .arg(band->name)
                         .arg(int(band->type))
                         .arg(band->realHeight);
        return names;
    }

private slots:
    void initTestCase() { Q_INIT_RESOURCE(cateringreports); }

    void templates_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("grouped");
        QTest::newRow("by branches")
            << QStringLiteral(":/reports/menureportbybranches.xml") << true;
        QTest::newRow("ungrouped") << QStringLiteral(":/reports/menureport.xml") << false;
    }

    void templates()
    {
        QFETCH(QString, path);
        QFETCH(bool, grouped);
        RptEngine engine;
        QVERIFY(engine.loadReport(path));
        QCOMPARE(engine.pageList.size(), 1);
        const QDomElement root = engine.xmlDoc().documentElement();
        QCOMPARE(root.tagName(), QStringLiteral("Reports"));
        QCOMPARE(root.attribute(QStringLiteral("lib")), QStringLiteral("RptEngine"));
        QVERIFY(!root.attribute(QStringLiteral("author")).isEmpty());
        QVERIFY(!root.attribute(QStringLiteral("contact")).isEmpty());
        QVERIFY(engine.globalScript().isEmpty());

        RptPageObject *page = engine.pageList.first();
        QCOMPARE(page->pageWidth, 840);
        QCOMPARE(page->pageHeight, 1188);
        QCOMPARE(page->marginsLeft, 20);
        QCOMPARE(page->marginsTop, 40);
        QCOMPARE(page->marginsBottom, 20);
        const QDomElement pageElement = root.firstChildElement(QStringLiteral("Report"));
        QCOMPARE(pageElement.attribute(QStringLiteral("pageFormat")),
            grouped ? QStringLiteral("A4") : QString());

        QStringList expected { QStringLiteral("PageFooterBand:9:50"),
            QStringLiteral("MasterDataBand:5:22"), QStringLiteral("RepTitleBand1:2:110"),
            QStringLiteral("DataGroupFooterBand1:6:3"), QStringLiteral("MasterHeaderBand:3:40") };
        if (grouped)
            expected << QStringLiteral("DataGroupHeaderBand1:4:30");
        QCOMPARE(bandNames(page), expected);

        RptBandObject *data = page->getBand(RptName::MasterData);
        QVERIFY(data);
        QCOMPARE(data->groupingField, grouped ? QStringLiteral("[branchName]") : QString());
        QCOMPARE(
            page->findFieldObjectByName(QStringLiteral("bgColor"))->getHeight(), grouped ? 18 : 20);

        // The footer emblem: a 32 x 32 PNG of our own.
        RptFieldObject *emblem = page->findFieldObjectByName(QStringLiteral("image3"));
        QVERIFY(emblem);
        QCOMPARE(emblem->fieldType, RptName::Image);
        QCOMPARE(emblem->imgFormat, QStringLiteral("PNG"));
        const QImage image = QImage::fromData(emblem->picture, "PNG");
        QCOMPARE(image.size(), QSize(32, 32));
        QFile committed(QStringLiteral("%1/catering/reports/emblem.png")
                            .arg(qEnvironmentVariable("YXA_SOURCE_DIR")));
        QVERIFY(committed.open(QIODevice::ReadOnly));
        QCOMPARE(emblem->picture, committed.readAll());
    }

    void ungroupedPrintsInRecordOrder()
    {
        RptEngine engine;
        QVERIFY(engine.loadReport(QStringLiteral(":/reports/menureport.xml")));
        const QStringList names { QStringLiteral("Zemiaky"), QStringLiteral("Amarant"),
            QStringLiteral("Kapusta") };
        connect(
            &engine, &RptEngine::setDSInfo, this,
            [&](DataSetInfo &info) { info.recCount = names.size(); }, Qt::DirectConnection);
        connect(
            &engine, &RptEngine::setValue, this,
            [&](const int recNo, const QString name, QVariant &value, const int) {
                if (name == QLatin1String("name"))
                    value = names.value(recNo);
                else if (name == QLatin1String("quant"))
                    value = recNo + 10;
                else if (name == QLatin1String("header"))
                    value = QStringLiteral("Záväzná objednávka - test");
            },
            Qt::DirectConnection);
        QTemporaryFile pdf;
        QVERIFY(pdf.open());
        engine.printPDF(pdf.fileName(), false);
        QProcess text;
        text.start(QStringLiteral("pdftotext"),
            { QStringLiteral("-layout"), pdf.fileName(), QStringLiteral("-") });
        QVERIFY2(text.waitForStarted(), "pdftotext is a test dependency (scripts/setup-deps)");
        QVERIFY(text.waitForFinished(30000));
        const QString out = QString::fromUtf8(text.readAllStandardOutput());
        QVERIFY2(!out.trimmed().isEmpty(), "the order PDF holds no text");
        const QRegularExpression rows(
            QStringLiteral("Zemiaky\\s+10\\b[\\s\\S]*Amarant\\s+11\\b[\\s\\S]*Kapusta\\s+12\\b"));
        QVERIFY2(rows.match(out).hasMatch(), qPrintable(out));
        QVERIFY(out.contains(QStringLiteral("Záväzná objednávka - test")));
    }
};

YXA_TEST_CLASS(TemplateTest)
#include "templatetest.moc"
