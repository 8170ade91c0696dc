#pragma once

#include "datasetinfo.h"
#include "rptpageobject.h"
#include "rptsqlconnection.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

// The data of a print run: the data sets of each page's master data bands
// with their record counts, the SQL connections the caller gave for pages,
// and opening each page's data sources.
class RptDataSets
{
public:
    // pages is the model of the template, which every run builds anew.
    explicit RptDataSets(const PageList &pages);

    // Every data set of the page with that number or name gets the count;
    // false when there is none.
    bool setRecCount(int reportPage, int dataSetNo, int recCount);
    bool setRecCount(int reportPage, const QString &dataSetName, int recCount);
    // The count of the last data set of the page with that number or name,
    // 0 without one.
    int getRecCount(int reportPage, int dataSetNo) const;
    int getRecCount(int reportPage, const QString &dataSetName) const;
    QList<DataSetInfo> &infoList() { return m_info; }
    void clearInfo() { m_info.clear(); }

    void setUserSqlConnection(int reportPage, const RptSqlConnection &connection);
    bool getUserSqlConnection(int reportPage, RptSqlConnection &connection) const;
    void activateUserSqlConnection(int reportPage, bool on);
    // Hands the connections to the pages of a freshly built model.
    void applyUserSqlConnections();

    // Tells announce about every master data band of the page (by bandNo,
    // missing numbers skipped), then about every other data set a cross-tab
    // or a chart series of the page names, and records the answers.
    void announce(int reportPage, const std::function<void(DataSetInfo &)> &announce);
    // The data sets the page's cross-tabs and chart series name, in the
    // order of their fields, each once.
    static QStringList tableAndChartDataSets(const RptPageObject *page);
    // Opens the page's SQL / inline / plug-in sources and registers counts.
    void open(int reportPage);

private:
    template <typename Key> QVector<int> matching(int reportPage, const Key &key) const;
    template <typename Key> bool setCount(int reportPage, const Key &key, int recCount);
    template <typename Key> int count(int reportPage, const Key &key) const;

    const PageList &m_pages;
    QList<DataSetInfo> m_info;
    QList<RptSqlConnection> m_userSqlConnections;
};
