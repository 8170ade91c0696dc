#pragma once

#include <QTime>

// One send slot of a supplier: orders for a meal day go out `daysto` days
// before it at `sendtime`. After loading, `daysto` counts calendar days.
struct SupplierTimeRecord
{
    qint32 proMailDelayID = 0;
    qint32 supplierID = 0;
    qint32 daysto = 0;
    QTime sendtime; // invalid when the column is NULL
};
