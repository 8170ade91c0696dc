#pragma once

#include "aggregatevalues.h"
#include "rowdata.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QVariant>
#include <QVector>

// The values of data variables gathered during a print run, which the
// aggregate functions add up, and the lists of the records that make up the
// current group at each of the three group levels.
//
// A variable is collected once per record and report page; the first value
// seen for it stays.
class RptCollectedValues
{
public:
    // The aggregate a SUM call asks for; the numbers are what the rewritten
    // formulas pass.
    enum Aggregate { Sum = 0, Average = 1, Count = 2, Max = 3, Min = 4 };

    // Whoever takes the list to change it may change anything in it, so the
    // indexes of it are rebuilt before their next use.
    QList<AggregateValues> &listOfPair()
    {
        m_indexStale = true;
        return m_list;
    }
    const QList<AggregateValues> &listOfPair() const { return m_list; }
    void clear();

    // Records value for the variable name at record lnNo of reportPage,
    // unless one is there already.
    void collect(const QString &name, const QString &value, int lnNo, int reportPage);
    // kind of the values collected for name: with showInGroup, only those
    // of the records in the group list of groupLevel (when it has any),
    // else those that are not empty. 0 when nothing was collected for name.
    QVariant aggregate(Aggregate kind, const QString &name, bool showInGroup, int groupLevel) const;
    // One more than the highest record with a value on reportPage, at least 1.
    int lineCount(int reportPage) const;

    // Level 0..2; any other level yields an always-empty list.
    QList<int> &groupIdxList(int level);
    bool inGroup() const { return !m_groupIdx[0].isEmpty(); }
    void clearGroupLists();
    QList<RowData> &rowList() { return m_rowList; }

private:
    struct PairKey
    {
        int lnNo;
        int reportPage;
        QString paramName;
        bool operator==(const PairKey &o) const
        {
            return lnNo == o.lnNo && reportPage == o.reportPage && paramName == o.paramName;
        }
    };
    friend uint qHash(const PairKey &key, uint seed)
    {
        return qHash(key.paramName, seed) ^ uint(key.lnNo) ^ (uint(key.reportPage) << 20);
    }
    // Brings the indexes up to date with the list.
    void syncIndex() const;

    QList<AggregateValues> m_list;
    // Kept beside m_list for its first m_indexed entries: the keys present,
    // and each variable's entries in list order.
    mutable QSet<PairKey> m_keys;
    mutable QHash<QString, QVector<int>> m_byName;
    mutable int m_indexed = 0;
    mutable bool m_indexStale = false;
    QList<int> m_groupIdx[3];
    QList<int> m_noGroup;
    QList<RowData> m_rowList;
};
