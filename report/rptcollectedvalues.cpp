#include "rptcollectedvalues.h"

void RptCollectedValues::clear()
{
    m_list.clear();
    m_keys.clear();
    m_byName.clear();
    m_indexed = 0;
    m_indexStale = false;
}

void RptCollectedValues::syncIndex() const
{
    // Collecting only appends; the list is indexed anew only after someone
    // outside took it for writing, or when it shrank.
    if (m_indexStale || m_indexed > m_list.size()) {
        m_keys.clear();
        m_byName.clear();
        m_indexed = 0;
        m_indexStale = false;
    }
    for (; m_indexed < m_list.size(); ++m_indexed) {
        const AggregateValues &v = m_list.at(m_indexed);
        m_keys.insert(PairKey { v.lnNo, v.reportPage, v.paramName });
        m_byName[v.paramName].append(m_indexed);
    }
}

void RptCollectedValues::collect(
    const QString &name, const QString &value, int lnNo, int reportPage)
{
    syncIndex();
    PairKey key { lnNo, reportPage, name };
    if (m_keys.contains(key))
        return;
    m_byName[name].append(m_list.size());
    m_list.append(AggregateValues { name, QVariant(value), lnNo, reportPage });
    m_keys.insert(std::move(key));
    m_indexed = m_list.size();
}

QVariant RptCollectedValues::aggregate(
    Aggregate kind, const QString &name, bool showInGroup, int groupLevel) const
{
    const QList<int> *group
        = (groupLevel >= 0 && groupLevel < 3) ? &m_groupIdx[groupLevel] : nullptr;
    const bool inGroup = group && !group->isEmpty() && showInGroup;
    bool any = false;
    int count = 0;
    double sum = 0;
    double highest = 0;
    double lowest = 0;
    syncIndex();
    const auto entries = m_byName.constFind(name);
    if (entries == m_byName.constEnd())
        return 0;
    for (const int i : entries.value()) {
        const AggregateValues &v = m_list.at(i);
        any = true;
        const bool counted = inGroup ? group->contains(v.lnNo) : !v.paramValue.toString().isEmpty();
        if (!counted)
            continue;
        const double x = v.paramValue.toString().toDouble();
        if (count == 0) {
            highest = lowest = x;
        } else {
            highest = qMax(highest, x);
            lowest = qMin(lowest, x);
        }
        ++count;
        sum += x;
    }
    if (!any)
        return 0;
    switch (kind) {
    case Sum:
        return sum;
    case Average:
        return count ? sum / count : 0.0;
    case Count:
        return count;
    case Max:
        return highest;
    case Min:
        return lowest;
    }
    return 0;
}

int RptCollectedValues::lineCount(int reportPage) const
{
    int highest = -1;
    for (const AggregateValues &v : m_list) {
        if (v.reportPage == reportPage)
            highest = qMax(highest, v.lnNo);
    }
    return highest < 0 ? 1 : highest + 1;
}

QList<int> &RptCollectedValues::groupIdxList(int level)
{
    if (level >= 0 && level < 3)
        return m_groupIdx[level];
    m_noGroup.clear();
    return m_noGroup;
}

void RptCollectedValues::clearGroupLists()
{
    for (QList<int> &l : m_groupIdx)
        l.clear();
}
