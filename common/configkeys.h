#pragma once

#include <QString>
#include <QStringList>

#include <vector>

// Every key the operator may write into host.ini (yxa-host) and yxa.ini (the
// mailing plug-in), with its kind, default and limits. Checking a file,
// logging the settings in effect and telling a reload what changed all read
// this one table; a new key is one line in configkeys.cpp.
struct ConfigKey
{
    enum class Kind { Text, Integer, Number, Boolean, List, HttpUrl, Address };
    enum Flag : unsigned { NoFlags = 0, Secret = 1, NeedsRestart = 2 };

    const char *file; // "host.ini" or "yxa.ini"
    const char *group;
    const char *name;
    Kind kind;
    const char *defaultValue;
    double minimum;
    double maximum;
    unsigned flags;

    QString path() const
    {
        return QStringLiteral("[%1] %2").arg(QLatin1String(group), QLatin1String(name));
    }
    bool isSecret() const { return flags & Secret; }
    bool needsRestart() const { return flags & NeedsRestart; }
};

class ConfigKeys
{
public:
    static const std::vector<ConfigKey> &all();
    // The keys of one file.
    static std::vector<ConfigKey> of(const QString &file);
    static const ConfigKey *find(const QString &file, const QString &group, const QString &name);
    static QStringList groups(const QString &file);

    // The known name closest to a misspelt one (within a few edits), or an
    // empty string when none is close.
    static QString nearest(const QString &word, const QStringList &candidates);
    static int distance(const QString &a, const QString &b);
};
