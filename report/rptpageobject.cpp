#include "rptpageobject.h"

#include "rptbandobject.h"
#include "rptcolor.h"
#include "rptcrosstabobject.h"
#include "rptdsabstract.h"
#include "rptfieldobject.h"
#include "rptsql.h"

#include <QImage>

RptPageObject::RptPageObject(QObject *parent)
    : QObject(parent)
{
}

RptPageObject::~RptPageObject()
{
    qDeleteAll(bands);
    delete m_sqlSource;
    delete m_otherSource;
}

void RptPageObject::setProperty(const QDomElement &e)
{
    m_element = e;
    pageNo = e.attribute(QStringLiteral("pageNo")).toInt();
    orientation = e.attribute(QStringLiteral("orientation")).toInt();
    pageHeight = e.attribute(QStringLiteral("pageHeight")).toInt();
    pageWidth = e.attribute(QStringLiteral("pageWidth")).toInt();
    marginsLeft = e.attribute(QStringLiteral("marginsLeft")).toInt();
    marginsRight = e.attribute(QStringLiteral("marginsRight")).toInt();
    marginsTop = e.attribute(QStringLiteral("marginsTop")).toInt();
    marginsBottom = e.attribute(QStringLiteral("marginsBottom")).toInt();
    border = e.attribute(QStringLiteral("border")).toInt() != 0;
    borderWidth = e.attribute(QStringLiteral("borderWidth")).toInt();
    borderColor = colorFromString(e.attribute(QStringLiteral("borderColor")));
    borderStyle = e.attribute(QStringLiteral("borderStyle"));
    watermark = e.attribute(QStringLiteral("watermark"), QStringLiteral("0")).toInt() != 0;
    watermarkOpacity
        = e.attribute(QStringLiteral("watermarkOpacity"), QStringLiteral("0.5")).toFloat();
    watermarkPixmap = QPixmap();
    const QByteArray wm
        = QByteArray::fromBase64(e.attribute(QStringLiteral("watermarkPixmap")).toLatin1());
    // Pixmaps belong to the GUI thread; workers load templates without a
    // watermark, so only touch QPixmap when there is one.
    if (!wm.isEmpty())
        watermarkPixmap = QPixmap::fromImage(QImage::fromData(wm, "PNG"));
    for (QDomElement b = e.firstChildElement(QStringLiteral("ReportBand")); !b.isNull();
         b = b.nextSiblingElement(QStringLiteral("ReportBand"))) {
        auto *band = new RptBandObject;
        addBand(band);
        band->setProperty(b);
    }
}

void RptPageObject::addBand(RptBandObject *band)
{
    band->parent = this;
    bands.append(band);
}

RptPageObject *RptPageObject::clone() const
{
    auto *p = new RptPageObject;
    p->pageNo = pageNo;
    p->orientation = orientation;
    p->pageHeight = pageHeight;
    p->pageWidth = pageWidth;
    p->marginsLeft = marginsLeft;
    p->marginsRight = marginsRight;
    p->marginsTop = marginsTop;
    p->marginsBottom = marginsBottom;
    p->border = border;
    p->borderWidth = borderWidth;
    p->borderColor = borderColor;
    p->borderStyle = borderStyle;
    p->watermark = watermark;
    p->watermarkOpacity = watermarkOpacity;
    p->watermarkPixmap = watermarkPixmap;
    p->visible = visible;
    p->userSqlConnection = userSqlConnection;
    p->m_totalPages = m_totalPages;
    p->m_element = m_element;
    for (RptBandObject *b : bands)
        p->addBand(b->clone());
    return p;
}

RptBandObject *RptPageObject::getBand(RptName::BandType type, int bandNo, int groupLevel) const
{
    for (RptBandObject *b : bands) {
        if (b->type != type || b->bandNo != bandNo)
            continue;
        if (type == RptName::DataGroupFooter && b->groupLevel != groupLevel)
            continue;
        return b;
    }
    return nullptr;
}

int RptPageObject::bandsCountByType(RptName::BandType type) const
{
    int highest = 0;
    for (RptBandObject *b : bands) {
        if (b->type == type)
            highest = qMax(highest, b->bandNo);
    }
    return highest;
}

RptFieldObject *RptPageObject::findFieldObjectByName(const QString &name) const
{
    for (RptBandObject *b : bands) {
        for (RptFieldObject *f : b->fields) {
            if (f->objectName() == name)
                return f;
        }
    }
    return nullptr;
}

QList<RptFieldObject *> RptPageObject::crossTabs() const
{
    QList<RptFieldObject *> list;
    for (RptBandObject *b : bands) {
        for (RptFieldObject *f : b->fields) {
            if (f->fieldType == RptName::CrossTab)
                list.append(f);
        }
    }
    return list;
}

int RptPageObject::crossTabParts() const
{
    const QList<RptFieldObject *> tabs = crossTabs();
    if (tabs.isEmpty() || !tabs.first()->crossTab)
        return 0;
    return tabs.first()->crossTab->parts();
}

void RptPageObject::initCrossTabProcessedRows()
{
    for (RptFieldObject *f : crossTabs()) {
        if (f->crossTab)
            f->crossTab->setProcessedCount(0);
    }
}

void RptPageObject::setSqlSource(RptSql *source)
{
    if (m_sqlSource != source)
        delete m_sqlSource;
    m_sqlSource = source;
}

void RptPageObject::setOtherSource(RptDsAbstract *source)
{
    if (m_otherSource != source)
        delete m_otherSource;
    m_otherSource = source;
}
