#include "mailingplugin.h"

#include "buildstamp.h"
#include "mailinglogging.h"
#include "plugininfo.h"

MailingPlugin::MailingPlugin(QObject *parent)
    : QObject(parent)
{
}

MailingPlugin::~MailingPlugin() = default;

QString MailingPlugin::getVersion() const
{
    return QStringLiteral("1.1.2");
}

QMap<QString, QString> MailingPlugin::getVerInfo() const
{
    return PluginInfo::verInfo(getVersion(), QStringLiteral("PLG.ML"), YXA_BUILD_STAMP());
}

bool MailingPlugin::start()
{
    if (debugLevel)
        qCDebug(lcMailing) << "MailingPlugin::start()";
    if (!dbManager) {
        qCCritical(lcMailing) << "!!! MailingPlugin: Database manager not initialized !!!";
        return false;
    }
    return true;
}

void MailingPlugin::stop()
{
    if (debugLevel)
        qCDebug(lcMailing) << "MailingPlugin::stop()";
}

void MailingPlugin::pause()
{
    if (debugLevel)
        qCDebug(lcMailing) << "MailingPlugin::pause()";
}

void MailingPlugin::resume()
{
    if (debugLevel)
        qCDebug(lcMailing) << "MailingPlugin::resume()";
}
