#pragma once

#include <QString>

class RptBandObject;
class RptCrossTabObject;
class RptDataSets;
class RptFieldEvaluator;
class RptFieldObject;
struct RptRunState;

// Reads the records of a named data set for the fields that show more than
// one record at a time: a cross-tab's rows and a chart's points. Whatever
// answers the page's variables answers these too (an inline, SQL or plug-in
// source of that name, else the caller, who learns the data set through
// RptEngine::dataSetName() while its setValue slot runs).
//
// A cross-tab or series without a data set name, or whose data set has no
// records, is left to the caller as before: the caller's row count and cell
// values always come after the data's, so a caller may change them.
class RptDataFeed
{
public:
    // All must outlive the feed.
    RptDataFeed(RptFieldEvaluator &fields, const RptDataSets &dataSets, RptRunState &state);

    // The records of the data set on the page being processed; 0 for an
    // empty name or a data set nobody answered.
    int count(const QString &dataSet) const;
    // A value text (data variables, formulas) for record recNo of the data
    // set, as a field of band would print it, unformatted and not collected
    // for the aggregates. The run's record and data set are restored after.
    QString value(RptBandObject *band, const QString &dataSet, int recNo, const QString &text);

    // Counting pass: one matrix data row per record of the cross-tab's data
    // set. False (and nothing changed) when the data set has no records.
    bool setRows(RptCrossTabObject *tab) const;
    // Drawing pass: a data cell's value, its column's value text for the
    // cell's record. Nothing changes for other cells or without records.
    void fillCell(RptCrossTabObject *tab, RptFieldObject *cell);

private:
    RptFieldEvaluator &m_fields;
    const RptDataSets &m_dataSets;
    RptRunState &m_state;
};
