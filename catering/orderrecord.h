#pragma once

#include <QDate>
#include <QString>
#include <QVariant>

// One due orderable: a food offered for one segment, branch and day, with
// the sum of its ordered portions and the send slot it is due for.
struct OrderRecord
{
    quint32 orderableID = 0;
    quint32 supplierID = 0;
    quint32 segmentID = 0;
    QDate date;
    qint32 bid = 0;
    QString name;
    qint32 quantity = 0;
    QString segmentName;
    QString supplierName;
    qint32 proMailDelayID = -1; // -1: due for no slot
    // The `sent` the tick read (NULL: never sent); the mark is written only
    // while the row still holds it, so two hosts never mail one slot twice.
    QVariant sentBefore;
};
