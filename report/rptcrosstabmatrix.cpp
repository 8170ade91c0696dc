#include "rptcrosstabmatrix.h"

#include "rptcrosstabobject.h"
#include "rptfieldobject.h"

#include <QtGlobal>

namespace {
// A running sum of cell values that remembers whether it met numbers and
// texts: a column of texts (the row captions) has no total to show.
struct CellSum
{
    double sum = 0;
    bool numbers = false;
    bool texts = false;

    void add(const RptFieldObject *cell)
    {
        const QString text = cell ? cell->value.trimmed() : QString();
        if (text.isEmpty())
            return;
        bool ok = false;
        const double v = text.toDouble(&ok);
        if (ok) {
            sum += v;
            numbers = true;
        } else {
            texts = true;
        }
    }
    QString result() const
    {
        return texts && !numbers ? QString() : QString::number(sum, 'g', 6);
    }
};
} // namespace

void RptCrossTabMatrix::fillCells(RptCrossTabObject *tab)
{
    const int cols = tab->colCount();
    const int rows = tab->rowCount();
    if (cols <= 0 || rows <= 0)
        return;
    const RptFieldObject *owner = tab->owner;
    const QRect area = owner ? owner->rect : tab->rect;
    const int defaultWidth = area.width() / cols;
    QList<int> widths;
    for (int c = 0; c < cols; ++c) {
        const int w = c < tab->columns.size() ? tab->columns.at(c).width : 0;
        widths.append(w != 0 ? w : defaultWidth);
    }
    for (int r = 0; r < rows; ++r) {
        int left = area.left();
        for (int c = 0; c < cols; ++c) {
            auto *cell = new RptFieldObject;
            cell->setObjectName(QStringLiteral("f%1%2").arg(c).arg(r));
            cell->rect = QRect(left, area.top() + r * tab->rowHeight(), widths.at(c), tab->rowHeight());
            left += widths.at(c);
            // Cells look like the cross-tab field: its font, colours, sides
            // and format, so the template styles the whole table in one place.
            if (owner) {
                cell->parent = owner->parent;
                cell->font = owner->font;
                cell->fontColor = owner->fontColor;
                cell->borderColor = owner->borderColor;
                cell->borderTop = owner->borderTop;
                cell->borderBottom = owner->borderBottom;
                cell->borderLeft = owner->borderLeft;
                cell->borderRight = owner->borderRight;
                cell->borderWidth = owner->borderWidth;
                cell->borderStyle = owner->borderStyle;
                cell->backgroundColor = owner->backgroundColor;
                cell->formatString = owner->formatString;
            }
            cell->fieldType = RptName::Label;
            cell->printing = QStringLiteral("1");
            tab->addField(cell);
            if (isHeaderCell(tab, cell)) {
                cell->backgroundColor = tab->headerBackgroundColor;
                cell->value = header(tab, cell);
                cell->aligment = Qt::AlignHCenter | Qt::AlignVCenter;
            } else if (isTotalCell(tab, cell)) {
                cell->backgroundColor = tab->totalBackgroundColor;
                cell->aligment = Qt::AlignHCenter | Qt::AlignVCenter;
            } else {
                cell->aligment = Qt::AlignLeft | Qt::AlignVCenter;
            }
            cell->defaultBackgroundColor = cell->backgroundColor;
            cell->defaultFontColor = cell->fontColor;
        }
    }
}

int RptCrossTabMatrix::cellRow(const RptCrossTabObject *tab, const RptFieldObject *cell)
{
    const int i = tab->fields.indexOf(const_cast<RptFieldObject *>(cell));
    return i < 0 || tab->colCount() <= 0 ? -1 : i / tab->colCount();
}

int RptCrossTabMatrix::cellCol(const RptCrossTabObject *tab, const RptFieldObject *cell)
{
    const int i = tab->fields.indexOf(const_cast<RptFieldObject *>(cell));
    return i < 0 || tab->colCount() <= 0 ? -1 : i % tab->colCount();
}

int RptCrossTabMatrix::part(const RptCrossTabObject *tab, int row)
{
    const int size = tab->rowsPerPart();
    return size <= 0 ? 0 : row / size;
}

RptCrossTabMatrix::Role RptCrossTabMatrix::rowRole(const RptCrossTabObject *tab, int row)
{
    const int rows = tab->rowCount();
    if (tab->isTotalByColumnVisible() && row == rows - 1)
        return Total;
    const int last = rows - 1 - (tab->isTotalByColumnVisible() ? 1 : 0);
    const int size = tab->rowsPerPart();
    const int pos = size <= 0 ? row : row % size;
    if (tab->isHeaderVisible() && pos == 0)
        return Header;
    if (tab->isSubTotalVisible() && (row == last || (size > 0 && pos == size - 1)))
        return Subtotal;
    return Data;
}

int RptCrossTabMatrix::dataRow(const RptCrossTabObject *tab, int row)
{
    if (rowRole(tab, row) != Data)
        return -1;
    const int size = tab->rowsPerPart();
    const int header = tab->isHeaderVisible() ? 1 : 0;
    if (size <= 0)
        return row - header;
    return part(tab, row) * tab->dataRowsPerPart() + row % size - header;
}

bool RptCrossTabMatrix::isHeaderCell(const RptCrossTabObject *tab, const RptFieldObject *cell)
{
    const int row = cellRow(tab, cell);
    return row >= 0 && rowRole(tab, row) == Header;
}

bool RptCrossTabMatrix::isTotalCell(const RptCrossTabObject *tab, const RptFieldObject *cell)
{
    const int row = cellRow(tab, cell);
    if (row < 0)
        return false;
    const Role role = rowRole(tab, row);
    if (role == Header)
        return false;
    if (role == Total || role == Subtotal)
        return true;
    return tab->isTotalByRowVisible() && cellCol(tab, cell) == tab->colCount() - 1;
}

QString RptCrossTabMatrix::header(const RptCrossTabObject *tab, const RptFieldObject *cell)
{
    const int col = cellCol(tab, cell);
    if (col >= 0 && col < tab->columns.size())
        return tab->columns.at(col).caption;
    return QString();
}

QString RptCrossTabMatrix::total(const RptCrossTabObject *tab, const RptFieldObject *cell)
{
    const int row = cellRow(tab, cell);
    const int col = cellCol(tab, cell);
    if (row < 0 || rowRole(tab, row) == Header)
        return QString();
    const int cols = tab->colCount();
    CellSum sum;
    if (tab->isTotalByRowVisible() && col == cols - 1) {
        for (int c = 0; c < cols - 1; ++c)
            sum.add(tab->fields.value(row * cols + c));
    } else {
        const Role role = rowRole(tab, row);
        const int rows = tab->fields.size() / cols;
        for (int r = 0; r < rows; ++r) {
            if (rowRole(tab, r) != Data)
                continue;
            if (role == Subtotal && part(tab, r) != part(tab, row))
                continue;
            sum.add(tab->fields.value(r * cols + col));
        }
    }
    return sum.result();
}
