#pragma once

#include "rptdsabstract.h"

#include <QList>
#include <QStringList>

// Rows written into the template. The first stored row is the header with the
// column names; record n is stored row n + 1. The record count is the
// template's "rowCount", not the number of rows.
class RptDsInline : public RptDsAbstract
{
    Q_OBJECT

public:
    explicit RptDsInline(QObject *parent = nullptr);

    QStringList columnNames() const { return m_columns; }
    int columnCount() const { return m_columnCount; }

public slots:
    void loadXML(const QDomElement &e) override;
    QString getFieldValue(const QString &fieldName, int recNo) override;

private:
    QStringList m_columns;
    int m_columnCount = 0;
    QList<QStringList> m_rows;
};
