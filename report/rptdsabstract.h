#pragma once

#include <QDomElement>
#include <QObject>
#include <QString>

// Base of a report page's data sources: a named set of records whose fields
// are read as text by name and 0-based record number.
class RptDsAbstract : public QObject
{
    Q_OBJECT

public:
    explicit RptDsAbstract(QObject *parent = nullptr);
    ~RptDsAbstract() override;

    QString DSName() const { return dsName; }

public slots:
    virtual int getRecordCount();
    virtual void loadXML(const QDomElement &e) = 0;
    virtual QString getFieldValue(const QString &fieldName, int recNo) = 0;

protected:
    QString dsName;
    int recordCount = 0;
};
