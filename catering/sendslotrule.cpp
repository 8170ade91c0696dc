#include "sendslotrule.h"

#include <algorithm>

namespace {
// A NULL send time counts as the start of the day, as the server sorts it first.
int sendMsecs(const SupplierTimeRecord &slot)
{
    return slot.sendtime.isValid() ? slot.sendtime.msecsSinceStartOfDay() : -1;
}
} // namespace

SendSlotRule::SendSlotRule(QVector<SupplierTimeRecord> storedSlots,
    const QHash<uint, bool> &skipFreeDays, const QSet<QDate> &holidays, const QDateTime &now)
    : at(now)
    , ordered(std::move(storedSlots))
{
    // Sorted on the stored working or calendar days: the conversion below is
    // monotonic, so the order holds for the converted days as well.
    std::stable_sort(ordered.begin(), ordered.end(),
        [](const SupplierTimeRecord &a, const SupplierTimeRecord &b) {
            if (a.supplierID != b.supplierID)
                return a.supplierID < b.supplierID;
            if (a.daysto != b.daysto)
                return a.daysto > b.daysto;
            if (sendMsecs(a) != sendMsecs(b))
                return sendMsecs(a) < sendMsecs(b);
            return a.proMailDelayID < b.proMailDelayID;
        });

    const QDate today = at.date();
    for (int i = 0; i < ordered.size(); ++i) {
        SupplierTimeRecord &slot = ordered[i];
        if (skipFreeDays.value(static_cast<uint>(slot.supplierID), false))
            slot.daysto = calendarDays(slot.daysto, today, holidays);
        bySupplier[slot.supplierID].append(i);
    }
}

int SendSlotRule::calendarDays(int workingDays, const QDate &from, const QSet<QDate> &holidays)
{
    int count = 0;
    QDate day = from;
    for (int i = 0; i < workingDays; ++i) {
        do {
            day = day.addDays(1);
            ++count;
        } while (day.dayOfWeek() > 5 || holidays.contains(day));
    }
    return count;
}

bool SendSlotRule::passed(const SupplierTimeRecord &slot, const QDate &mealDay) const
{
    const QDate today = at.date();
    const QDate sendDay = mealDay.addDays(-slot.daysto);
    if (sendDay != today)
        return sendDay < today;
    // A slot whose time is exactly now has not passed yet.
    return !slot.sendtime.isValid()
        || slot.sendtime.msecsSinceStartOfDay() < at.time().msecsSinceStartOfDay();
}

qint32 SendSlotRule::dueSlot(qint32 supplierID, const QDate &mealDay, qint32 sent) const
{
    const auto found = bySupplier.constFind(supplierID);
    if (found == bySupplier.constEnd())
        return -1;
    int latest = -1;
    int stored = -1;
    const QVector<int> &positions = found.value();
    for (int i = 0; i < positions.size(); ++i) {
        const SupplierTimeRecord &slot = ordered.at(positions.at(i));
        if (slot.proMailDelayID == sent)
            stored = i;
        if (passed(slot, mealDay))
            latest = i;
    }
    // Working days counted from today move a later slot's send day forward
    // on free days, so an earlier slot can be the most recent passed one
    // again after a later one was sent: the stored slot's position decides.
    if (latest < 0 || latest <= stored)
        return -1;
    return ordered.at(positions.at(latest)).proMailDelayID;
}
