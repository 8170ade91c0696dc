#include "rptdatafeed.h"

#include "rptcrosstabobject.h"
#include "rptdatasets.h"
#include "rptfieldevaluator.h"
#include "rptfieldobject.h"
#include "rptrunstate.h"

RptDataFeed::RptDataFeed(RptFieldEvaluator &fields, const RptDataSets &dataSets, RptRunState &state)
    : m_fields(fields)
    , m_dataSets(dataSets)
    , m_state(state)
{
}

int RptDataFeed::count(const QString &dataSet) const
{
    if (dataSet.isEmpty())
        return 0;
    return qMax(0, m_dataSets.getRecCount(m_state.curPage, dataSet));
}

QString RptDataFeed::value(
    RptBandObject *band, const QString &dataSet, int recNo, const QString &text)
{
    const int recNoBefore = m_state.recNo;
    const QString dataSetBefore = m_state.dataSet;
    m_state.recNo = recNo;
    m_state.dataSet = dataSet;
    const QString result = m_fields.sectionField(band, text, false, false, QString());
    m_state.recNo = recNoBefore;
    m_state.dataSet = dataSetBefore;
    return result;
}

bool RptDataFeed::setRows(RptCrossTabObject *tab) const
{
    const int records = tab ? count(tab->dataSourceName) : 0;
    if (records <= 0)
        return false;
    tab->setRowCount(records);
    return true;
}

void RptDataFeed::fillCell(RptCrossTabObject *tab, RptFieldObject *cell)
{
    if (!tab || !cell)
        return;
    const int records = count(tab->dataSourceName);
    const int row = tab->fieldRow(cell);
    const int col = tab->fieldCol(cell);
    if (row < 0 || row >= records || col < 0 || col >= tab->columns.size())
        return;
    RptBandObject *band = tab->owner ? tab->owner->parent : nullptr;
    // Unformatted, so the totals add up numbers; the cell applies the
    // cross-tab's format when it prints.
    cell->value = value(band, tab->dataSourceName, row, tab->columns.at(col).value);
}
