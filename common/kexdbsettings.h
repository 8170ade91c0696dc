#pragma once

#include <QMap>
#include <QSqlDatabase>
#include <QStringList>
#include <QVariant>

// Named values in the table `vars` of one database. The store shares the
// connection it is given and never opens or closes it on its own (except
// through openDB()/closeDB()); use it only in the thread that owns that
// connection.
class KexDbSettings
{
public:
    KexDbSettings() = default;
    explicit KexDbSettings(const QSqlDatabase &db);

    void setDB(const QSqlDatabase &db);
    bool openDB();
    void closeDB();

    QVariant variableGet(const QString &name, QVariant defaultValue);
    bool variableSet(const QString &name, const QVariant &value);
    bool variableSetMultiple(const QMap<QString, QVariant> &values);
    bool variableDel(const QString &name, bool like);
    // An empty map means "no such keys" or "the read failed"; callers that
    // must not act on a failed read pass `ok`, which is false only then.
    QMap<QString, QVariant> variableGetMultiple(const QStringList &names, bool *ok = nullptr);
    QMap<QString, QVariant> variableGetMultiple(const QString &prefix, bool *ok = nullptr);

private:
    QSqlDatabase db;
};
