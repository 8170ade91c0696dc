#pragma once

#include <QMap>
#include <QString>

// The version-information map both plug-ins report to the host.
namespace PluginInfo {
inline constexpr char kexDbVersion[] = "20.03.05";

inline QMap<QString, QString> verInfo(const QString &version, const QString &typeCode, const QString &buildStamp)
{
    QMap<QString, QString> info;
    info.insert(QStringLiteral("VER"), version);
    info.insert(QStringLiteral("vodraType"), typeCode);
    if (!buildStamp.isEmpty())
        info.insert(QStringLiteral("BUILD"), buildStamp);
    info.insert(QStringLiteral("KEXDB"), QString::fromLatin1(kexDbVersion));
    return info;
}
} // namespace PluginInfo
