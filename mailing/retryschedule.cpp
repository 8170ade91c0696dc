#include "retryschedule.h"

#include <QRandomGenerator>
#include <QStringList>

namespace {
// Longer than anyone would wait for a deferred mail; keeps the sums in range.
const int kLongestWait = 7 * 24 * 3600;
} // namespace

RetrySchedule::RetrySchedule()
    : waits { 60, 300, 900, 3600, 14400 }
{
}

RetrySchedule RetrySchedule::none()
{
    RetrySchedule schedule;
    schedule.waits.clear();
    return schedule;
}

RetrySchedule RetrySchedule::parse(const QString &text, bool *ok)
{
    if (ok)
        *ok = true;
    RetrySchedule schedule = none();
    if (text.trimmed().isEmpty())
        return schedule;
    const QStringList items = text.split(QLatin1Char(','));
    for (const QString &item : items) {
        bool number = false;
        const int seconds = item.trimmed().toInt(&number);
        if (!number || seconds < 1 || seconds > kLongestWait) {
            if (ok)
                *ok = false;
            return RetrySchedule();
        }
        schedule.waits << seconds;
    }
    return schedule;
}

int RetrySchedule::delayAfter(int attempt) const
{
    if (attempt < 1 || attempt > waits.size())
        return -1;
    const int base = waits.at(attempt - 1);
    const int spread = base / 10;
    if (spread == 0)
        return base;
    return base - spread + int(QRandomGenerator::global()->bounded(2 * spread + 1));
}

QString RetrySchedule::toString() const
{
    QStringList items;
    for (const int seconds : waits)
        items << QString::number(seconds);
    return items.join(QLatin1Char(','));
}
