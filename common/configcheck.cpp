#include "configcheck.h"

#include <QFileInfo>
#include <QSettings>
#include <QUrl>

namespace {
QString textOf(const QVariant &value)
{
    // An unquoted comma makes QSettings split the value into a list.
    if (value.type() == QVariant::StringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.toString();
}

QString environmentName(const QString &group, const QString &name)
{
    return (group + QLatin1Char('_') + name).toUpper();
}
} // namespace

bool ConfigCheck::parses(const ConfigKey &key, const QString &rawValue, QString *expected)
{
    const QString value = rawValue.trimmed();
    QString want;
    bool ok = true;
    switch (key.kind) {
    case ConfigKey::Kind::Text:
    case ConfigKey::Kind::List:
        break;
    case ConfigKey::Kind::Integer: {
        const qlonglong n = value.toLongLong(&ok);
        ok = ok && n >= key.minimum && n <= key.maximum;
        want = key.maximum < 1e17
            ? QStringLiteral("a whole number from %1 to %2").arg(key.minimum).arg(key.maximum)
            : QStringLiteral("a whole number of at least %1").arg(key.minimum);
        break;
    }
    case ConfigKey::Kind::Number: {
        const double n = value.toDouble(&ok);
        ok = ok && n >= key.minimum && n <= key.maximum;
        want = QStringLiteral("a number from %1 to %2").arg(key.minimum).arg(key.maximum);
        break;
    }
    case ConfigKey::Kind::Boolean: {
        static const QStringList words { QStringLiteral("true"), QStringLiteral("false"),
            QStringLiteral("1"), QStringLiteral("0"), QStringLiteral("yes"), QStringLiteral("no"),
            QStringLiteral("on"), QStringLiteral("off") };
        ok = words.contains(value.toLower());
        want = QStringLiteral("true or false");
        break;
    }
    case ConfigKey::Kind::HttpUrl: {
        const QUrl url(value, QUrl::StrictMode);
        const QString scheme = url.scheme().toLower();
        ok = url.isValid() && !url.host().isEmpty()
            && (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
        want = QStringLiteral("an http(s) URL with a host");
        break;
    }
    case ConfigKey::Kind::Address: {
        if (value.isEmpty())
            break;
        const int colon = value.lastIndexOf(QLatin1Char(':'));
        const int port = colon > 0 ? value.mid(colon + 1).toInt(&ok) : 0;
        ok = colon > 0 && ok && port > 0 && port < 65536;
        want = QStringLiteral("host:port (or empty)");
        break;
    }
    }
    if (expected)
        *expected = want;
    return ok;
}

ConfigCheck::ConfigCheck(const QString &fileKind, const QString &fileName)
    : kind(fileKind)
    , file(fileName)
{
    fileExists = QFileInfo(fileName).isFile();
    QSettings settings(fileName, QSettings::IniFormat);
    const QString where = fileName + QStringLiteral(": ");

    if (fileExists) {
        const QStringList knownGroups = ConfigKeys::groups(kind);
        for (const QString &name : settings.childKeys()) {
            found << Problem { false,
                where + QStringLiteral("key %1 stands outside a group and is ignored").arg(name) };
        }
        for (const QString &group : settings.childGroups()) {
            if (!knownGroups.contains(group)) {
                const QString guess = ConfigKeys::nearest(group, knownGroups);
                found << Problem { false,
                    where
                        + (guess.isEmpty()
                                ? QStringLiteral("unknown group [%1], its keys are ignored")
                                      .arg(group)
                                : QStringLiteral("unknown group [%1]: did you mean [%2]?")
                                      .arg(group, guess)) };
                continue;
            }
            QStringList knownNames;
            for (const ConfigKey &key : ConfigKeys::of(kind)) {
                if (group == QLatin1String(key.group))
                    knownNames << QLatin1String(key.name);
            }
            settings.beginGroup(group);
            for (const QString &name : settings.childKeys()) {
                if (knownNames.contains(name))
                    continue;
                const QString guess = ConfigKeys::nearest(name, knownNames);
                found << Problem { false,
                    where
                        + (guess.isEmpty()
                                ? QStringLiteral("unknown key [%1] %2 is ignored").arg(group, name)
                                : QStringLiteral("unknown key [%1] %2: did you mean %3?")
                                      .arg(group, name, guess)) };
            }
            settings.endGroup();
        }
    }

    for (const ConfigKey &key : ConfigKeys::of(kind)) {
        const QString group = QLatin1String(key.group);
        const QString name = QLatin1String(key.name);
        const QString keyPath = path(group, name);
        QString value = QLatin1String(key.defaultValue);
        const QString envName = environmentName(group, name);
        // The file wins over the environment, which only replaces the default.
        if (fileExists && settings.contains(keyPath)) {
            value = textOf(settings.value(keyPath));
            given.insert(keyPath, QStringLiteral("file"));
        } else if (qEnvironmentVariableIsSet(qPrintable(envName))) {
            value = qEnvironmentVariable(qPrintable(envName));
            given.insert(keyPath, QStringLiteral("environment ") + envName);
        }
        QString expected;
        if (given.contains(keyPath) && !parses(key, value, &expected)) {
            found << Problem { true,
                where
                    + QStringLiteral("%1=%2 is refused (%3 expected); the default %4 is used")
                          .arg(key.path(), key.isSecret() ? QStringLiteral("…") : value, expected,
                              QLatin1String(key.defaultValue)) };
            value = QLatin1String(key.defaultValue);
            given.remove(keyPath);
        }
        values.insert(keyPath, value.trimmed());
    }
}

int ConfigCheck::errorCount() const
{
    int count = 0;
    for (const Problem &problem : found)
        count += problem.error ? 1 : 0;
    return count;
}

QString ConfigCheck::text(const QString &group, const QString &name) const
{
    return values.value(path(group, name));
}

int ConfigCheck::integer(const QString &group, const QString &name) const
{
    return text(group, name).toInt();
}

double ConfigCheck::number(const QString &group, const QString &name) const
{
    return text(group, name).toDouble();
}

bool ConfigCheck::boolean(const QString &group, const QString &name) const
{
    const QString value = text(group, name).toLower();
    return value == QLatin1String("true") || value == QLatin1String("1")
        || value == QLatin1String("yes") || value == QLatin1String("on");
}

QString ConfigCheck::shown(const ConfigKey &key, const QString &value) const
{
    if (!key.isSecret())
        return value.isEmpty() ? QStringLiteral("(empty)") : value;
    if (value.isEmpty())
        return QStringLiteral("(empty)");
    return QStringLiteral("(set)");
}

QStringList ConfigCheck::effectiveLines() const
{
    QStringList lines;
    for (const ConfigKey &key : ConfigKeys::of(kind)) {
        const QString keyPath = path(QLatin1String(key.group), QLatin1String(key.name));
        const QString source = given.value(keyPath, QStringLiteral("default"));
        lines << QStringLiteral("%1 = %2 (%3)")
                     .arg(key.path(), shown(key, values.value(keyPath)), source);
    }
    return lines;
}

QStringList ConfigCheck::changesSince(const ConfigCheck &before) const
{
    QStringList lines;
    for (const ConfigKey &key : ConfigKeys::of(kind)) {
        const QString keyPath = path(QLatin1String(key.group), QLatin1String(key.name));
        const QString old = before.values.value(keyPath);
        const QString now = values.value(keyPath);
        if (old == now)
            continue;
        QString line = key.isSecret()
            ? QStringLiteral("%1 changed").arg(key.path())
            : QStringLiteral("%1: %2 -> %3").arg(key.path(), shown(key, old), shown(key, now));
        if (key.needsRestart())
            line += QStringLiteral(" (needs a restart to take effect)");
        lines << line;
    }
    return lines;
}
