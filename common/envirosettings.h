#pragma once

#include <QProcessEnvironment>
#include <QSettings>

// An ini-backed QSettings in which every key can also come from an
// environment variable (key "Group/name" -> "PREFIX_GROUP_NAME"). The ini file
// wins when it holds the key; the variable only replaces the caller's default.
// The environment is read once, at construction.
class EnviroSettings : public QSettings
{
    Q_OBJECT
    Q_PROPERTY(QString prefix READ prefix WRITE setPrefix NOTIFY prefixChanged)

public:
    explicit EnviroSettings(QObject *parent = nullptr);
    EnviroSettings(QSettings::Scope scope, const QString &organization, const QString &application = QString(),
                   QObject *parent = nullptr);
    EnviroSettings(const QString &fileName, QSettings::Format format, QObject *parent = nullptr);
    EnviroSettings(const QString &organization, const QString &application = QString(), QObject *parent = nullptr);

    QString enviroKey(const QString &key) const;
    QVariant value(const QString &key, const QVariant &defaultValue = QVariant()) const;

    QString prefix() const;
    void setPrefix(const QString &prefix);

    // The owner's debug level: each lookup is traced only above 1, as a
    // plug-in reads some keys on every scan.
    void setDebugLevel(unsigned char level) { debugLevel = level; }
    unsigned char getDebugLevel() const { return debugLevel; }

signals:
    void prefixChanged();

private:
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    QString m_prefix;
    unsigned char debugLevel = 0;
};
