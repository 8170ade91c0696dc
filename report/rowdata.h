#pragma once

#include <QVariant>

// A record's grouping values at levels 0..2; the layout sorts these to form groups.
struct RowData
{
    int recNo = 0;
    QVariant values[3];
};
