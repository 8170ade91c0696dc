#include "configkeys.h"

#include <QVector>

namespace {
using K = ConfigKey::Kind;
constexpr unsigned kSecret = ConfigKey::Secret;
constexpr unsigned kRestart = ConfigKey::NeedsRestart;
constexpr double kNoLimit = 1e18;

// file, group, key, kind, default, minimum, maximum, flags
const std::vector<ConfigKey> kKeys = {
    { "host.ini", "InfoDB", "host", K::Text, "127.0.0.1", 0, 0, kRestart },
    { "host.ini", "InfoDB", "port", K::Integer, "3306", 1, 65535, kRestart },
    { "host.ini", "InfoDB", "database", K::Text, "", 0, 0, kRestart },
    { "host.ini", "InfoDB", "user", K::Text, "", 0, 0, kRestart },
    { "host.ini", "InfoDB", "password", K::Text, "", 0, 0, kSecret | kRestart },
    { "host.ini", "KexDB", "host", K::Text, "127.0.0.1", 0, 0, kRestart },
    { "host.ini", "KexDB", "port", K::Integer, "3306", 1, 65535, kRestart },
    { "host.ini", "KexDB", "database", K::Text, "", 0, 0, kRestart },
    { "host.ini", "KexDB", "user", K::Text, "", 0, 0, kRestart },
    { "host.ini", "KexDB", "password", K::Text, "", 0, 0, kSecret | kRestart },
    { "host.ini", "Host", "plugins", K::List, "mailing,tablora", 0, 0, kRestart },
    { "host.ini", "Host", "debugLevel", K::Integer, "0", 0, 255, 0 },
    { "host.ini", "Host", "closeInfoDB", K::Boolean, "false", 0, 0, kRestart },
    { "host.ini", "Host", "infoDBRetry", K::Integer, "30", 1, 86400, 0 },
    { "host.ini", "Host", "maxConnections", K::Integer, "32", 2, kNoLimit, kRestart },
    { "host.ini", "Host", "leaseSeconds", K::Integer, "60", 10, 86400, kRestart },
    { "host.ini", "Host", "metricsListen", K::Address, "127.0.0.1:9464", 0, 0, kRestart },

    { "yxa.ini", "MailingPlugin", "interval", K::Integer, "10", 0, 86400, 0 },
    { "yxa.ini", "MailingPlugin", "checkInterval", K::Integer, "3600", 0, 604800, 0 },
    { "yxa.ini", "MailingPlugin", "checkSchemasLimit", K::Integer, "1000", 1, kNoLimit, 0 },
    { "yxa.ini", "MailingPlugin", "apiUrl", K::HttpUrl, "https://mandrillapp.com", 0, 0, 0 },
    { "yxa.ini", "MailingPlugin", "apiKey", K::Text, "", 0, 0, kSecret },
    { "yxa.ini", "MailingPlugin", "requestTimeout", K::Number, "60", 0.001, 86400, 0 },
    { "yxa.ini", "MailingPlugin", "mailsPerPass", K::Integer, "1", 1, kNoLimit, 0 },
    { "yxa.ini", "MailingPlugin", "passSeconds", K::Integer, "30", 1, 86400, 0 },
    { "yxa.ini", "MailingPlugin", "caFile", K::Text, "", 0, 0, 0 },
    { "yxa.ini", "MailingPlugin", "retrySchedule", K::Text, "60,300,900,3600,14400", 0, 0, 0 },
    { "yxa.ini", "MailingPlugin", "attemptHistoryDays", K::Integer, "30", 1, 3650, 0 },
};
} // namespace

const std::vector<ConfigKey> &ConfigKeys::all()
{
    return kKeys;
}

std::vector<ConfigKey> ConfigKeys::of(const QString &file)
{
    std::vector<ConfigKey> keys;
    for (const ConfigKey &key : kKeys) {
        if (file == QLatin1String(key.file))
            keys.push_back(key);
    }
    return keys;
}

const ConfigKey *ConfigKeys::find(const QString &file, const QString &group, const QString &name)
{
    for (const ConfigKey &key : kKeys) {
        if (file == QLatin1String(key.file) && group == QLatin1String(key.group)
            && name == QLatin1String(key.name))
            return &key;
    }
    return nullptr;
}

QStringList ConfigKeys::groups(const QString &file)
{
    QStringList names;
    for (const ConfigKey &key : kKeys) {
        const QString group = QLatin1String(key.group);
        if (file == QLatin1String(key.file) && !names.contains(group))
            names << group;
    }
    return names;
}

int ConfigKeys::distance(const QString &a, const QString &b)
{
    // Levenshtein over lower case: a wrong capital is a typo like any other,
    // but it should not beat a real one-letter slip.
    QVector<int> previous(b.size() + 1);
    QVector<int> current(b.size() + 1);
    for (int j = 0; j <= b.size(); ++j)
        previous[j] = j;
    for (int i = 1; i <= a.size(); ++i) {
        current[0] = i;
        for (int j = 1; j <= b.size(); ++j) {
            const bool same = a.at(i - 1).toLower() == b.at(j - 1).toLower();
            current[j]
                = qMin(qMin(previous[j] + 1, current[j - 1] + 1), previous[j - 1] + (same ? 0 : 1));
        }
        std::swap(previous, current);
    }
    return previous[b.size()];
}

QString ConfigKeys::nearest(const QString &word, const QStringList &candidates)
{
    QString best;
    int bestDistance = 0;
    for (const QString &candidate : candidates) {
        const int d = distance(word, candidate);
        if (best.isEmpty() || d < bestDistance) {
            best = candidate;
            bestDistance = d;
        }
    }
    const int allowed = qMax(2, int(word.size()) / 3);
    return !best.isEmpty() && bestDistance <= allowed ? best : QString();
}
