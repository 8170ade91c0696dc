#include "rptdsplugin.h"

#include "reportlogging.h"

#include <QDomDocument>

RptDsPlugin::RptDsPlugin(QObject *parent)
    : RptDsAbstract(parent)
{
}

// The handle belongs to the library, and the library stays loaded: objects
// it made may still be referenced by code that outlives this source.
RptDsPlugin::~RptDsPlugin() = default;

void RptDsPlugin::loadXML(const QDomElement &e)
{
    m_library.setFileName(e.attribute(QStringLiteral("plugin")));
    m_fileName = e.attribute(QStringLiteral("fileName"));
    dsName = e.attribute(QStringLiteral("name"));
    setObjectName(dsName);
    m_dsAliasName = e.attribute(QStringLiteral("dsAliasName"));
    m_data.clear();
    const QDomElement data = e.firstChildElement(QStringLiteral("Data"));
    if (!data.isNull() && data.firstChild().isCDATASection())
        m_data = data.firstChild().toCDATASection().data();
    recordCount = 0;
    m_handle.clear();

    if (!m_library.load()) {
        qCWarning(lcReport).noquote() << "Loading failed!" << m_library.errorString();
        return;
    }
    using GetHandle = QObject *(*)();
    auto getHandle = reinterpret_cast<GetHandle>(m_library.resolve("getHandle"));
    if (!getHandle) {
        qCWarning(lcReport).noquote()
            << "RptDsPlugin::loadXML no getHandle in" << m_library.fileName();
        return;
    }
    m_handle = getHandle();
    if (!m_handle)
        return;
    if (!m_data.isEmpty())
        setDataStr(m_data);
    else if (!m_fileName.isEmpty())
        setDataFile(m_fileName);
    QMetaObject::invokeMethod(
        m_handle, "loadXML", Qt::DirectConnection, Q_ARG(QString, e.ownerDocument().toString(1)));
}

void RptDsPlugin::setDataStr(const QString &data)
{
    m_data = data;
    if (m_handle)
        QMetaObject::invokeMethod(
            m_handle, "setDataStr", Qt::DirectConnection, Q_ARG(QString, data));
}

void RptDsPlugin::setDataFile(const QString &fileName)
{
    m_fileName = fileName;
    if (m_handle)
        QMetaObject::invokeMethod(
            m_handle, "setDataFile", Qt::DirectConnection, Q_ARG(QString, fileName));
}

QString RptDsPlugin::getFieldValue(const QString &fieldName, int recNo)
{
    QString value;
    if (m_handle) {
        QMetaObject::invokeMethod(m_handle, "getValue", Qt::DirectConnection,
            Q_RETURN_ARG(QString, value), Q_ARG(QString, fieldName), Q_ARG(int, recNo));
    }
    return value;
}

int RptDsPlugin::getRecordCount()
{
    if (m_handle) {
        int count = 0;
        if (QMetaObject::invokeMethod(m_handle, "getRecordCount", Qt::DirectConnection,
                Q_RETURN_ARG(int, count), Q_ARG(QString, m_dsAliasName)))
            recordCount = count;
    }
    return recordCount;
}
