#include "rptdatasets.h"

#include "rptbandobject.h"
#include "rptcrosstabobject.h"
#include "rptdsinline.h"
#include "rptdsplugin.h"
#include "rptfieldobject.h"
#include "rptsql.h"

#include <algorithm>

namespace {

bool sameKey(const DataSetInfo &info, int dataSetNo)
{
    return info.dataSetNo == dataSetNo;
}

bool sameKey(const DataSetInfo &info, const QString &dataSetName)
{
    return info.dataSetName == dataSetName;
}

} // namespace

RptDataSets::RptDataSets(const PageList &pages)
    : m_pages(pages)
{
}

template <typename Key> QVector<int> RptDataSets::matching(int reportPage, const Key &key) const
{
    QVector<int> found;
    for (int i = 0; i < m_info.size(); ++i) {
        const DataSetInfo &info = m_info.at(i);
        if (info.reportPage == reportPage && sameKey(info, key))
            found.append(i);
    }
    return found;
}

template <typename Key> bool RptDataSets::setCount(int reportPage, const Key &key, int recCount)
{
    const QVector<int> found = matching(reportPage, key);
    for (const int i : found)
        m_info[i].recCount = recCount;
    return !found.isEmpty();
}

template <typename Key> int RptDataSets::count(int reportPage, const Key &key) const
{
    const QVector<int> found = matching(reportPage, key);
    return found.isEmpty() ? 0 : m_info.at(found.last()).recCount;
}

bool RptDataSets::setRecCount(int reportPage, int dataSetNo, int recCount)
{
    return setCount(reportPage, dataSetNo, recCount);
}

bool RptDataSets::setRecCount(int reportPage, const QString &dataSetName, int recCount)
{
    return setCount(reportPage, dataSetName, recCount);
}

int RptDataSets::getRecCount(int reportPage, int dataSetNo) const
{
    return count(reportPage, dataSetNo);
}

int RptDataSets::getRecCount(int reportPage, const QString &dataSetName) const
{
    return count(reportPage, dataSetName);
}

// The connections are kept here: every print run rebuilds the pages, and a
// connection kept only on a page would be lost with it.
void RptDataSets::setUserSqlConnection(int reportPage, const RptSqlConnection &connection)
{
    RptSqlConnection c = connection;
    c.reportPage = reportPage;
    bool replaced = false;
    for (RptSqlConnection &existing : m_userSqlConnections) {
        if (existing.reportPage == reportPage) {
            existing = c;
            replaced = true;
        }
    }
    if (!replaced)
        m_userSqlConnections.append(c);
    if (RptPageObject *page = m_pages.value(reportPage, nullptr))
        page->userSqlConnection = c;
}

bool RptDataSets::getUserSqlConnection(int reportPage, RptSqlConnection &connection) const
{
    if (RptPageObject *page = m_pages.value(reportPage, nullptr)) {
        connection = page->userSqlConnection;
        return true;
    }
    for (const RptSqlConnection &c : m_userSqlConnections) {
        if (c.reportPage == reportPage) {
            connection = c;
            return true;
        }
    }
    return false;
}

void RptDataSets::activateUserSqlConnection(int reportPage, bool on)
{
    for (RptSqlConnection &c : m_userSqlConnections) {
        if (c.reportPage == reportPage)
            c.active = on;
    }
    if (RptPageObject *page = m_pages.value(reportPage, nullptr))
        page->userSqlConnection.active = on;
}

void RptDataSets::applyUserSqlConnections()
{
    for (const RptSqlConnection &c : qAsConst(m_userSqlConnections)) {
        if (RptPageObject *page = m_pages.value(c.reportPage, nullptr))
            page->userSqlConnection = c;
    }
}

void RptDataSets::announce(int reportPage, const std::function<void(DataSetInfo &)> &announce)
{
    RptPageObject *page = m_pages.value(reportPage, nullptr);
    if (!page)
        return;
    const int highest = page->bandsCountByType(RptName::MasterData);
    for (int n = 1; n <= highest; ++n) {
        const RptBandObject *band = page->getBand(RptName::MasterData, n);
        // Master data bands numbered with gaps: a missing number has no band
        // to ask for, so nothing is announced for it.
        if (!band)
            continue;
        DataSetInfo info;
        info.dataSetName = band->dataSourceName;
        info.reportPage = reportPage;
        info.dataSetNo = n;
        announce(info);
        m_info.append(info);
    }
    // Cross-tabs and chart series name data sets of their own. Each is
    // announced once with data set number 0, unless a master data band
    // already asked for it; the page's sources, opened next, may answer it.
    for (const QString &name : tableAndChartDataSets(page)) {
        if (std::any_of(m_info.cbegin(), m_info.cend(), [&](const DataSetInfo &i) {
                return i.reportPage == reportPage && i.dataSetName == name;
            }))
            continue;
        DataSetInfo info;
        info.dataSetName = name;
        info.reportPage = reportPage;
        info.dataSetNo = 0;
        announce(info);
        m_info.append(info);
    }
}

QStringList RptDataSets::tableAndChartDataSets(const RptPageObject *page)
{
    QStringList names;
    const auto add = [&names](const QString &name) {
        if (!name.isEmpty() && !names.contains(name))
            names.append(name);
    };
    for (const RptBandObject *band : page->bands) {
        for (const RptFieldObject *field : band->fields) {
            if (field->fieldType == RptName::CrossTab && field->crossTab)
                add(field->crossTab->dataSourceName);
            else if (field->fieldType == RptName::Diagram) {
                for (const QVariantMap &series : field->chartSeries)
                    add(series.value(QStringLiteral("graphDS")).toString());
            }
        }
    }
    return names;
}

void RptDataSets::open(int reportPage)
{
    RptPageObject *page = m_pages.value(reportPage, nullptr);
    if (!page)
        return;
    auto registerSql = [this, reportPage](const QString &name, int count) {
        if (!setRecCount(reportPage, name, count) && !setRecCount(reportPage, 1, count))
            m_info.append(DataSetInfo { name, reportPage, 1, count });
    };
    if (page->userSqlConnection.active) {
        auto *sql = new RptSql;
        sql->setConnection(page->userSqlConnection);
        sql->setObjectName(page->userSqlConnection.dsName);
        page->setSqlSource(sql);
        if (sql->openQuery())
            registerSql(sql->DSName(), sql->getRecordCount());
        return;
    }
    const QDomElement pageElement = page->element();
    for (QDomElement e = pageElement.firstChildElement(QStringLiteral("DataSource")); !e.isNull();
         e = e.nextSiblingElement(QStringLiteral("DataSource"))) {
        const QString type = e.attribute(QStringLiteral("type"));
        if (type == QLatin1String("SQL")) {
            auto *sql = new RptSql;
            sql->loadXML(e);
            page->setSqlSource(sql);
            if (sql->openQuery())
                registerSql(sql->DSName(), sql->getRecordCount());
        } else if (type == QLatin1String("INLINE")) {
            RptDsAbstract *source = nullptr;
            if (e.attribute(QStringLiteral("plugin")).isEmpty())
                source = new RptDsInline;
            else
                source = new RptDsPlugin;
            source->loadXML(e);
            const int count = source->getRecordCount();
            if (!setRecCount(reportPage, source->DSName(), count))
                m_info.append(DataSetInfo { source->DSName(), reportPage, 1, count });
            page->setOtherSource(source);
        }
    }
}
