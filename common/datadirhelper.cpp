#include "datadirhelper.h"

#include "commonlogging.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

QString DataDirHelper::dataDir = QStringLiteral("data");
QString DataDirHelper::logsDir = QStringLiteral("logs");

QString DataDirHelper::getDataDir(bool validate, const QString &name)
{
    Q_UNUSED(name)
    QString path = qEnvironmentVariable("YXA_DATA_DIR");
    if (path.isEmpty())
        path = QStringLiteral("/etc/") + QCoreApplication::applicationName().toLower();
    if (validate)
        validateDir(path);
    dataDir = path;
    return path;
}

QString DataDirHelper::getLogsDir(const QString &name)
{
    getDataDir(false, name);
    QString path = qEnvironmentVariable("YXA_LOG_DIR");
    if (path.isEmpty())
        path = QStringLiteral("/var/log/yxa");
    validateDir(path);
    logsDir = path;
    return path;
}

void DataDirHelper::validateDir(const QString &path)
{
    if (!QFileInfo::exists(path) && !QDir().mkpath(path))
        qCCritical(lcCommon, "Directory '%s' is not created!", qUtf8Printable(path));
    if (!QFileInfo(path).isWritable())
        qCCritical(lcCommon, "Directory '%s' is not writable!", qUtf8Printable(path));
}
