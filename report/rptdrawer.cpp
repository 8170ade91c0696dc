#include "rptdrawer.h"

#include "rptbandobject.h"
#include "rptbarcode.h"
#include "rptchartbuilder.h"
#include "rptfieldevaluator.h"
#include "rptfieldobject.h"
#include "rpthtmlwriter.h"
#include "rptpageobject.h"
#include "rptrunhost.h"
#include "rptrunstate.h"
#include "rpttemplate.h"
#include "rpttextlayoutcache.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QBuffer>
#include <QFontMetrics>
#include <QGraphicsScene>
#include <QPainter>
#include <QPainterPath>
#include <QPrinter>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QTextLayout>
#include <QUrl>
#include <QtCharts/QChart>

#include <cmath>

namespace {

const QColor kOpaqueWhite(255, 255, 255, 255);

// The page border stands this far (device pixels) inside the paper's top
// left and bottom right corners.
constexpr int kBorderInsetTopLeft = 92;
constexpr int kBorderInsetBottomRight = 100;

// A colour that paints nothing: a missing attribute (invalid) or alpha 0,
// which templates write to switch a background off.
bool isOff(const QColor &c)
{
    return !c.isValid() || c.alpha() == 0;
}

bool isBoxType(RptName::FieldType t)
{
    switch (t) {
    case RptName::Reactangle:
    case RptName::RoundedReactangle:
    case RptName::Circle:
    case RptName::Triangle:
    case RptName::Rhombus:
    case RptName::Barcode:
    case RptName::CrossTab:
    case RptName::Image:
    case RptName::Diagram:
    case RptName::Line:
        return false;
    default:
        return true;
    }
}

// Text of a rich-text fragment that the engine has to evaluate.
const QRegularExpression &richVariable()
{
    static const QRegularExpression re(QStringLiteral("\\[\\D.*?]|<.*?>"),
                                       QRegularExpression::DotMatchesEverythingOption);
    return re;
}

// Whether a value carries a <body> element, and then its inner part; a
// value without one is plain text.
bool bodyPart(const QString &value, QString *body)
{
    const int bodyStart = value.indexOf(QLatin1String("<body"));
    const int bodyEnd = value.indexOf(QLatin1String("</body>"));
    if (bodyStart < 0 || bodyEnd <= bodyStart)
        return false;
    const int open = value.indexOf(QLatin1Char('>'), bodyStart);
    if (open < 0 || open > bodyEnd)
        return false;
    *body = value.mid(open + 1, bodyEnd - open - 1);
    return true;
}

// Character references of a text run of the template's HTML, so a run
// reads as the text document reads it ("&lt;SUM([q])&gt;" is a formula).
QString decodeEntities(const QString &run)
{
    static const QHash<QString, QChar> named {
        {QStringLiteral("lt"), QLatin1Char('<')},   {QStringLiteral("gt"), QLatin1Char('>')},
        {QStringLiteral("amp"), QLatin1Char('&')},  {QStringLiteral("quot"), QLatin1Char('"')},
        {QStringLiteral("apos"), QLatin1Char('\'')}, {QStringLiteral("nbsp"), QChar(0xa0)}};
    QString out;
    out.reserve(run.size());
    for (int i = 0; i < run.size(); ++i) {
        const int semi = run.at(i) == QLatin1Char('&') ? run.indexOf(QLatin1Char(';'), i + 1) : -1;
        if (semi < 0 || semi - i > 10) {
            out += run.at(i);
            continue;
        }
        const QString name = run.mid(i + 1, semi - i - 1);
        bool ok = false;
        uint code = 0;
        if (name.startsWith(QLatin1String("#x")) || name.startsWith(QLatin1String("#X")))
            code = name.mid(2).toUInt(&ok, 16);
        else if (name.startsWith(QLatin1Char('#')))
            code = name.mid(1).toUInt(&ok, 10);
        if (ok && code > 0 && code <= 0x10ffff) {
            out += QString::fromUcs4(&code, 1);
        } else if (named.contains(name)) {
            out += named.value(name);
        } else {
            out += run.at(i);
            continue;
        }
        i = semi;
    }
    return out;
}

// Rich text from data as Qt's rich-text subset writes it back: no scripts,
// no event handlers, and no links but to web pages and mail addresses.
QString safeRichText(const QString &html)
{
    QTextDocument doc;
    doc.setHtml(html);
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        for (QTextBlock::iterator it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment frag = it.fragment();
            QTextCharFormat format = frag.charFormat();
            if (!format.isAnchor())
                continue;
            const QString scheme = QUrl(format.anchorHref()).scheme().toLower();
            if (scheme == QLatin1String("http") || scheme == QLatin1String("https")
                || scheme == QLatin1String("mailto"))
                continue;
            format.setAnchor(false);
            format.clearProperty(QTextFormat::AnchorHref);
            QTextCursor cursor(&doc);
            cursor.setPosition(frag.position());
            cursor.setPosition(frag.position() + frag.length(), QTextCursor::KeepAnchor);
            cursor.setCharFormat(format);
        }
    }
    return QTextDocumentFragment(&doc).toHtml();
}

// Where the next tag (or comment) of an HTML text starts; a '<' that no
// name, '/' or '!' follows is text, as the HTML parser reads it.
int nextTag(const QString &html, int from)
{
    for (int i = html.indexOf(QLatin1Char('<'), from); i >= 0; i = html.indexOf(QLatin1Char('<'), i + 1)) {
        const QChar next = i + 1 < html.size() ? html.at(i + 1) : QChar();
        if (next.isLetter() || next == QLatin1Char('/') || next == QLatin1Char('!'))
            return i;
    }
    return -1;
}

} // namespace

RptDrawer::RptDrawer(const RptRunState &state, RptFieldEvaluator &fields, RptRunHost &host)
    : m_state(state)
    , m_fields(fields)
    , m_host(host)
{
}

RptDrawer::~RptDrawer() = default;

bool RptDrawer::isSideOn(const QColor &c)
{
    return !c.isValid() || (c.alpha() != 0 && c != kOpaqueWhite);
}

QColor RptDrawer::outlineColor(const RptFieldObject *field)
{
    return field->borderColor.isValid() ? field->borderColor : QColor(Qt::black);
}

void RptDrawer::beginRun(QPainter *painter, QPrinter *printer, RptName::OutputMode mode)
{
    m_painter = painter;
    m_printer = printer;
    m_mode = mode;
    m_appliedOrientation = -1;
    m_pictures.clear();
    m_textLayouts.clear();
    m_htmlOut.clear();
}

void RptDrawer::endRun()
{
    m_pictures.clear();
    m_textLayouts.clear();
}

bool RptDrawer::painting() const
{
    return m_painter && m_painter->isActive() && m_mode != RptName::HtmlMode;
}

void RptDrawer::setPageSettings(QPrinter *printer, RptPageObject *page)
{
    if (!printer || !page)
        return;
    m_printer = printer;
    m_pageHeight = page->pageHeight;
    m_pageWidth = page->pageWidth;
    m_marginsLeft = page->marginsLeft;
    m_marginsRight = page->marginsRight;
    m_marginsTop = page->marginsTop;
    m_marginsBottom = page->marginsBottom;
    m_orientation = page->orientation;
    if (page->watermark) {
        m_background = page->watermarkPixmap;
        m_backgroundOpacity = page->watermarkOpacity;
    } else {
        m_background = QPixmap();
    }

    if (printer->printerState() != QPrinter::Active) {
        QSizeF size(m_pageWidth / 4, m_pageHeight / 4);
        if (m_orientation == 1)
            size.transpose();
        if (size.width() > 0 && size.height() > 0)
            printer->setPageSize(QPageSize(size, QPageSize::Millimeter));
    }
    const qreal l = m_marginsLeft / 4 + 0.01;
    const qreal t = m_marginsTop / 4 + 0.01;
    const qreal r = m_marginsRight / 4 + 0.01;
    const qreal b = m_marginsBottom / 4 + 0.01;
    printer->setPageMargins(QMarginsF(l, t, r, b), QPageLayout::Millimeter);
    if (m_orientation == 1)
        printer->setPageMargins(QMarginsF(l, r, t, b), QPageLayout::Millimeter);

    // The page border is drawn with each printed page (drawBackground), so
    // pages after a break carry it too.
    m_border = page->border;
    m_borderColor = page->borderColor;
    m_borderWidth = page->borderWidth * kPenWidthScale;
    m_borderStyle = RptTemplate::getPenStyle(page->borderStyle);
    const QRect paper = printer->paperRect(QPrinter::DevicePixel).toRect();
    const QRect printable = printer->pageRect(QPrinter::DevicePixel).toRect();
    const QPoint origin = printable.topLeft() - paper.topLeft();
    m_borderRect = QRect(QPoint(kBorderInsetTopLeft, kBorderInsetTopLeft) - origin,
        QPoint(paper.width() - kBorderInsetBottomRight, paper.height() - kBorderInsetBottomRight)
            - origin);

    if (painting() && m_orientation != m_appliedOrientation) {
        m_painter->resetTransform();
        if (m_orientation == 1) {
            m_painter->rotate(90);
            m_painter->translate(0, -m_painter->viewport().width());
        }
    }
    m_appliedOrientation = m_orientation;

    const double w = printable.width();
    const double h = printable.height();
    const int usableH = m_pageHeight - m_marginsTop - m_marginsBottom;
    const int usableW = m_pageWidth - m_marginsLeft - m_marginsRight;
    if (m_orientation == 1) {
        m_kH = usableH > 0 ? w / usableH : 1.0;
        m_kW = usableW > 0 ? h / usableW : 1.0;
    } else {
        m_kH = usableH > 0 ? h / usableH : 1.0;
        m_kW = usableW > 0 ? w / usableW : 1.0;
    }
}

void RptDrawer::drawBackground(bool draw)
{
    if (!draw || !painting())
        return;
    m_painter->setBackgroundMode(Qt::TransparentMode);
    const QPixmap background = m_background;
    if (!background.isNull()) {
        m_painter->setOpacity(m_backgroundOpacity);
        const int w = int(m_pageWidth * m_kW - 2 * m_marginsLeft * m_kW);
        const int h = int(m_pageHeight * m_kH - 2 * m_marginsTop * m_kH);
        m_painter->drawPixmap(QRect(0, 0, w, h), background);
        m_painter->setOpacity(1.0);
    }
    if (m_border) {
        m_painter->save();
        // Paper coordinates, whatever the page's orientation transform.
        m_painter->resetTransform();
        QPen pen(m_borderColor.isValid() ? m_borderColor : QColor(Qt::black));
        pen.setWidth(m_borderWidth);
        pen.setStyle(m_borderStyle);
        m_painter->setPen(pen);
        m_painter->setBrush(Qt::NoBrush);
        m_painter->drawRect(m_borderRect);
        m_painter->restore();
    }
}

QRect RptDrawer::fieldRect(const RptFieldObject *field, int bandTop) const
{
    const int x = int(field->rect.left() * m_kW);
    const int y = int((bandTop + field->rect.top()) * m_kH);
    const int w = int((field->rect.width() - 1) * m_kW);
    int h = int(field->rect.height() * m_kH);
    if (field->autoHeight && field->parent)
        h = int(field->parent->height * m_kH);
    return QRect(x, y, w, h);
}

int RptDrawer::textFlags(const RptFieldObject *field) const
{
    int flags = int(field->aligment) | Qt::TextDontClip;
    if (field->textWrap)
        flags |= Qt::TextWordWrap;
    return flags;
}

void RptDrawer::drawField(RptFieldObject *field, int bandTop, bool draw)
{
    m_fields.setCurrentField(field);
    field->setRecNo(m_state.recNo);
    field->setReportPage(m_state.curPage);
    if (draw)
        m_fields.applyHighlighting(field);
    if (!field->parentCrossTab)
        m_host.askField(*field);
    if (!m_fields.isFieldVisible(field))
        return;
    if (field->fieldType == RptName::CrossTab)
        return;
    if (draw && !m_fields.callBeforeData(field))
        return;

    const QRect r = fieldRect(field, bandTop);
    if (!draw) {
        if (field->fieldType == RptName::Label && field->autoHeight)
            measureLabel(field, r, labelText(field));
        return;
    }

    if (m_mode == RptName::HtmlMode) {
        switch (field->fieldType) {
        case RptName::Label:
            m_htmlOut.label(field, bandTop, RptHtmlWriter::escape(labelText(field)));
            break;
        case RptName::TextRich:
            m_htmlOut.label(field, bandTop, richTextHtml(field));
            break;
        case RptName::Image:
            m_htmlOut.image(field, bandTop, fieldPicture(field));
            break;
        case RptName::LabelImage:
            m_htmlOut.image(field, bandTop, m_fields.sectionValueImage(field->value, -1));
            break;
        case RptName::DatabaseImage:
            m_htmlOut.image(field, bandTop, m_fields.sectionFieldImage(field->value, -1));
            break;
        default:
            break;
        }
        return;
    }
    if (!painting())
        return;

    QPen pen = m_painter->pen();
    pen.setWidth(field->borderWidth * m_fieldPenScale);
    pen.setStyle(RptTemplate::getPenStyle(field->borderStyle));

    if (isBoxType(field->fieldType))
        drawBox(field, r, pen);

    switch (field->fieldType) {
    case RptName::Reactangle:
    case RptName::RoundedReactangle:
    case RptName::Circle:
    case RptName::Triangle:
    case RptName::Rhombus:
        drawShape(field, r, pen);
        break;
    case RptName::LabelImage:
        drawImageInRect(m_fields.sectionValueImage(field->value, -1), r, field->aligment);
        break;
    case RptName::DatabaseImage:
        drawImageInRect(m_fields.sectionFieldImage(field->value, -1), r, field->aligment);
        break;
    case RptName::Image:
        drawPicture(field, r);
        break;
    case RptName::Diagram:
        drawChart(field, r);
        break;
    case RptName::TextRich:
        drawRichText(field, r);
        break;
    case RptName::Label:
        drawLabel(field, r, true);
        break;
    case RptName::Barcode:
        RptBarcode::draw(m_painter, r, *field, labelText(field));
        break;
    default:
        break;
    }
}

void RptDrawer::drawBox(RptFieldObject *field, const QRect &r, const QPen &pen)
{
    const QColor &bg = field->backgroundColor;
    if (!isOff(bg) && bg != kOpaqueWhite)
        m_painter->fillRect(r.adjusted(1, 1, -1, -1), bg);
    const bool top = isSideOn(field->borderTop);
    const bool bottom = isSideOn(field->borderBottom);
    const bool left = isSideOn(field->borderLeft);
    const bool right = isSideOn(field->borderRight);
    if (!(top || bottom || left || right))
        return;
    QPen sidePen = pen;
    sidePen.setColor(outlineColor(field));
    m_painter->setPen(sidePen);
    const int x = r.x();
    const int y = r.y();
    const int w = r.width();
    const int h = r.height();
    if (top)
        m_painter->drawLine(x, y, x + w, y);
    if (bottom)
        m_painter->drawLine(x, y + h, x + w, y + h);
    if (left)
        m_painter->drawLine(x, y, x, y + h);
    if (right)
        m_painter->drawLine(x + w, y, x + w, y + h);
}

void RptDrawer::drawShape(RptFieldObject *field, const QRect &r, const QPen &pen)
{
    QPen outline = pen;
    outline.setColor(outlineColor(field));
    m_painter->save();
    m_painter->setPen(outline);
    m_painter->setBrush(field->backgroundColor.isValid() ? QBrush(field->backgroundColor) : QBrush(Qt::NoBrush));
    const int x = r.x();
    const int y = r.y();
    const int w = r.width();
    const int h = r.height();
    switch (field->fieldType) {
    case RptName::Rhombus: {
        QPainterPath path;
        path.moveTo(x + w / 2, y + h - 1);
        path.lineTo(x + w, y + h / 2);
        path.lineTo(x + w / 2, y + 1);
        path.lineTo(x + 1, y + h / 2);
        path.closeSubpath();
        m_painter->drawPath(path);
        break;
    }
    case RptName::Triangle: {
        QPainterPath path;
        path.moveTo(x, y + h - 1);
        path.lineTo(x + w, y + h - 1);
        path.lineTo(x + w / 2, y);
        path.closeSubpath();
        m_painter->drawPath(path);
        break;
    }
    case RptName::RoundedReactangle:
        m_painter->drawRoundedRect(r, 40, 40);
        break;
    case RptName::Reactangle:
        m_painter->drawRect(r);
        break;
    case RptName::Circle:
        m_painter->drawEllipse(QRect(QPoint(x, y), QPoint(x + w - 1, y + h - 1)));
        break;
    default:
        break;
    }
    m_painter->restore();
}

QImage RptDrawer::fieldPicture(RptFieldObject *field)
{
    auto it = m_pictures.constFind(field);
    if (it != m_pictures.constEnd())
        return *it;
    const QImage image = QImage::fromData(field->picture, field->imgFormat.toLatin1().constData());
    m_pictures.insert(field, image);
    if (image.isNull() && field->hasPicture())
        m_fields.errors().report(field->pictureFile.isEmpty()
                ? QStringLiteral("picture does not decode as a %1 image").arg(field->imgFormat)
                : QStringLiteral("picture file %1 is not beside the template or is no image")
                      .arg(field->pictureFile));
    return image;
}

void RptDrawer::drawPicture(RptFieldObject *field, const QRect &r)
{
    const QImage image = fieldPicture(field);
    if (image.isNull() || r.isEmpty())
        return;
    if (field->ignoreAspectRatio) {
        m_painter->drawImage(r, image);
        return;
    }
    const QSize size = image.size().scaled(r.size(), Qt::KeepAspectRatio);
    m_painter->drawImage(QRect(r.topLeft(), size), image);
}

void RptDrawer::drawImageInRect(const QImage &image, const QRect &r, Qt::Alignment alignment)
{
    if (image.isNull() || r.isEmpty())
        return;
    const QSize size = image.size().scaled(r.size(), Qt::KeepAspectRatio);
    int x = r.x();
    int y = r.y();
    if (alignment & Qt::AlignHCenter)
        x += (r.width() - size.width()) / 2;
    if (alignment & Qt::AlignVCenter)
        y += (r.height() - size.height()) / 2;
    m_painter->drawImage(QRect(QPoint(x, y), size), image);
}

void RptDrawer::drawRichText(RptFieldObject *field, const QRect &r)
{
    QTextDocument doc;
    // Point sizes must map to the printer's resolution, not the screen's.
    doc.documentLayout()->setPaintDevice(m_painter->device());
    doc.setDefaultFont(m_painter->font());
    doc.setHtml(field->value);

    struct Piece
    {
        int pos;
        int length;
        QTextCharFormat format;
        QString text;
    };
    QList<Piece> pieces;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        for (QTextBlock::iterator it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment frag = it.fragment();
            if (frag.isValid() && frag.text().contains(richVariable()))
                pieces.append(Piece {frag.position(), frag.length(), frag.charFormat(), frag.text()});
        }
    }
    // From the end, so the positions of earlier fragments stay valid.
    for (int i = pieces.size() - 1; i >= 0; --i) {
        const Piece &p = pieces.at(i);
        const QString value
            = m_fields.sectionField(field->parent, p.text, true, false, field->formatString);
        QTextCursor cursor(&doc);
        cursor.setPosition(p.pos);
        cursor.setPosition(p.pos + p.length, QTextCursor::KeepAnchor);
        QString body;
        if (bodyPart(value, &body)) {
            cursor.insertHtml(body);
        } else {
            cursor.insertText(value, p.format);
        }
    }
    doc.setTextWidth(r.width() - 15);
    m_painter->save();
    m_painter->translate(r.x() + 10, r.y());
    doc.drawContents(m_painter);
    m_painter->restore();
}

QString RptDrawer::richTextHtml(RptFieldObject *field)
{
    // The template's markup is kept as written; each text run between its
    // tags that holds a variable or formula is evaluated as the painted
    // document does it. A result goes in as text, escaped, unless it carries
    // a <body> part; that part passes through the text document first, so
    // only the markup Qt understands (no scripts, no event handlers) remains.
    const QString &src = field->value;
    QString out;
    out.reserve(src.size());
    int i = 0;
    while (i < src.size()) {
        const int lt = nextTag(src, i);
        const int runEnd = lt < 0 ? src.size() : lt;
        if (runEnd > i) {
            const QString run = src.mid(i, runEnd - i);
            const QString text = decodeEntities(run);
            if (text.contains(richVariable())) {
                const QString value
                    = m_fields.sectionField(field->parent, text, true, false, field->formatString);
                QString body;
                if (!bodyPart(value, &body)) {
                    out += RptHtmlWriter::escape(value);
                } else {
                    const QLatin1String start("<!--StartFragment-->");
                    const QLatin1String end("<!--EndFragment-->");
                    const QString clean = safeRichText(body);
                    const int from = clean.indexOf(start);
                    const int to = clean.indexOf(end);
                    if (from >= 0 && to > from)
                        out += clean.midRef(from + start.size(), to - from - start.size());
                }
            } else {
                out += run;
            }
        }
        if (lt < 0)
            break;
        // A tag (or comment) of the template, copied as it stands; quoted
        // attribute values may hold '>'.
        int j = lt + 1;
        if (src.midRef(lt, 4) == QLatin1String("<!--")) {
            const int end = src.indexOf(QLatin1String("-->"), lt + 4);
            j = end < 0 ? src.size() : end + 3;
        } else {
            QChar quote;
            for (; j < src.size(); ++j) {
                const QChar c = src.at(j);
                if (!quote.isNull()) {
                    if (c == quote)
                        quote = QChar();
                } else if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
                    quote = c;
                } else if (c == QLatin1Char('>')) {
                    ++j;
                    break;
                }
            }
        }
        out += src.midRef(lt, j - lt);
        i = j;
    }
    return out;
}

void RptDrawer::drawChart(RptFieldObject *field, const QRect &r)
{
    // A chart is a graphics widget: it needs a widget application, which a
    // server host may not have. Then the field only takes its place.
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()) || r.isEmpty())
        return;
    QGraphicsScene scene;
    auto *chart = new QtCharts::QChart;
    scene.addItem(chart);
    RptChartBuilder(m_feed).build(field, chart);
    m_host.askChart(*field, *chart);
    if (chart->series().isEmpty())
        return;
    // Laid out at about screen scale (one template unit is close to a pixel
    // at 96 dpi) and scaled into the field, so fonts keep their proportions.
    const QSizeF size(qMax(field->rect.width(), 50), qMax(field->rect.height(), 50));
    chart->setGeometry(QRectF(QPointF(0, 0), size));
    scene.setSceneRect(QRectF(QPointF(0, 0), size));
    scene.render(m_painter, QRectF(r), QRectF(QPointF(0, 0), size), Qt::IgnoreAspectRatio);
}

QString RptDrawer::labelText(RptFieldObject *field)
{
    RptBandObject *band = field->parent;
    // Master data rows collect their values for the aggregates.
    const bool collect = band && band->type == RptName::MasterData && !field->parentCrossTab;
    const QString text
        = m_fields.sectionField(band, field->value, false, collect, field->formatString);
    return m_fields.callAfterData(field, text);
}

void RptDrawer::drawLabel(RptFieldObject *field, const QRect &r, bool draw)
{
    Q_UNUSED(draw)
    m_painter->setFont(field->font);
    const QString text = labelText(field);
    if (text.isEmpty())
        return;
    m_painter->setPen(field->fontColor.isValid() ? field->fontColor : QColor(Qt::black));
    const int flags = textFlags(field);
    const QRect box(QPoint(r.x(), r.y()), QPoint(r.x() + r.width() - 1, r.y() + r.height() - 1));
    if (field->rotate == 0) {
        if (!m_textLayouts.draw(m_painter, box, flags, text))
            m_painter->drawText(box, flags, text);
        return;
    }
    m_painter->save();
    m_painter->translate(QRectF(box).center());
    QRectF local;
    switch (field->rotate) {
    case 1:
        m_painter->rotate(90);
        local = QRectF(-box.height() / 2.0, -box.width() / 2.0, box.height(), box.width());
        break;
    case 2:
        m_painter->rotate(180);
        local = QRectF(-box.width() / 2.0, -box.height() / 2.0, box.width(), box.height());
        break;
    default:
        m_painter->rotate(270);
        local = QRectF(-box.height() / 2.0, -box.width() / 2.0, box.height(), box.width());
        break;
    }
    m_painter->drawText(local, flags, text);
    m_painter->restore();
}

void RptDrawer::measureLabel(RptFieldObject *field, const QRect &r, const QString &text)
{
    const QRect area(QPoint(r.x() + 10, r.y()), QPoint(r.x() + r.width() - 6, r.y() + r.height() - 1));
    QRect bounds;
    if (painting()) {
        m_painter->setFont(field->font);
        bounds = m_painter->boundingRect(area, textFlags(field), text);
    } else if (m_printer) {
        bounds = QFontMetrics(field->font, m_printer).boundingRect(area, textFlags(field), text);
    } else {
        bounds = QFontMetrics(field->font).boundingRect(area, textFlags(field), text);
    }
    // The row only ever grows: a text shorter than the band leaves it as it
    // is, and with several auto-height labels the tallest one decides.
    RptBandObject *band = field->parent;
    if (!band || m_kH <= 0)
        return;
    const int needed = int(std::lround((bounds.height() + 1) / m_kH));
    if (needed > band->height)
        band->height = needed;
}

void RptDrawer::drawLine(RptFieldObject *field, int bandTop)
{
    m_fields.setCurrentField(field);
    field->setRecNo(m_state.recNo);
    field->setReportPage(m_state.curPage);
    if (!m_fields.isFieldVisible(field) || !painting())
        return;
    const QPoint start(int(field->lineStartX * m_kW), int((bandTop + field->lineStartY) * m_kH));
    const QPoint end(int(field->lineEndX * m_kW), int((bandTop + field->lineEndY) * m_kH));
    const QColor colour = outlineColor(field);
    QPen pen = m_painter->pen();
    pen.setWidth(field->borderWidth * m_fieldPenScale);
    pen.setStyle(RptTemplate::getPenStyle(field->borderStyle));
    pen.setColor(colour);
    m_painter->save();
    m_painter->setPen(pen);
    m_painter->drawLine(start, end);
    if (field->arrowStart || field->arrowEnd) {
        const double l = std::trunc(10 * m_kW);
        const double dx = end.x() - start.x();
        const double dy = end.y() - start.y();
        const double length = std::sqrt(dx * dx + dy * dy);
        if (length > 0) {
            double angle = std::acos(dx / length);
            if (end.y() >= start.y())
                angle = 2 * M_PI - angle;
            m_painter->setPen(QPen(colour));
            m_painter->setBrush(colour);
            if (field->arrowStart) {
                const QPointF p1 = QPointF(start) + QPointF(std::sin(angle + M_PI / 3) * l, std::cos(angle + M_PI / 3) * l);
                const QPointF p2 = QPointF(start)
                    + QPointF(std::sin(angle + M_PI - M_PI / 3) * l, std::cos(angle + M_PI - M_PI / 3) * l);
                m_painter->drawPolygon(QPolygonF() << QPointF(start) << p1 << p2);
            }
            if (field->arrowEnd) {
                const QPointF p1 = QPointF(end) + QPointF(std::sin(angle - M_PI / 3) * l, std::cos(angle - M_PI / 3) * l);
                const QPointF p2 = QPointF(end)
                    + QPointF(std::sin(angle - M_PI + M_PI / 3) * l, std::cos(angle - M_PI + M_PI / 3) * l);
                m_painter->drawPolygon(QPolygonF() << QPointF(end) << p1 << p2);
            }
        }
    }
    m_painter->restore();
}
