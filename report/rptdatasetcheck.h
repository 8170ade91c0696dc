#pragma once

#include "rptcheckfinding.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QVector>

// Names the data sets that cross-tabs ("dataSourceName") and chart series
// ("graphDS") show and that nobody provides: neither a data source of
// their page nor, when one is given, the data file. Without a data file
// such a data set is only worth a warning, as a caller may answer it.
class RptDataSetCheck
{
public:
    // The data sets a data file provides; without this call there is none.
    void setDataSetNames(const QSet<QString> &names);

    // False when the file cannot be read.
    bool checkFile(const QString &fileName);
    void checkText(const QString &text);

    const QList<RptCheckFinding> &findings() const { return m_findings; }

    // Both lists in one, in the order of their places in the template.
    static QList<RptCheckFinding> merged(
        const QList<RptCheckFinding> &a, const QList<RptCheckFinding> &b);

private:
    struct Use
    {
        QString name;
        QString what; // "cross-tab \"t\"" or "series \"s\" of chart \"c\""
        int offset = 0;
    };
    void checkPage(const QVector<Use> &uses, const QSet<QString> &sources);
    void add(int offset, bool error, const QString &message);

    QString m_text;
    QVector<int> m_lineStarts;
    QSet<QString> m_dataSetNames;
    bool m_haveData = false;
    QList<RptCheckFinding> m_findings;
};
