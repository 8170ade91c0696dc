#pragma once

#include <QMap>
#include <QString>
#include <QtPlugin>

// Version information the host shows for each loaded plug-in.
class VerInfoInterface
{
public:
    virtual ~VerInfoInterface() = default;
    virtual QMap<QString, QString> getVerInfo() const = 0;
};

#define VerInfoInterface_iid "com.velkor.VerInfoInterface"
Q_DECLARE_INTERFACE(VerInfoInterface, VerInfoInterface_iid)
