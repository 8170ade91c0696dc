#pragma once

#include "rptdsabstract.h"

#include <QLibrary>
#include <QPointer>

// Records served by a library that a template names. The library exports
// "getHandle" (no arguments, returns a QObject*), whose invokable methods
// setDataStr(QString), setDataFile(QString), loadXML(QString),
// getValue(QString, int) and getRecordCount(QString) are called by name.
class RptDsPlugin : public RptDsAbstract
{
    Q_OBJECT

public:
    explicit RptDsPlugin(QObject *parent = nullptr);
    ~RptDsPlugin() override;

    bool hasHandle() const { return !m_handle.isNull(); }

public slots:
    void loadXML(const QDomElement &e) override;
    QString getFieldValue(const QString &fieldName, int recNo) override;
    int getRecordCount() override;
    void setDataStr(const QString &data);
    void setDataFile(const QString &fileName);

private:
    QLibrary m_library;
    QPointer<QObject> m_handle;
    QString m_data;
    QString m_fileName;
    QString m_dsAliasName;
};
