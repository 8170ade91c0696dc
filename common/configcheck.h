#pragma once

#include "configkeys.h"

#include <QMap>
#include <QString>
#include <QStringList>

// One configuration file (host.ini or yxa.ini) read against the table of
// known keys: values that do not parse are refused in favour of their
// default, unknown groups and keys are named with the nearest known one, and
// the values in effect can be listed (secrets masked) or compared with an
// earlier reading. Environment overrides (GROUP_KEY) count as given values.
class ConfigCheck
{
public:
    struct Problem
    {
        // Refused values are errors; unknown names only warnings, as the
        // file still works without them.
        bool error = true;
        QString text;
    };

    // kind: "host.ini" or "yxa.ini"; a missing file reads as all defaults.
    ConfigCheck(const QString &kind, const QString &fileName);

    QString fileName() const { return file; }
    bool exists() const { return fileExists; }
    const QList<Problem> &problems() const { return found; }
    int errorCount() const;

    // The value in effect: the given one when it parses, else the default.
    QString text(const QString &group, const QString &name) const;
    int integer(const QString &group, const QString &name) const;
    double number(const QString &group, const QString &name) const;
    bool boolean(const QString &group, const QString &name) const;
    bool isGiven(const QString &group, const QString &name) const
    {
        return given.contains(path(group, name));
    }

    // "[Host] debugLevel = 1", one line per known key, secrets masked.
    QStringList effectiveLines() const;
    // What differs from an earlier reading, one line per changed key.
    QStringList changesSince(const ConfigCheck &before) const;

    static bool parses(const ConfigKey &key, const QString &value, QString *expected = nullptr);

private:
    static QString path(const QString &group, const QString &name)
    {
        return group + QLatin1Char('/') + name;
    }
    QString shown(const ConfigKey &key, const QString &value) const;

    QString kind;
    QString file;
    bool fileExists = false;
    QList<Problem> found;
    QMap<QString, QString> values; // path -> value in effect
    QMap<QString, QString> given; // path -> where it came from
};
