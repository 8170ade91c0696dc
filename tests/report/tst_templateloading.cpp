// Reading templates into pages, bands and fields: defaults, encodings and
// the behaviour on files that are missing or broken.
#include "rptbandobject.h"
#include "rptcolor.h"
#include "rptcrosstabobject.h"
#include "rptengine.h"
#include "rptfieldobject.h"
#include "rptpageobject.h"
#include "rpttestutil.h"
#include "testmain.h"

#include <QApplication>
#include <QBuffer>
#include <QPointer>
#include <QRegularExpression>
#include <QTest>

using namespace RptTest;

namespace {

QString field(const QString &attributes, const QString &tag = QStringLiteral("TContainerField"))
{
    return page(QStringLiteral("<ReportBand type=\"MasterData\"><%1 %2/></ReportBand>")
                    .arg(tag, attributes));
}

RptFieldObject *firstField(RptEngine &engine)
{
    if (engine.pageList.isEmpty() || engine.pageList.first()->bands.isEmpty()
        || engine.pageList.first()->bands.first()->fields.isEmpty())
        return nullptr;
    return engine.pageList.first()->bands.first()->fields.first();
}

// A text picture of the model, to compare two loads.
QString dump(const RptEngine &engine)
{
    QString s;
    for (const RptPageObject *p : engine.pageList) {
        s += QStringLiteral("page %1 %2x%3 %4\n")
                 .arg(p->pageNo)
                 .arg(p->pageWidth)
                 .arg(p->pageHeight)
                 .arg(p->marginsTop);
        for (const RptBandObject *b : p->bands) {
            s += QStringLiteral(" band %1 %2 %3 %4\n")
                     .arg(b->name)
                     .arg(int(b->type))
                     .arg(b->bandNo)
                     .arg(b->realHeight);
            for (const RptFieldObject *f : b->fields) {
                s += QStringLiteral("  field %1 %2 %3 %4 %5\n")
                         .arg(f->objectName(), f->value)
                         .arg(int(f->fieldType))
                         .arg(f->rect.width())
                         .arg(colorToString(f->fontColor));
            }
        }
    }
    return s;
}

} // namespace

class TemplateLoadingTest : public QObject
{
    Q_OBJECT

private slots:
    void pageAttributesMissing()
    {
        RptEngine engine;
        QVERIFY(loadXml(engine, page(QString())));
        QCOMPARE(engine.pageList.size(), 1);
        const RptPageObject *p = engine.pageList.first();
        QCOMPARE(p->pageNo, 0);
        QCOMPARE(p->orientation, 0);
        QCOMPARE(p->pageHeight, 0);
        QCOMPARE(p->pageWidth, 0);
        QCOMPARE(p->marginsLeft, 0);
        QCOMPARE(p->marginsRight, 0);
        QCOMPARE(p->marginsTop, 0);
        QCOMPARE(p->marginsBottom, 0);
        QCOMPARE(p->border, false);
        QCOMPARE(p->borderWidth, 0);
        QVERIFY(!p->borderColor.isValid());
        QCOMPARE(p->borderStyle, QString());
        QCOMPARE(p->watermark, false);
        QCOMPARE(p->watermarkOpacity, 0.5f);
        QVERIFY(p->watermarkPixmap.isNull());
        QCOMPARE(p->visible, true);
        QCOMPARE(p->totalPages(), 0);
        QCOMPARE(p->userSqlConnection.active, false);
        QCOMPARE(p->parent(), &engine);
    }

    void pageBuiltInCode()
    {
        RptPageObject p;
        QCOMPARE(p.pageHeight, 1188);
        QCOMPARE(p.pageWidth, 840);
        QCOMPARE(p.marginsLeft, 40);
        QCOMPARE(p.marginsBottom, 40);
        QCOMPARE(p.borderWidth, 1);
        QCOMPARE(p.borderColor, QColor(Qt::black));
        QCOMPARE(p.borderStyle, QStringLiteral("solid"));
        QCOMPARE(p.watermarkOpacity, 1.0f);
    }

    void pageAttributesRead()
    {
        RptEngine engine;
        QVERIFY(engine.loadReport(dataPath(QStringLiteral("loading-full.xml"))));
        QCOMPARE(engine.pageList.size(), 2);
        const RptPageObject *p = engine.pageList.first();
        QCOMPARE(p->pageNo, 1);
        QCOMPARE(p->orientation, 1);
        QCOMPARE(p->marginsLeft, 20);
        QCOMPARE(p->marginsRight, 21);
        QCOMPARE(p->marginsTop, 40);
        QCOMPARE(p->marginsBottom, 22);
        QCOMPARE(p->border, true);
        QCOMPARE(p->borderWidth, 3);
        QCOMPARE(p->borderColor, QColor(1, 2, 3, 255));
        QCOMPARE(p->borderStyle, QStringLiteral("dashed"));
        QCOMPARE(p->watermark, true);
        QCOMPARE(p->watermarkOpacity, 0.25f);
        QCOMPARE(engine.pageList.at(1)->pageWidth, 1188);
        QCOMPARE(engine.globalScript(),
            QStringLiteral("function fundAfterData(text) { return text + \"!\"; }"));
    }

    void watermarkPixmapDecoded()
    {
        QImage image(4, 3, QImage::Format_ARGB32);
        image.fill(Qt::red);
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        RptEngine engine;
        QVERIFY(loadXml(engine,
            page(QString(),
                QStringLiteral("watermark=\"1\" watermarkPixmap=\"%1\"")
                    .arg(QString::fromLatin1(png.toBase64())))));
        QCOMPARE(engine.pageList.first()->watermarkPixmap.size(), QSize(4, 3));
    }

    void bandAttributesMissing()
    {
        RptEngine engine;
        QVERIFY(loadXml(engine, page(QStringLiteral("<ReportBand/>"))));
        const RptBandObject *b = engine.pageList.first()->bands.first();
        QCOMPARE(b->name, QString());
        QCOMPARE(b->realHeight, 0);
        QCOMPARE(b->height, 0);
        QCOMPARE(b->width, 0);
        QCOMPARE(b->groupingField, QString());
        QCOMPARE(b->groupLevel, 0);
        QCOMPARE(b->showInGroup, false);
        QCOMPARE(b->startNewPage, false);
        QCOMPARE(b->startNewNumeration, false);
        QCOMPARE(b->bandNo, 1);
        QCOMPARE(b->type, RptName::Undefined);
        QCOMPARE(b->dataSourceName, QString());
        QCOMPARE(b->parent, engine.pageList.first());
    }

    void bandAttributesRead()
    {
        RptEngine engine;
        QVERIFY(engine.loadReport(dataPath(QStringLiteral("loading-full.xml"))));
        const RptPageObject *p = engine.pageList.first();
        // "NotABand" is no band, and any child tag of a band is a field.
        QCOMPARE(p->bands.size(), 3);
        const RptBandObject *b = p->bands.at(1);
        QCOMPARE(b->name, QStringLiteral("master"));
        QCOMPARE(b->type, RptName::MasterData);
        QCOMPARE(b->realHeight, 22);
        QCOMPARE(b->height, 22);
        QCOMPARE(b->width, 800);
        QCOMPARE(b->groupingField, QStringLiteral("[branchName]"));
        QCOMPARE(b->groupLevel, 1);
        QCOMPARE(b->showInGroup, true);
        QCOMPARE(b->startNewPage, true);
        QCOMPARE(b->startNewNumeration, true);
        QCOMPARE(b->bandNo, 2);
        QCOMPARE(b->dataSourceName, QStringLiteral("orders"));
        QCOMPARE(b->fields.size(), 2);
        QCOMPARE(b->fields.at(1)->objectName(), QStringLiteral("other"));
        QCOMPARE(b->fields.at(1)->fieldType, RptName::Line);
        QCOMPARE(b->fields.at(0)->parent, b);
        QCOMPARE(p->bands.at(2)->name, QStringLiteral("footer"));
    }

    void bandTypes_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<int>("code");
        QTest::newRow("PageHeader") << "PageHeader" << 1;
        QTest::newRow("ReportTitle") << "ReportTitle" << 2;
        QTest::newRow("MasterHeader") << "MasterHeader" << 3;
        QTest::newRow("DataGroupHeader") << "DataGroupHeader" << 4;
        QTest::newRow("MasterData") << "MasterData" << 5;
        QTest::newRow("DataGroupFooter") << "DataGroupFooter" << 6;
        QTest::newRow("MasterFooter") << "MasterFooter" << 7;
        QTest::newRow("ReportSummary") << "ReportSummary" << 8;
        QTest::newRow("PageFooter") << "PageFooter" << 9;
        QTest::newRow("unknown") << "Masterdata" << 0;
    }
    void bandTypes()
    {
        QFETCH(QString, type);
        QFETCH(int, code);
        RptEngine engine;
        QVERIFY(loadXml(engine, page(QStringLiteral("<ReportBand type=\"%1\"/>").arg(type))));
        QCOMPARE(int(engine.pageList.first()->bands.first()->type), code);
    }

    void fieldAttributesMissing()
    {
        RptEngine engine;
        QVERIFY(loadXml(engine, field(QString())));
        const RptFieldObject *f = firstField(engine);
        QVERIFY(f);
        QCOMPARE(f->objectName(), QString());
        QCOMPARE(f->value, QString());
        QCOMPARE(f->rect, QRect(0, 0, 0, 0));
        QVERIFY(!f->borderTop.isValid());
        QVERIFY(!f->borderBottom.isValid());
        QVERIFY(!f->borderLeft.isValid());
        QVERIFY(!f->borderRight.isValid());
        QCOMPARE(f->borderWidth, 1);
        QCOMPARE(f->borderStyle, QStringLiteral("solid"));
        QVERIFY(!f->borderColor.isValid());
        QCOMPARE(f->rotate, 0);
        QCOMPARE(int(f->aligment), 0);
        QCOMPARE(f->autoHeight, false);
        QCOMPARE(f->textWrap, true);
        QVERIFY(!f->fontColor.isValid());
        QVERIFY(!f->backgroundColor.isValid());
        QVERIFY(!f->defaultFontColor.isValid());
        QVERIFY(!f->defaultBackgroundColor.isValid());
        QCOMPARE(f->font.weight(), 50);
        QCOMPARE(f->font.italic(), false);
        QCOMPARE(f->highlighting, QString());
        QCOMPARE(f->printing, QStringLiteral("1"));
        QCOMPARE(f->formatString, QString());
        QCOMPARE(f->imgFormat, QStringLiteral("PNG"));
        QCOMPARE(f->picture, QByteArray::fromBase64("text"));
        QCOMPARE(f->ignoreAspectRatio, true);
        QCOMPARE(f->barcodeType, 13);
        QCOMPARE(f->barcodeFrameType, 0);
        QCOMPARE(f->barcodeHeight, 50);
        QCOMPARE(f->lineStartX, 0);
        QCOMPARE(f->lineEndY, 0);
        QCOMPARE(f->arrowStart, false);
        QCOMPARE(f->arrowEnd, false);
        QCOMPARE(f->fieldType, RptName::Label);
        QCOMPARE(f->visible, true);
        QVERIFY(!f->crossTab);
    }

    void fieldBuiltInCode()
    {
        RptFieldObject f;
        QCOMPARE(f.font.family(), QApplication::font().family());
        QCOMPARE(f.font.pointSize(), 12);
        QCOMPARE(f.borderTop, QColor(Qt::black));
        QCOMPARE(f.borderColor, QColor(Qt::black));
        QCOMPARE(f.borderWidth, 1);
        QCOMPARE(f.fontColor, QColor(Qt::black));
        QCOMPARE(f.backgroundColor, QColor(Qt::white));
        QCOMPARE(f.aligment, Qt::AlignLeft | Qt::AlignVCenter);
        QCOMPARE(f.printing, QStringLiteral("1"));
        QCOMPARE(f.visible, true);
    }

    void fieldAttributesRead()
    {
        RptEngine engine;
        QVERIFY(engine.loadReport(dataPath(QStringLiteral("loading-full.xml"))));
        const RptFieldObject *f
            = engine.pageList.first()->findFieldObjectByName(QStringLiteral("fund"));
        QVERIFY(f);
        QCOMPARE(f->value, QStringLiteral("[quant]"));
        QCOMPARE(f->rect, QRect(590, -3, 201, 18));
        QCOMPARE(f->borderTop, QColor(0, 0, 0, 255));
        QCOMPARE(f->borderBottom, QColor(255, 255, 255, 0));
        QCOMPARE(f->borderLeft, QColor(10, 20, 30, 40));
        QCOMPARE(f->borderWidth, 2);
        QCOMPARE(f->borderStyle, QStringLiteral("dotted"));
        QCOMPARE(f->borderColor, QColor(192, 192, 192));
        QCOMPARE(f->rotate, 3);
        QCOMPARE(f->aligment, Qt::AlignRight | Qt::AlignBottom);
        QCOMPARE(f->autoHeight, true);
        QCOMPARE(f->textWrap, false);
        QCOMPARE(f->font.family(), QStringLiteral("Arial"));
        QCOMPARE(f->font.pointSize(), 9);
        QCOMPARE(f->font.weight(), 75);
        QCOMPARE(f->font.italic(), true);
        QCOMPARE(f->font.underline(), true);
        QCOMPARE(f->font.strikeOut(), true);
        QCOMPARE(f->fontColor, QColor(64, 64, 64));
        QCOMPARE(f->defaultFontColor, QColor(64, 64, 64));
        QCOMPARE(f->backgroundColor, QColor(235, 235, 235));
        QCOMPARE(f->defaultBackgroundColor, QColor(235, 235, 235));
        QCOMPARE(f->highlighting,
            QStringLiteral("<LineNo> % 2 == 0;backgroundColor=?rgba(235,235,235,255);"));
        QCOMPARE(f->printing, QStringLiteral("[grouping] == 0?1:0"));
        QCOMPARE(f->formatString, QStringLiteral("N# ###.##2"));
        QCOMPARE(f->imgFormat, QStringLiteral("JPG"));
        QCOMPARE(f->ignoreAspectRatio, false);
        QCOMPARE(f->barcodeType, 20);
        QCOMPARE(f->barcodeFrameType, 1);
        QCOMPARE(f->barcodeHeight, 70);
        QCOMPARE(f->lineStartX, 1);
        QCOMPARE(f->lineEndX, 2);
        QCOMPARE(f->lineStartY, 3);
        QCOMPARE(f->lineEndY, 4);
        QCOMPARE(f->arrowStart, true);
        QCOMPARE(f->arrowEnd, true);
        QCOMPARE(f->property("value").toString(), QStringLiteral("[quant]"));
        QCOMPARE(f->property("width").toInt(), 201);
        QCOMPARE(f->property("top").toInt(), -3);
    }

    void colorText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QColor>("color");
        QTest::addColumn<QString>("written");
        QTest::newRow("opaque") << "rgba(64,191,239,255)" << QColor(64, 191, 239, 255)
                                << "rgba(64,191,239,255)";
        QTest::newRow("transparent white")
            << "rgba(255,255,255,0)" << QColor(255, 255, 255, 0) << "rgba(255,255,255,0)";
        QTest::newRow("three components") << "rgba(1,2,3)" << QColor(1, 2, 3, 0) << "rgba(1,2,3,0)";
        QTest::newRow("not numeric")
            << "rgba(x,2,3,255)" << QColor(0, 2, 3, 255) << "rgba(0,2,3,255)";
        QTest::newRow("blanks") << "rgba(4, 5, 6, 7)" << QColor(4, 5, 6, 7) << "rgba(4,5,6,7)";
    }
    void colorText()
    {
        QFETCH(QString, text);
        QFETCH(QColor, color);
        QFETCH(QString, written);
        const QColor read = colorFromString(text);
        QCOMPARE(read.rgba(), color.rgba());
        QCOMPARE(colorToString(read), written);
        QCOMPARE(colorFromString(colorToString(read)).rgba(), read.rgba());
    }

    void emptyColorTextIsInvalid() { QVERIFY(!colorFromString(QString()).isValid()); }

    void fieldType_data()
    {
        QTest::addColumn<QString>("attributes");
        QTest::addColumn<int>("type");
        QTest::newRow("missing") << "" << 0;
        QTest::newRow("label") << "type=\"label\"" << 0;
        QTest::newRow("labelImage") << "type=\"labelImage\"" << 1;
        QTest::newRow("textRich") << "type=\"textRich\"" << 2;
        QTest::newRow("image") << "type=\"image\"" << 3;
        QTest::newRow("diagram") << "type=\"diagram\"" << 4;
        QTest::newRow("reactangle") << "type=\"reactangle\"" << 5;
        QTest::newRow("roundedReactangle") << "type=\"roundedReactangle\"" << 6;
        QTest::newRow("circle") << "type=\"circle\"" << 7;
        QTest::newRow("triangle") << "type=\"triangle\"" << 8;
        QTest::newRow("rhombus") << "type=\"rhombus\"" << 9;
        QTest::newRow("line") << "type=\"line\"" << 10;
        QTest::newRow("barcode") << "type=\"barcode\"" << 11;
        QTest::newRow("DatabaseImage") << "type=\"DatabaseImage\"" << 12;
        QTest::newRow("crossTab") << "type=\"crossTab\"" << 13;
        QTest::newRow("unknown") << "type=\"sparkline\"" << 0;
        QTest::newRow("label with picture") << "type=\"label\" picture=\"AAAA\"" << 0;
        QTest::newRow("rhombus with picture") << "type=\"rhombus\" picture=\"AAAA\"" << 9;
        QTest::newRow("unknown with picture") << "type=\"sparkline\" picture=\"AAAA\"" << 3;
        QTest::newRow("line with picture") << "type=\"line\" picture=\"AAAA\"" << 3;
        QTest::newRow("line with picture text") << "type=\"line\" picture=\"text\"" << 10;
    }
    void fieldType()
    {
        QFETCH(QString, attributes);
        QFETCH(int, type);
        RptEngine engine;
        QVERIFY(loadXml(engine, field(attributes)));
        QCOMPARE(int(firstField(engine)->fieldType), type);
    }

    void fieldTypeNames()
    {
        for (int code = 0; code <= RptName::CrossTab; ++code) {
            QDomDocument doc;
            QDomElement e = doc.createElement(QStringLiteral("f"));
            e.setAttribute(
                QStringLiteral("type"), RptEngine::getFieldTypeName(RptName::FieldType(code)));
            QCOMPARE(int(RptEngine::getFieldType(e)), code);
        }
        QCOMPARE(RptEngine::getFieldTypeName(RptName::Reactangle), QStringLiteral("reactangle"));
    }

    void alignment_data()
    {
        QTest::addColumn<QString>("h");
        QTest::addColumn<QString>("v");
        QTest::addColumn<int>("flags");
        QTest::newRow("justify") << "hJustify"
                                 << "" << 8;
        QTest::newRow("centre") << "hCenter"
                                << "" << 4;
        QTest::newRow("left") << "hLeft"
                              << "" << 1;
        QTest::newRow("right") << "hRight"
                               << "" << 2;
        QTest::newRow("vCenter") << ""
                                 << "vCenter" << 128;
        QTest::newRow("vBottom") << ""
                                 << "vBottom" << 64;
        QTest::newRow("vTop") << ""
                              << "vTop" << 32;
        QTest::newRow("left and centre") << "hLeft"
                                         << "vCenter" << 129;
        QTest::newRow("unknown") << "middle"
                                 << "up" << 0;
    }
    void alignment()
    {
        QFETCH(QString, h);
        QFETCH(QString, v);
        QFETCH(int, flags);
        QDomDocument doc;
        QDomElement e = doc.createElement(QStringLiteral("f"));
        if (!h.isEmpty())
            e.setAttribute(QStringLiteral("aligmentH"), h);
        if (!v.isEmpty())
            e.setAttribute(QStringLiteral("aligmentV"), v);
        QCOMPARE(int(RptEngine::getAligment(e)), flags);
    }

    void penStyle_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("style");
        QTest::newRow("dashed") << "dashed" << int(Qt::DashLine);
        QTest::newRow("dotted") << "dotted" << int(Qt::DotLine);
        QTest::newRow("dot-dash") << "dot-dash" << int(Qt::DashDotLine);
        QTest::newRow("dot-dot-dash") << "dot-dot-dash" << int(Qt::DashDotDotLine);
        QTest::newRow("solid") << "solid" << int(Qt::SolidLine);
        QTest::newRow("empty") << "" << int(Qt::SolidLine);
        QTest::newRow("unknown") << "wavy" << int(Qt::SolidLine);
    }
    void penStyle()
    {
        QFETCH(QString, text);
        QFETCH(int, style);
        QCOMPARE(int(RptEngine::getPenStyle(text)), style);
    }

    void borderWidthInPixels_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("width");
        QTest::newRow("px") << "2px" << 2;
        QTest::newRow("plain") << "3" << 3;
        QTest::newRow("garbage") << "thick" << 0;
    }
    void borderWidthInPixels()
    {
        QFETCH(QString, text);
        QFETCH(int, width);
        RptEngine engine;
        QVERIFY(loadXml(engine, field(QStringLiteral("borderWidth=\"%1\"").arg(text))));
        QCOMPARE(firstField(engine)->borderWidth, width);
    }

    void pictureDecoded()
    {
        RptEngine engine;
        QVERIFY(loadXml(engine,
            field(QStringLiteral("type=\"image\" picture=\"%1\"")
                      .arg(QString::fromLatin1(QByteArray("\x89PNG").toBase64())))));
        QCOMPARE(firstField(engine)->picture, QByteArray("\x89PNG"));
    }

    void anyChildTagIsField()
    {
        RptEngine engine;
        QVERIFY(loadXml(
            engine, field(QStringLiteral("name=\"x\" value=\"v\""), QStringLiteral("Whatever"))));
        QCOMPARE(firstField(engine)->objectName(), QStringLiteral("x"));
        QCOMPARE(firstField(engine)->value, QStringLiteral("v"));
    }

    void crossTabParameters()
    {
        RptEngine engine;
        QVERIFY(loadXml(engine,
            page(QStringLiteral(
                "<ReportBand type=\"ReportTitle\"><TContainerField name=\"ct\" type=\"crossTab\" "
                "left=\"5\" top=\"6\" width=\"400\" height=\"80\" colCount=\"4\" rowHeight=\"20\" "
                "dataSourceName=\"ds\" totalByRowVisible=\"0\" subtotalIsVisible=\"1\" "
                "headerIsVisible=\"1\" headerBackgroundColor=\"rgba(1,1,1,255)\">"
                "<Column caption=\"A\" value=\"[a]\" width=\"50\"/><Column caption=\"B\"/>"
                "</TContainerField></ReportBand>"))));
        const RptFieldObject *f = firstField(engine);
        QCOMPARE(f->fieldType, RptName::CrossTab);
        QVERIFY(f->crossTab);
        const RptCrossTabObject *ct = f->crossTab;
        QCOMPARE(ct->owner, f);
        QCOMPARE(ct->rect, QRect(5, 6, 400, 80));
        QCOMPARE(ct->colCount(), 4);
        QCOMPARE(ct->rowHeight(), 20);
        QCOMPARE(ct->dataSourceName, QStringLiteral("ds"));
        QCOMPARE(ct->isTotalByRowVisible(), false);
        QCOMPARE(ct->isTotalByColumnVisible(), true);
        QCOMPARE(ct->isSubTotalVisible(), true);
        QCOMPARE(ct->isHeaderVisible(), true);
        QCOMPARE(ct->headerBackgroundColor, QColor(1, 1, 1));
        QCOMPARE(ct->totalBackgroundColor, QColor(255, 255, 255));
        QCOMPARE(ct->columns.size(), 2);
        QCOMPARE(ct->columns.at(0).caption, QStringLiteral("A"));
        QCOMPARE(ct->columns.at(0).value, QStringLiteral("[a]"));
        QCOMPARE(ct->columns.at(0).width, 50);
        QCOMPARE(ct->columns.at(1).width, 0);
        QCOMPARE(engine.pageList.first()->crossTabs().size(), 1);
    }

    void crossTabDefaults()
    {
        RptEngine engine;
        QVERIFY(loadXml(engine, field(QStringLiteral("type=\"crossTab\""))));
        const RptCrossTabObject *ct = firstField(engine)->crossTab;
        QVERIFY(ct);
        QCOMPARE(ct->colCount(), 3);
        QCOMPARE(ct->rowCount(), 3);
        QCOMPARE(ct->rowHeight(), 20);
        QCOMPARE(ct->isTotalByRowVisible(), true);
        QCOMPARE(ct->isSubTotalVisible(), false);
        QCOMPARE(ct->isHeaderVisible(), false);
        QCOMPARE(ct->isMatrixBuilt(), false);
    }

    void chartAttributesKept()
    {
        RptEngine engine;
        QVERIFY(loadXml(engine,
            field(
                QStringLiteral("type=\"diagram\" caption=\"Sales\" chartType=\"SeriesTypePie\""))));
        const RptFieldObject *f = firstField(engine);
        QCOMPARE(f->fieldType, RptName::Diagram);
        QCOMPARE(f->chartAttributes.value(QStringLiteral("caption")).toString(),
            QStringLiteral("Sales"));
        QCOMPARE(f->chartAttributes.value(QStringLiteral("chartType")).toString(),
            QStringLiteral("SeriesTypePie"));
    }

    void bandLookup()
    {
        RptEngine engine;
        QVERIFY(loadXml(engine,
            page(
                QStringLiteral("<ReportBand name=\"m1\" type=\"MasterData\" bandNo=\"1\"/>"
                               "<ReportBand name=\"m3\" type=\"MasterData\" bandNo=\"3\"/>"
                               "<ReportBand name=\"g0\" type=\"DataGroupFooter\" groupLevel=\"0\"/>"
                               "<ReportBand name=\"g1\" type=\"DataGroupFooter\" groupLevel=\"1\"/>"
                               "<ReportBand name=\"m3b\" type=\"MasterData\" bandNo=\"3\"/>"))));
        const RptPageObject *p = engine.pageList.first();
        QCOMPARE(p->bandsCountByType(RptName::MasterData), 3);
        QCOMPARE(p->bandsCountByType(RptName::PageFooter), 0);
        QCOMPARE(p->getBand(RptName::MasterData, 3)->name, QStringLiteral("m3"));
        QVERIFY(!p->getBand(RptName::MasterData, 2));
        QCOMPARE(p->getBand(RptName::DataGroupFooter, 1, 1)->name, QStringLiteral("g1"));
        QCOMPARE(p->getBand(RptName::DataGroupFooter, 1, 0)->name, QStringLiteral("g0"));
        QVERIFY(!p->getBand(RptName::DataGroupFooter, 1, 2));
    }

    void loadingTwiceGivesSameModel()
    {
        RptEngine engine;
        QVERIFY(engine.loadReport(dataPath(QStringLiteral("loading-full.xml"))));
        const QString first = dump(engine);
        QPointer<RptPageObject> oldPage = engine.pageList.first();
        QPointer<RptFieldObject> oldField
            = engine.pageList.first()->findFieldObjectByName(QStringLiteral("fund"));
        QVERIFY(engine.loadReport(dataPath(QStringLiteral("loading-full.xml"))));
        QCOMPARE(dump(engine), first);
        QVERIFY(oldPage.isNull());
        QVERIFY(oldField.isNull());
        QCOMPARE(engine.pageList.size(), 2);
        QCOMPARE(engine.findChildren<RptPageObject *>().size(), 2);
    }

    void rebuildingDropsRunChanges()
    {
        RptEngine engine;
        QVERIFY(engine.loadReport(dataPath(QStringLiteral("loading-full.xml"))));
        RptFieldObject *f = engine.pageList.first()->findFieldObjectByName(QStringLiteral("fund"));
        f->setVisible(false);
        f->setWidth(1);
        engine.pageList.first()->setVisible(false);
        engine.beginRun();
        f = engine.pageList.first()->findFieldObjectByName(QStringLiteral("fund"));
        QCOMPARE(f->visible, true);
        QCOMPARE(f->getWidth(), 201);
        QCOMPARE(engine.pageList.first()->isVisible(), true);
    }

    void cloneIsDeep()
    {
        RptEngine engine;
        QVERIFY(engine.loadReport(dataPath(QStringLiteral("loading-full.xml"))));
        std::unique_ptr<RptPageObject> copy(engine.pageList.first()->clone());
        QCOMPARE(copy->bands.size(), 3);
        RptFieldObject *f = copy->findFieldObjectByName(QStringLiteral("fund"));
        QVERIFY(f);
        QVERIFY(f != engine.pageList.first()->findFieldObjectByName(QStringLiteral("fund")));
        QCOMPARE(f->parent, copy->bands.at(1));
        QCOMPARE(copy->bands.at(1)->parent, copy.get());
        QCOMPARE(f->font.family(), QStringLiteral("Arial"));
        QCOMPARE(f->highlighting.isEmpty(), false);
    }

    void missingFileKeepsModel()
    {
        RptEngine engine;
        QVERIFY(engine.loadReport(dataPath(QStringLiteral("loading-full.xml"))));
        const QString before = dump(engine);
        RptLoadError error;
        QTest::ignoreMessage(
            QtWarningMsg, QRegularExpression(QStringLiteral("^RptEngine::loadReport")));
        QVERIFY(!engine.loadReport(dataPath(QStringLiteral("does-not-exist.xml")), &error));
        QVERIFY(error.hasError);
        QCOMPARE(error.line, 0);
        QVERIFY(!error.message.isEmpty());
        QCOMPARE(dump(engine), before);
        QCOMPARE(engine.lastLoadError().message, error.message);
    }

    void brokenFiles_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("line");
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("message");
        QTest::newRow("tag mismatch") << "broken.xml" << 5 << 11 << "tag mismatch";
        QTest::newRow("not xml") << "not-xml.txt" << 1 << 1
                                 << "error occurred while parsing element";
    }
    void brokenFiles()
    {
        QFETCH(QString, file);
        QFETCH(int, line);
        QFETCH(int, column);
        QFETCH(QString, message);
        RptEngine engine;
        QVERIFY(engine.loadReport(dataPath(QStringLiteral("loading-full.xml"))));
        const QString before = dump(engine);
        const QDomDocument docBefore = engine.xmlDoc();
        QTest::ignoreMessage(
            QtWarningMsg, QRegularExpression(QStringLiteral("^Report file not found")));
        RptLoadError error;
        QVERIFY(!engine.loadReport(dataPath(file), &error));
        QVERIFY(error.hasError);
        QCOMPARE(error.line, line);
        QCOMPARE(error.column, column);
        QCOMPARE(error.message, message);
        QCOMPARE(dump(engine), before);
        // The next run still rebuilds from the template that did load.
        engine.beginRun();
        QCOMPARE(dump(engine), before);
    }

    void loadFromDocument()
    {
        QDomDocument doc;
        QVERIFY(
            doc.setContent(page(QStringLiteral("<ReportBand type=\"ReportTitle\" name=\"t\"/>"))));
        RptEngine engine;
        QVERIFY(engine.loadReport(doc));
        QCOMPARE(engine.pageList.size(), 1);
        QCOMPARE(engine.pageList.first()->bands.first()->name, QStringLiteral("t"));
        QCOMPARE(engine.xmlDoc().documentElement().tagName(), QStringLiteral("Reports"));
    }

    void emptyEngine()
    {
        RptEngine engine;
        QVERIFY(engine.pageList.isEmpty());
        QCOMPARE(engine.xmlDoc().doctype().name(), QStringLiteral("Reports"));
        std::unique_ptr<RptEngine> created(createRptEngine());
        QVERIFY(created);
        QVERIFY(!created->parent());
    }

    void scriptWithoutCdataIgnored()
    {
        RptEngine engine;
        QVERIFY(
            loadXml(engine, QStringLiteral("<Reports><Script>plain</Script><Report/></Reports>")));
        QCOMPARE(engine.globalScript(), QString());
    }
};

YXA_TEST_CLASS(TemplateLoadingTest)
#include "tst_templateloading.moc"
