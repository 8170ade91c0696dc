// Drawing fields on the page: paper and margins, fills, borders, images,
// lines with arrow heads, embedded fonts. Checked on the pixels of pages
// rendered by pdftoppm and with pdfinfo / pdffonts / pdftotext.
#include "layouttestutil.h"
#include "rpttestcaller.h"
#include "testmain.h"

#include <QBuffer>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>

using namespace RptOut;

namespace {

const int kDpi = 150;

QString titleReport(const QString &fields, const QString &pageExtra = QString())
{
    return reports(a4Page(band(QStringLiteral("ReportTitle"), 1000, fields), pageExtra));
}

// Twice as wide as high: red on the left, blue on the right. The halves are
// whole 8 x 8 blocks, so that the PDF's JPEG encoding keeps their colours.
QString twoColourPng()
{
    QImage image(16, 8, QImage::Format_RGB32);
    image.fill(qRgb(0, 0, 255));
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x)
            image.setPixel(x, y, qRgb(255, 0, 0));
    }
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return QString::fromLatin1(png.toBase64());
}

QColor at(const QImage &page, double x, double y)
{
    return QColor(page.pixel(pagePixel(x, y, kDpi)));
}

} // namespace

class DrawTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QImage render(const QString &xml, const QString &name)
    {
        RptEngine engine;
        if (!load(engine, xml))
            return QImage();
        const QString file = m_dir.filePath(name + QStringLiteral(".pdf"));
        engine.printPDF(file, false);
        return pdfPageImage(file, 1, kDpi);
    }

private slots:
    void paperAndMargins_data()
    {
        QTest::addColumn<int>("orientation");
        QTest::addColumn<QSize>("sizeMm");
        QTest::newRow("portrait") << 0 << QSize(210, 297);
        QTest::newRow("landscape") << 1 << QSize(297, 210);
    }
    void paperAndMargins()
    {
        QFETCH(int, orientation);
        QFETCH(QSize, sizeMm);
        QString xml = titleReport(label(QStringLiteral("Corner"), 0, 0, 300, 30));
        xml.replace(QLatin1String("orientation=\"0\""),
            QStringLiteral("orientation=\"%1\"").arg(orientation));
        RptEngine engine;
        QVERIFY(load(engine, xml));
        const QString file = m_dir.filePath(QStringLiteral("paper%1.pdf").arg(orientation));
        engine.printPDF(file, false);
        QCOMPARE(pdfPageSizeMm(file), sizeMm);
        if (orientation == 0) {
            // The printable area starts 5.01 mm from the left, 10.01 mm from the top.
            const QMarginsF m = engine.printer()->pageLayout().margins(QPageLayout::Millimeter);
            QCOMPARE(qRound(m.left() * 100), 501);
            QCOMPARE(qRound(m.top() * 100), 1001);
            QCOMPARE(qRound(m.right() * 100), 501);
            QCOMPARE(qRound(m.bottom() * 100), 501);
            const QString bbox = run(QStringLiteral("pdftotext"),
                { QStringLiteral("-bbox"), file, QStringLiteral("-") });
            const QRegularExpression word(
                QStringLiteral("xMin=\"([0-9.]+)\" yMin=\"([0-9.]+)\"[^>]*>Corner<"));
            const QRegularExpressionMatch match = word.match(bbox);
            QVERIFY2(match.hasMatch(), qPrintable(bbox));
            const double xMm = match.captured(1).toDouble() * 25.4 / 72;
            const double yMm = match.captured(2).toDouble() * 25.4 / 72;
            QVERIFY2(xMm >= 4.5 && xMm < 7.0, qPrintable(QString::number(xMm)));
            QVERIFY2(yMm >= 10.0 && yMm < 18.0, qPrintable(QString::number(yMm)));
        }
    }

    void fillsInsideTheRectangle()
    {
        const QImage page = render(titleReport(label(QString(), 100, 100, 200, 100,
                                       QStringLiteral("backgroundColor=\"rgba(0,173,239,255)\""))),
            QStringLiteral("fill"));
        QVERIFY(!page.isNull());
        QVERIFY(near(at(page, 200, 150), QColor(0, 173, 239)));
        QVERIFY(near(at(page, 102, 102), QColor(0, 173, 239)));
        QVERIFY(near(at(page, 90, 150), Qt::white));
        QVERIFY(near(at(page, 200, 210), Qt::white));
    }

    void opaqueOrTransparentWhiteDrawsNothing_data()
    {
        QTest::addColumn<QString>("attributes");
        QTest::newRow("white background, transparent white sides")
            << "backgroundColor=\"rgba(255,255,255,255)\" borderColor=\"rgba(0,0,0,255)\" "
               "borderWidth=\"10px\"";
        QTest::newRow("white background, white sides")
            << "backgroundColor=\"rgba(255,255,255,255)\" borderColor=\"rgba(0,0,0,255)\" "
               "borderWidth=\"10px\" "
               "borderTop=\"rgba(255,255,255,255)\" borderBottom=\"rgba(255,255,255,255)\" "
               "borderLeft=\"rgba(255,255,255,255)\" borderRight=\"rgba(255,255,255,255)\"";
    }
    void opaqueOrTransparentWhiteDrawsNothing()
    {
        QFETCH(QString, attributes);
        const QImage page = render(titleReport(label(QString(), 100, 100, 200, 100, attributes)),
            QStringLiteral("white%1").arg(QTest::currentDataTag()[20]));
        QVERIFY(!page.isNull());
        const QRect area(pagePixel(95, 95, kDpi), pagePixel(305, 205, kDpi));
        for (int y = area.top(); y <= area.bottom(); ++y) {
            for (int x = area.left(); x <= area.right(); ++x)
                QVERIFY2(near(QColor(page.pixel(x, y)), Qt::white, 2),
                    qPrintable(QStringLiteral("%1,%2").arg(x).arg(y)));
        }
    }

    void sideColoursSwitchSidesAndBorderColourDrawsThem_data()
    {
        QTest::addColumn<QString>("side");
        QTest::addColumn<QPointF>("onPoint");
        QTest::addColumn<QPointF>("offPoint");
        QTest::newRow("top") << "borderTop" << QPointF(200, 100) << QPointF(200, 200);
        QTest::newRow("bottom") << "borderBottom" << QPointF(200, 200) << QPointF(200, 100);
        QTest::newRow("left") << "borderLeft" << QPointF(100, 150) << QPointF(299, 150);
        QTest::newRow("right") << "borderRight" << QPointF(299, 150) << QPointF(100, 150);
    }
    void sideColoursSwitchSidesAndBorderColourDrawsThem()
    {
        QFETCH(QString, side);
        QFETCH(QPointF, onPoint);
        QFETCH(QPointF, offPoint);
        const QString attributes
            = QStringLiteral("%1=\"rgba(0,0,0,255)\" borderColor=\"rgba(192,192,192,255)\" "
                             "borderWidth=\"10px\"")
                  .arg(side);
        const QImage page = render(titleReport(label(QString(), 100, 100, 200, 100, attributes)),
            QStringLiteral("side-") + side);
        QVERIFY(!page.isNull());
        // Drawn grey (borderColor), not black (the side's colour).
        QVERIFY(near(at(page, onPoint.x(), onPoint.y()), QColor(192, 192, 192), 12));
        QVERIFY(near(at(page, offPoint.x(), offPoint.y()), Qt::white, 2));
    }

    // A template that names no side colours keeps the frame; only white
    // (opaque or transparent) switches a side off. No background fills
    // nothing.
    void missingSideAttributesKeepTheFrame()
    {
        const QString field = QStringLiteral(
            "<TContainerField type=\"label\" left=\"100\" top=\"100\" width=\"201\" height=\"100\" "
            "borderColor=\"rgba(0,0,0,255)\" borderWidth=\"10px\" "
            "borderLeft=\"rgba(255,255,255,0)\"/>");
        const QImage page = render(titleReport(field), QStringLiteral("frame"));
        QVERIFY(!page.isNull());
        QVERIFY(near(at(page, 200, 100), Qt::black, 60));
        QVERIFY(near(at(page, 200, 200), Qt::black, 60));
        QVERIFY(near(at(page, 300, 150), Qt::black, 60));
        QVERIFY(near(at(page, 100, 150), Qt::white, 2));
        QVERIFY(near(at(page, 200, 150), Qt::white, 2));
    }

    void imagesStretchOrKeepTheirAspect_data()
    {
        QTest::addColumn<bool>("ignoreAspect");
        QTest::addColumn<QColor>("lowerLeft");
        QTest::addColumn<QColor>("lowerRight");
        QTest::newRow("stretched") << true << QColor(Qt::red) << QColor(Qt::blue);
        // Scaled to 100 x 50 at the top-left: the lower half stays white.
        QTest::newRow("aspect kept") << false << QColor(Qt::white) << QColor(Qt::white);
    }
    void imagesStretchOrKeepTheirAspect()
    {
        QFETCH(bool, ignoreAspect);
        QFETCH(QColor, lowerLeft);
        QFETCH(QColor, lowerRight);
        const QString field = QStringLiteral(
            "<TContainerField type=\"image\" left=\"100\" top=\"400\" width=\"101\" height=\"100\" "
            "picture=\"%1\" imgFormat=\"PNG\" ignoreAspectRatio=\"%2\"/>")
                                  .arg(twoColourPng())
                                  .arg(ignoreAspect ? 1 : 0);
        const QImage page = render(titleReport(field), QStringLiteral("image%1").arg(ignoreAspect));
        QVERIFY(!page.isNull());
        QVERIFY(near(at(page, 120, 410), Qt::red, 40));
        QVERIFY(near(at(page, 180, 410), Qt::blue, 40));
        QVERIFY(near(at(page, 120, 490), lowerLeft, 40));
        QVERIFY(near(at(page, 180, 490), lowerRight, 40));
    }

    void lineWithArrowHeadAtItsEnd()
    {
        const QString field
            = QStringLiteral("<TContainerField type=\"line\" lineStartX=\"100\" lineStartY=\"700\" "
                             "lineEndX=\"500\" lineEndY=\"700\" "
                             "arrowEnd=\"1\" borderColor=\"rgba(0,0,0,255)\" borderWidth=\"1\"/>");
        const QImage page = render(titleReport(field), QStringLiteral("arrow"));
        QVERIFY(!page.isNull());
        // The line itself.
        QVERIFY(near(at(page, 300, 700), Qt::black, 60));
        // The head: a filled triangle reaching back about 8.7 units and
        // 5 units to either side of the line, at the end only.
        QVERIFY(near(at(page, 494, 698.5), Qt::black, 60));
        QVERIFY(near(at(page, 494, 701.5), Qt::black, 60));
        QVERIFY(near(at(page, 105, 697.5), Qt::white, 60));
        QVERIFY(near(at(page, 105, 702.5), Qt::white, 60));
        QVERIFY(near(at(page, 505, 700), Qt::white, 60));
    }

    void fontsAreEmbeddedAndAccentsKept()
    {
        RptEngine engine;
        const QString text = QStringLiteral("Položka ďakujeme ľúbime Žilina");
        QVERIFY(load(engine, titleReport(label(text, 0, 0, 700, 40))));
        const QString file = m_dir.filePath(QStringLiteral("fonts.pdf"));
        engine.printPDF(file, false);
        QCOMPARE(textLines(pdfText(file)), QStringList { text });
        const QStringList fonts = run(QStringLiteral("pdffonts"), { file })
                                      .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QVERIFY(fonts.size() >= 3);
        for (int i = 2; i < fonts.size(); ++i) {
            QVERIFY2(fonts.at(i).contains(QLatin1String("Liberation")), qPrintable(fonts.at(i)));
            QVERIFY2(fonts.at(i).contains(QRegularExpression(QStringLiteral("Identity-H\\s+yes"))),
                qPrintable(fonts.at(i)));
        }
        int exitCode = -1;
        run(QStringLiteral("qpdf"), { QStringLiteral("--check"), file }, &exitCode);
        QCOMPARE(exitCode, 0);
    }

    // A text drawn again in the same font reuses its layout; every box still
    // places it as drawText does. Underlined copies go through drawText and
    // are the reference: they stand 100 units lower.
    void repeatedTextIsPlacedAsDrawTextPlacesIt()
    {
        const QString text = QStringLiteral("Opakuj ma dvakrát");
        const QString underline = QStringLiteral(" fontUnderline=\"1\"");
        const QString right = QStringLiteral("aligmentH=\"hRight\" aligmentV=\"vBottom\"");
        const QString narrow = QStringLiteral("aligmentH=\"hCenter\"");
        RptEngine engine;
        QVERIFY(load(engine,
            titleReport(label(text, 0, 0, 400, 40) + label(text, 0, 100, 400, 40, underline)
                + label(text, 0, 200, 400, 40) + label(text, 0, 300, 400, 40, underline)
                + label(text, 0, 400, 400, 40, right)
                + label(text, 0, 500, 400, 40, right + underline)
                + label(text, 20, 600, 50, 90, narrow)
                + label(text, 20, 700, 50, 90, narrow + underline))));
        const QString file = m_dir.filePath(QStringLiteral("repeated.pdf"));
        engine.printPDF(file, false);
        const QString bbox = run(
            QStringLiteral("pdftotext"), { QStringLiteral("-bbox"), file, QStringLiteral("-") });
        static const QRegularExpression word(
            QStringLiteral("<word xMin=\"([0-9.]+)\" yMin=\"([0-9.]+)\"[^>]*>([^<]*)</word>"));
        QVector<QPointF> at;
        QStringList words;
        for (auto it = word.globalMatch(bbox); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            at.append(QPointF(m.captured(1).toDouble(), m.captured(2).toDouble()));
            words.append(m.captured(3));
        }
        QCOMPARE(words.size(), 24);
        // 100 units on the device, from two copies drawText placed.
        const double step = (at.at(9).y() - at.at(3).y()) / 2;
        for (int pair = 0; pair < 4; ++pair) {
            for (int w = 0; w < 3; ++w) {
                const int drawn = pair * 6 + w;
                const int reference = drawn + 3;
                QCOMPARE(words.at(drawn), words.at(reference));
                QVERIFY2(qAbs(at.at(drawn).x() - at.at(reference).x()) < 0.01,
                    qPrintable(words.at(drawn)));
                QVERIFY2(qAbs(at.at(reference).y() - at.at(drawn).y() - step) < 0.07,
                    qPrintable(words.at(drawn)));
            }
        }
        // Right alignment moved the words, and the narrow box broke the line.
        QVERIFY(at.at(12).x() > at.at(0).x() + 10);
        QVERIFY(at.at(20).y() > at.at(18).y() + 5);
    }

    // A barcode field draws its symbol (libzint) on its background, with
    // the human-readable digits, and no box: its side colours and border
    // colour do nothing.
    void barcodeDrawsItsSymbolAndNoBox()
    {
        const QString field = QStringLiteral(
            "<TContainerField type=\"barcode\" value=\"590123412345\" left=\"100\" top=\"100\" width=\"200\" height=\"100\" "
            "backgroundColor=\"rgba(0,0,0,255)\" borderTop=\"rgba(0,0,0,255)\" borderColor=\"rgba(0,0,0,255)\"/>");
        RptEngine engine;
        QVERIFY(load(engine, titleReport(field)));
        const QString file = m_dir.filePath(QStringLiteral("barcode.pdf"));
        engine.printPDF(file, false);
        const QImage page = pdfPageImage(file, 1, kDpi);
        QVERIFY(near(at(page, 200, 150), Qt::black, 2));
        QVERIFY(near(at(page, 200, 97), Qt::white, 2));
        QVERIFY(near(at(page, 97, 150), Qt::white, 2));
        // Twelve digits as EAN-13: the check digit comes after them.
        QCOMPARE(pdfText(file).remove(QRegularExpression(QStringLiteral("\\s"))), QStringLiteral("5901234123457"));
    }

    void pageBorderAndWatermark()
    {
        QImage mark(8, 8, QImage::Format_RGB32);
        mark.fill(qRgb(0, 0, 255));
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        mark.save(&buffer, "PNG");
        const QString pageAttributes
            = QStringLiteral("border=\"1\" borderWidth=\"4\" borderColor=\"rgba(255,0,0,255)\" "
                             "borderStyle=\"solid\" "
                             "watermark=\"1\" watermarkOpacity=\"0.5\" watermarkPixmap=\"%1\"")
                  .arg(QString::fromLatin1(png.toBase64()));
        const QString xml = reports(a4Page(
            band(QStringLiteral("ReportTitle"), 30, label(QStringLiteral("x"), 0, 0, 100, 25))
                + band(
                    QStringLiteral("MasterData"), 400, label(QStringLiteral("[n]"), 0, 0, 100, 25)),
            pageAttributes));
        RptEngine engine;
        QVERIFY(load(engine, xml));
        RptTestCaller caller(&engine);
        caller.recCount = 4;
        const QString file = m_dir.filePath(QStringLiteral("border.pdf"));
        engine.printPDF(file, false);
        QCOMPARE(pdfPages(file), 2);
        for (int p = 1; p <= 2; ++p) {
            const QImage page = pdfPageImage(file, p, kDpi);
            // The border runs about 2 mm inside the paper's edge, on every page.
            const int y = page.height() / 2;
            bool red = false;
            for (int x = 0; x < int(4.0 * kDpi / 25.4); ++x)
                red = red || near(QColor(page.pixel(x, y)), Qt::red, 60);
            QVERIFY2(red, qPrintable(QString::number(p)));
            // The watermark covers the printable area at half opacity.
            QVERIFY(near(at(page, 400, 600), QColor(127, 127, 255), 30));
        }
    }

    void shapesAreFilledWithTheirBackground()
    {
        const QString field = QStringLiteral(
            "<TContainerField type=\"circle\" left=\"100\" top=\"100\" width=\"201\" "
            "height=\"200\" "
            "backgroundColor=\"rgba(255,0,0,255)\" borderColor=\"rgba(0,0,0,255)\"/>");
        const QImage page = render(titleReport(field), QStringLiteral("circle"));
        QVERIFY(near(at(page, 200, 200), Qt::red, 30));
        // The corner of the bounding box lies outside the ellipse.
        QVERIFY(near(at(page, 105, 105), Qt::white, 2));
    }
};

YXA_TEST_CLASS(DrawTest)

#include "tst_drawing.moc"
