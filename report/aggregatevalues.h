#pragma once

#include <QString>
#include <QVariant>

// One collected value of a data variable; the aggregate functions work on
// the list of these that an engine gathers during a print run.
struct AggregateValues
{
    QString paramName;
    QVariant paramValue;
    int lnNo = 0;
    int reportPage = 0;
};
