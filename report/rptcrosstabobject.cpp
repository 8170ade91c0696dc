#include "rptcrosstabobject.h"

#include "rptcolor.h"
#include "rptcrosstabmatrix.h"
#include "rptfieldobject.h"

namespace {
int ceilDiv(int a, int b)
{
    return b <= 0 ? 0 : (a + b - 1) / b;
}
} // namespace

RptCrossTabObject::~RptCrossTabObject()
{
    clearFields();
}

void RptCrossTabObject::clearFields()
{
    qDeleteAll(fields);
    fields.clear();
    elements.clear();
    m_matrixBuilt = false;
}

void RptCrossTabObject::loadParamFromXML(const QDomElement &e)
{
    dataSourceName = e.attribute(QStringLiteral("dataSourceName"));
    totalBackgroundColor = colorFromString(
        e.attribute(QStringLiteral("totalBackgroundColor"), QStringLiteral("rgba(255,255,255,255)")));
    headerBackgroundColor = colorFromString(
        e.attribute(QStringLiteral("headerBackgroundColor"), QStringLiteral("rgba(255,255,255,255)")));
    m_colCount = e.attribute(QStringLiteral("colCount"), QStringLiteral("3")).toInt();
    m_rowHeight = e.attribute(QStringLiteral("rowHeight"), QStringLiteral("20")).toInt();
    m_totalByRowVisible = e.attribute(QStringLiteral("totalByRowVisible"), QStringLiteral("1")).toInt() != 0;
    m_totalByColVisible = e.attribute(QStringLiteral("totalByColVisible"), QStringLiteral("1")).toInt() != 0;
    m_subTotalVisible = e.attribute(QStringLiteral("subtotalIsVisible"), QStringLiteral("0")).toInt() != 0;
    m_headerVisible = e.attribute(QStringLiteral("headerIsVisible"), QStringLiteral("0")).toInt() != 0;
    columns.clear();
    captions.clear();
    for (QDomElement c = e.firstChildElement(); !c.isNull(); c = c.nextSiblingElement()) {
        ColumnParameters col;
        col.caption = c.attribute(QStringLiteral("caption"));
        col.value = c.attribute(QStringLiteral("value"));
        col.width = c.attribute(QStringLiteral("width"), QStringLiteral("0")).toInt();
        columns.append(col);
        captions.append(col.caption);
    }
}

void RptCrossTabObject::saveParamToXML(QDomElement &e) const
{
    e.setAttribute(QStringLiteral("dataSourceName"), dataSourceName);
    e.setAttribute(QStringLiteral("totalBackgroundColor"), colorToString(totalBackgroundColor));
    e.setAttribute(QStringLiteral("headerBackgroundColor"), colorToString(headerBackgroundColor));
    e.setAttribute(QStringLiteral("colCount"), m_colCount);
    e.setAttribute(QStringLiteral("rowHeight"), m_rowHeight);
    e.setAttribute(QStringLiteral("totalByRowVisible"), int(m_totalByRowVisible));
    e.setAttribute(QStringLiteral("totalByColVisible"), int(m_totalByColVisible));
    e.setAttribute(QStringLiteral("subtotalIsVisible"), int(m_subTotalVisible));
    e.setAttribute(QStringLiteral("headerIsVisible"), int(m_headerVisible));
    QDomDocument doc = e.ownerDocument();
    for (const ColumnParameters &col : columns) {
        QDomElement c = doc.createElement(QStringLiteral("Column"));
        c.setAttribute(QStringLiteral("caption"), col.caption);
        c.setAttribute(QStringLiteral("value"), col.value);
        c.setAttribute(QStringLiteral("width"), col.width);
        e.appendChild(c);
    }
}

RptCrossTabObject *RptCrossTabObject::cloneParameters() const
{
    auto *c = new RptCrossTabObject;
    c->rect = rect;
    c->captions = captions;
    c->dataSourceName = dataSourceName;
    c->totalBackgroundColor = totalBackgroundColor;
    c->headerBackgroundColor = headerBackgroundColor;
    c->columns = columns;
    c->m_colCount = m_colCount;
    c->m_rowCount = m_rowCount;
    c->m_rowHeight = m_rowHeight;
    c->m_totalByRowVisible = m_totalByRowVisible;
    c->m_totalByColVisible = m_totalByColVisible;
    c->m_subTotalVisible = m_subTotalVisible;
    c->m_headerVisible = m_headerVisible;
    return c;
}

int RptCrossTabObject::visibleRowCount() const
{
    if (m_rowHeight <= 0 || !owner)
        return 0;
    return owner->rect.height() / m_rowHeight;
}

int RptCrossTabObject::dataRowsPerPart() const
{
    const int v = visibleRowCount();
    if (v <= 0)
        return 0;
    // A page too low for its header and subtotal still shows one data row.
    return qMax(1, v - (m_headerVisible ? 1 : 0) - (m_subTotalVisible ? 1 : 0));
}

int RptCrossTabObject::rowsPerPart() const
{
    const int d = dataRowsPerPart();
    if (d <= 0)
        return qMax(0, m_rowCount - (m_totalByColVisible ? 1 : 0));
    return d + (m_headerVisible ? 1 : 0) + (m_subTotalVisible ? 1 : 0);
}

void RptCrossTabObject::setRowCount(int n)
{
    const int d = dataRowsPerPart();
    const int dataParts = n <= 0 ? 0 : (d <= 0 ? 1 : ceilDiv(n, d));
    m_rowCount = qMax(0, n);
    if (m_subTotalVisible)
        m_rowCount += dataParts;
    if (m_headerVisible)
        m_rowCount += dataParts;
    if (m_totalByColVisible)
        m_rowCount += 1;
}

int RptCrossTabObject::parts() const
{
    const int size = rowsPerPart();
    if (visibleRowCount() <= 0 || size <= 0)
        return 1;
    return qMax(1, ceilDiv(m_rowCount, size));
}

void RptCrossTabObject::addField(RptFieldObject *field)
{
    field->parentCrossTab = this;
    fields.append(field);
}

void RptCrossTabObject::buildMatrix()
{
    clearFields();
    RptCrossTabMatrix::fillCells(this);
    m_matrixBuilt = true;
}

int RptCrossTabObject::fieldRow(RptFieldObject *field, bool raw) const
{
    const int row = RptCrossTabMatrix::cellRow(this, field);
    return raw || row < 0 ? row : RptCrossTabMatrix::dataRow(this, row);
}

int RptCrossTabObject::fieldCol(RptFieldObject *field) const
{
    return RptCrossTabMatrix::cellCol(this, field);
}

bool RptCrossTabObject::isHeaderField(RptFieldObject *field) const
{
    return RptCrossTabMatrix::isHeaderCell(this, field);
}

bool RptCrossTabObject::isTotalField(RptFieldObject *field) const
{
    return RptCrossTabMatrix::isTotalCell(this, field);
}

QString RptCrossTabObject::header(RptFieldObject *field) const
{
    return RptCrossTabMatrix::header(this, field);
}

QString RptCrossTabObject::total(RptFieldObject *field) const
{
    return RptCrossTabMatrix::total(this, field);
}
