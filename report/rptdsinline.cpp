#include "rptdsinline.h"

RptDsInline::RptDsInline(QObject *parent)
    : RptDsAbstract(parent)
{
}

void RptDsInline::loadXML(const QDomElement &e)
{
    dsName = e.attribute(QStringLiteral("name"));
    setObjectName(dsName);
    recordCount = e.attribute(QStringLiteral("rowCount")).toInt();
    const QString delimiter = e.attribute(QStringLiteral("delimiter"));
    // An empty delimiter would cut every character into a cell of its own.
    auto split = [&delimiter](const QString &value) {
        if (delimiter.isEmpty())
            return QStringList { value };
        return value.split(delimiter, Qt::KeepEmptyParts, Qt::CaseSensitive);
    };
    m_columns.clear();
    m_rows.clear();
    const QDomElement header = e.firstChildElement();
    if (!header.isNull())
        m_columns = split(header.attribute(QStringLiteral("value")));
    m_columnCount = m_columns.size();
    for (QDomElement row = e.firstChildElement(QStringLiteral("Row")); !row.isNull();
         row = row.nextSiblingElement(QStringLiteral("Row")))
        m_rows.append(split(row.attribute(QStringLiteral("value"))));
}

QString RptDsInline::getFieldValue(const QString &fieldName, int recNo)
{
    const int column = m_columns.indexOf(fieldName);
    const int row = recNo + 1;
    if (column < 0 || row < 1 || row >= m_rows.size())
        return QString();
    return m_rows.at(row).value(column);
}
