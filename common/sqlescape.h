#pragma once

#include <QSqlDatabase>
#include <QString>

// Statements of this system are fixed texts with '%1'-style slots. Any string
// that goes into such a slot passes through here first, so that a quote or a
// backslash inside a token, a schema name or a setting name stays data and
// can never change the statement.
namespace SqlEscape {

// The text of value as it may stand between single quotes in a statement for
// db's driver (without the quotes themselves).
QString string(const QSqlDatabase &db, const QString &value);

// "'a','b'" for an IN (...) list, each element escaped as above.
QString quotedList(const QSqlDatabase &db, const QStringList &values);

} // namespace SqlEscape
