#include "rptfieldobject.h"

#include "rptbandobject.h"
#include "rptcolor.h"
#include "rptcrosstabobject.h"
#include "rptpageobject.h"
#include "rptpicturefile.h"
#include "rpttemplate.h"

#include <QApplication>

namespace {
bool boolAttr(const QDomElement &e, const QString &name, const QString &def)
{
    return e.attribute(name, def).toInt() != 0;
}
} // namespace

RptFieldObject::RptFieldObject(QObject *parent)
    : QObject(parent)
{
    font = QFont(QApplication::font().family(), 12);
    borderTop = borderBottom = borderLeft = borderRight = Qt::black;
    borderColor = Qt::black;
    borderStyle = QStringLiteral("solid");
    fontColor = Qt::black;
    backgroundColor = Qt::white;
    defaultFontColor = fontColor;
    defaultBackgroundColor = backgroundColor;
    aligment = Qt::AlignLeft | Qt::AlignVCenter;
    printing = QStringLiteral("1");
    imgFormat = QStringLiteral("PNG");
}

RptFieldObject::~RptFieldObject()
{
    delete crossTab;
}

bool RptFieldObject::hasPicture() const
{
    // "text" is what the designer writes for no picture.
    static const QByteArray none = QByteArray::fromBase64("text");
    return !pictureFile.isEmpty() || (!picture.isEmpty() && picture != none);
}

void RptFieldObject::setProperty(const QDomElement &e)
{
    setObjectName(e.attribute(QStringLiteral("name")));
    value = e.attribute(QStringLiteral("value"));
    rect = QRect(e.attribute(QStringLiteral("left")).toInt(),
        e.attribute(QStringLiteral("top")).toInt(), e.attribute(QStringLiteral("width")).toInt(),
        e.attribute(QStringLiteral("height")).toInt());
    borderTop = colorFromString(e.attribute(QStringLiteral("borderTop")));
    borderBottom = colorFromString(e.attribute(QStringLiteral("borderBottom")));
    borderLeft = colorFromString(e.attribute(QStringLiteral("borderLeft")));
    borderRight = colorFromString(e.attribute(QStringLiteral("borderRight")));
    QString bw = e.attribute(QStringLiteral("borderWidth"), QStringLiteral("1"));
    if (bw.endsWith(QLatin1String("px")))
        bw.chop(2);
    borderWidth = bw.trimmed().toInt();
    borderStyle = e.attribute(QStringLiteral("borderStyle"), QStringLiteral("solid"));
    borderColor = colorFromString(e.attribute(QStringLiteral("borderColor")));
    rotate = e.attribute(QStringLiteral("rotate"), QStringLiteral("0")).toInt();
    aligment = RptTemplate::getAligment(e);
    autoHeight = boolAttr(e, QStringLiteral("autoHeight"), QStringLiteral("0"));
    textWrap = boolAttr(e, QStringLiteral("textWrap"), QStringLiteral("1"));

    font = QFont();
    if (e.hasAttribute(QStringLiteral("fontFamily")))
        font.setFamily(e.attribute(QStringLiteral("fontFamily")));
    const int pointSize = e.attribute(QStringLiteral("fontSize")).toInt();
    if (pointSize > 0)
        font.setPointSize(pointSize);
    font.setWeight(boolAttr(e, QStringLiteral("fontBold"), QStringLiteral("0")) ? 75 : 50);
    font.setItalic(boolAttr(e, QStringLiteral("fontItalic"), QStringLiteral("0")));
    font.setUnderline(boolAttr(e, QStringLiteral("fontUnderline"), QStringLiteral("0")));
    font.setStrikeOut(boolAttr(e, QStringLiteral("fontStrikeout"), QStringLiteral("0")));

    fontColor = colorFromString(e.attribute(QStringLiteral("fontColor")));
    backgroundColor = colorFromString(e.attribute(QStringLiteral("backgroundColor")));
    defaultFontColor = fontColor;
    defaultBackgroundColor = backgroundColor;
    highlighting = e.attribute(QStringLiteral("highlighting"));
    printing = e.attribute(QStringLiteral("printing"), QStringLiteral("1"));
    formatString = e.attribute(QStringLiteral("format"));
    imgFormat = e.attribute(QStringLiteral("imgFormat"), QStringLiteral("PNG"));
    const QString pictureText = e.attribute(QStringLiteral("picture"), QStringLiteral("text"));
    pictureFile.clear();
    picture = QByteArray::fromBase64(pictureText.toLatin1());
    if (RptPictureFile::isFileName(pictureText)) {
        pictureFile = pictureText.trimmed();
        picture.clear();
    }
    ignoreAspectRatio = boolAttr(e, QStringLiteral("ignoreAspectRatio"), QStringLiteral("1"));
    barcodeType = e.attribute(QStringLiteral("barcodeType"), QStringLiteral("13")).toInt();
    barcodeFrameType = e.attribute(QStringLiteral("barcodeFrameType"), QStringLiteral("0")).toInt();
    barcodeHeight = e.attribute(QStringLiteral("barcodeHeight"), QStringLiteral("50")).toInt();
    lineStartX = e.attribute(QStringLiteral("lineStartX")).toInt();
    lineEndX = e.attribute(QStringLiteral("lineEndX")).toInt();
    lineStartY = e.attribute(QStringLiteral("lineStartY")).toInt();
    lineEndY = e.attribute(QStringLiteral("lineEndY")).toInt();
    arrowStart = boolAttr(e, QStringLiteral("arrowStart"), QStringLiteral("0"));
    arrowEnd = boolAttr(e, QStringLiteral("arrowEnd"), QStringLiteral("0"));
    fieldType = RptTemplate::getFieldType(e);
    line = e.lineNumber() > 0 ? e.lineNumber() : 0;
    column = e.columnNumber() > 0 ? e.columnNumber() : 0;

    chartAttributes.clear();
    chartSeries.clear();
    if (fieldType == RptName::Diagram) {
        static const char *const names[]
            = { "caption", "showLegend", "staticChart", "titleFont", "legendFont", "colorLegend",
                  "colorBackground", "colorTitle", "legendAligment", "chartType" };
        for (const char *n : names) {
            const QString key = QLatin1String(n);
            if (e.hasAttribute(key))
                chartAttributes.insert(key, e.attribute(key));
        }
        for (QDomElement s = e.firstChildElement(); !s.isNull(); s = s.nextSiblingElement()) {
            QVariantMap series;
            const QDomNamedNodeMap attrs = s.attributes();
            for (int i = 0; i < attrs.count(); ++i) {
                const QDomAttr a = attrs.item(i).toAttr();
                series.insert(a.name(), a.value());
            }
            chartSeries.append(series);
        }
    }

    delete crossTab;
    crossTab = nullptr;
    if (fieldType == RptName::CrossTab) {
        crossTab = new RptCrossTabObject;
        crossTab->owner = this;
        crossTab->rect = rect;
        crossTab->loadParamFromXML(e);
    }
}

RptFieldObject *RptFieldObject::clone() const
{
    auto *f = new RptFieldObject;
    f->setObjectName(objectName());
    f->value = value;
    f->rect = rect;
    f->borderTop = borderTop;
    f->borderBottom = borderBottom;
    f->borderLeft = borderLeft;
    f->borderRight = borderRight;
    f->borderWidth = borderWidth;
    f->borderStyle = borderStyle;
    f->borderColor = borderColor;
    f->rotate = rotate;
    f->aligment = aligment;
    f->autoHeight = autoHeight;
    f->textWrap = textWrap;
    f->font = font;
    f->fontColor = fontColor;
    f->backgroundColor = backgroundColor;
    f->defaultFontColor = defaultFontColor;
    f->defaultBackgroundColor = defaultBackgroundColor;
    f->highlighting = highlighting;
    f->printing = printing;
    f->formatString = formatString;
    f->imgFormat = imgFormat;
    f->picture = picture;
    f->pictureFile = pictureFile;
    f->line = line;
    f->column = column;
    f->ignoreAspectRatio = ignoreAspectRatio;
    f->barcodeType = barcodeType;
    f->barcodeFrameType = barcodeFrameType;
    f->barcodeHeight = barcodeHeight;
    f->lineStartX = lineStartX;
    f->lineEndX = lineEndX;
    f->lineStartY = lineStartY;
    f->lineEndY = lineEndY;
    f->arrowStart = arrowStart;
    f->arrowEnd = arrowEnd;
    f->fieldType = fieldType;
    f->visible = visible;
    f->chartAttributes = chartAttributes;
    f->chartSeries = chartSeries;
    f->m_recNo = m_recNo;
    f->m_reportPage = m_reportPage;
    if (crossTab) {
        f->crossTab = crossTab->cloneParameters();
        f->crossTab->owner = f;
    }
    return f;
}
