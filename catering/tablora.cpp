#include "tablora.h"

#include "buildstamp.h"
#include "cateringlogging.h"
#include "plugininfo.h"

Tablora::Tablora(QObject *parent)
    : QObject(parent)
{
}

Tablora::~Tablora() = default;

QString Tablora::getVersion() const
{
    return QStringLiteral("2.3.0");
}

QMap<QString, QString> Tablora::getVerInfo() const
{
    return PluginInfo::verInfo(getVersion(), QStringLiteral("PLG.TB"), YXA_BUILD_STAMP());
}

void Tablora::setDatabase(const QSqlDatabase &db)
{
    const QString name = QStringLiteral("%1.Tablora").arg(db.connectionName());
    if (debugLevel)
        qCDebug(lcCatering, "Tablora::setDatabase('%s') connection name: '%s'", qUtf8Printable(db.databaseName()),
                qUtf8Printable(name));
    database = QSqlDatabase::cloneDatabase(db, name);
}

bool Tablora::start()
{
    if (debugLevel)
        qCDebug(lcCatering) << "Startting Tablora..";
    if (!dbManager) {
        qCCritical(lcCatering) << "!!! Tablora: Database manager not initialized !!!";
        return false;
    }
    return true;
}

void Tablora::stop()
{
    if (debugLevel)
        qCDebug(lcCatering) << "Stopping Tablora..";
}

void Tablora::pause()
{
    if (debugLevel)
        qCDebug(lcCatering) << "Pausing Tablora..";
}

void Tablora::resume()
{
    if (debugLevel)
        qCDebug(lcCatering) << "Resuming Tablora..";
}
