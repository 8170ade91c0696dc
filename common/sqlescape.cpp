#include "sqlescape.h"

#include <QSqlDriver>
#include <QSqlField>
#include <QStringList>

namespace SqlEscape {

QString string(const QSqlDatabase &db, const QString &value)
{
    QString quoted;
    if (const QSqlDriver *driver = db.driver(); driver && db.isValid()) {
        QSqlField field(QStringLiteral("v"), QVariant::String);
        field.setValue(value);
        quoted = driver->formatValue(field);
    }
    // Without a driver (or when a driver returns something unexpected) fall back
    // to the escaping that MySQL and MariaDB understand in their default mode.
    if (quoted.size() < 2 || !quoted.startsWith(QLatin1Char('\'')) || !quoted.endsWith(QLatin1Char('\''))) {
        QString escaped = value;
        escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
        escaped.replace(QLatin1Char('\''), QLatin1String("''"));
        escaped.replace(QChar(0), QLatin1String("\\0"));
        return escaped;
    }
    QString inner = quoted.mid(1, quoted.size() - 2);
    // A raw NUL would end the statement early for some client paths.
    inner.replace(QChar(0), QLatin1String("\\0"));
    return inner;
}

QString quotedList(const QSqlDatabase &db, const QStringList &values)
{
    QStringList parts;
    parts.reserve(values.size());
    for (const QString &value : values)
        parts << QLatin1Char('\'') + string(db, value) + QLatin1Char('\'');
    return parts.join(QLatin1Char(','));
}

} // namespace SqlEscape
