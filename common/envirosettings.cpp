#include "envirosettings.h"

#include "commonlogging.h"

EnviroSettings::EnviroSettings(QObject *parent)
    : QSettings(parent)
{
}

EnviroSettings::EnviroSettings(QSettings::Scope scope, const QString &organization, const QString &application,
                               QObject *parent)
    : QSettings(scope, organization, application, parent)
{
}

EnviroSettings::EnviroSettings(const QString &fileName, QSettings::Format format, QObject *parent)
    : QSettings(fileName, format, parent)
{
}

EnviroSettings::EnviroSettings(const QString &organization, const QString &application, QObject *parent)
    : QSettings(organization, application, parent)
{
}

QString EnviroSettings::enviroKey(const QString &key) const
{
    QString k = key;
    if (!m_prefix.isEmpty())
        k = m_prefix + QLatin1Char('/') + k;
    k.replace(QLatin1Char('/'), QLatin1Char('_'));
    return k.toUpper();
}

QVariant EnviroSettings::value(const QString &key, const QVariant &defaultValue) const
{
    const QString fullKey = group().isEmpty() ? key : group() + QLatin1Char('/') + key;
    const QString envName = enviroKey(fullKey);
    if (debugLevel > 1)
        qCDebug(lcCommon, "EnviroSettings::value() - key: '%s', environment key: %s", qUtf8Printable(fullKey),
                qUtf8Printable(envName));
    const QVariant fallback = environment.contains(envName) ? QVariant(environment.value(envName))
                                                            : QVariant(defaultValue.toString());
    return QSettings::value(key, fallback);
}

QString EnviroSettings::prefix() const
{
    return m_prefix;
}

void EnviroSettings::setPrefix(const QString &prefix)
{
    if (prefix == m_prefix)
        return;
    m_prefix = prefix;
    emit prefixChanged();
}
