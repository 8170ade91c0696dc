#pragma once

#include "suppliertimerecord.h"

#include <QDate>
#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QVector>

// Decides which send slot of its supplier an orderable is due for at one
// moment. It works on values only (the slots as stored, the skip-day flags,
// the holiday calendar and the tick's moment), so the same decision can be
// made by any worker, in any thread, and checked without a database.
//
// A supplier's slots are kept in chronological order of their send moment
// (stored `daysto` descending, then send time, then slot id, so that slots
// with equal days and time still have one fixed order). An orderable is due
// for the most recent passed slot when that slot comes after the one stored
// in its `sent` column, or when the stored slot is not one of the supplier's
// slots (never sent, or the slot was deleted since). A slot that comes at or
// before the stored one never makes it due again, however working days and
// free days shift the send days from one day to the next.
class SendSlotRule
{
public:
    SendSlotRule() = default;
    SendSlotRule(QVector<SupplierTimeRecord> storedSlots, const QHash<uint, bool> &skipFreeDays,
        const QSet<QDate> &holidays, const QDateTime &now);

    // The slots of all suppliers in chronological order, with `daysto` in
    // calendar days counted from the moment's date.
    const QVector<SupplierTimeRecord> &orderedSlots() const { return ordered; }
    QDateTime moment() const { return at; }

    // The slot an orderable of `supplierID` for `mealDay`, last sent for
    // slot `sent` (0 when never), is due for now; -1 when nothing is due.
    qint32 dueSlot(qint32 supplierID, const QDate &mealDay, qint32 sent) const;

    // `workingDays` working days ahead of `from` (Monday to Friday, not in
    // `holidays`), as a number of calendar days; 0 for 0 or less.
    static int calendarDays(int workingDays, const QDate &from, const QSet<QDate> &holidays);

private:
    bool passed(const SupplierTimeRecord &slot, const QDate &mealDay) const;

    QDateTime at;
    QVector<SupplierTimeRecord> ordered;
    // Positions in `ordered` of each supplier's slots, earliest first.
    QHash<qint32, QVector<int>> bySupplier;
};
