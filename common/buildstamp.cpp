#include "buildstamp.h"

#include <QDateTime>
#include <QLocale>

namespace BuildStamp {

QString fromCompilerTexts(const QString &date, const QString &time)
{
    const QTime t = QTime::fromString(time.simplified(), QStringLiteral("hh:mm:ss"));
    // __DATE__ pads single-digit days with a second blank ("Feb  3 2025").
    const QDate d = QLocale(QStringLiteral("en_US")).toDate(date.simplified(), QStringLiteral("MMM d yyyy"));
    // QDateTime would take an invalid time for midnight; an unparsable text means no stamp.
    if (!d.isValid() || !t.isValid())
        return QString();
    const QDateTime stamp(d, t, Qt::LocalTime);
    return stamp.isValid() ? stamp.toString(QStringLiteral("yyMMddhhmm")) : QString();
}

} // namespace BuildStamp
