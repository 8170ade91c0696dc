#pragma once

#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <QVector>

class RptDataFeed;
class RptFieldObject;

namespace QtCharts {
class QChart;
}

// Sets up a chart field's chart as the template says: title, legend,
// colours and fonts from the field's chart attributes, and one series per
// Series element whose data set (graphDS) has records, drawn as the
// chartType says (line, bar, stacked bar or pie).
//
// Each record of a series' data set is one point: its value is the
// series' "val" and its category label the chart field's own "value",
// both evaluated for that record as any field value is. Series without a
// data set or without records add nothing; the caller may still add its
// own (RptEngine::setChart, setValueDiagram).
class RptChartBuilder
{
public:
    // feed may be null: then only the attributes are applied.
    explicit RptChartBuilder(RptDataFeed *feed);

    void build(RptFieldObject *field, QtCharts::QChart *chart);

    // One series of a chart as its data gives it.
    struct Points
    {
        QVariantMap attributes;
        QStringList labels;
        QVector<double> values;
    };

private:
    static void applyAttributes(const QVariantMap &a, QtCharts::QChart *chart);
    QVector<Points> readSeries(RptFieldObject *field);
    static void addPies(const QVector<Points> &all, QtCharts::QChart *chart);
    static void addBars(const QVector<Points> &all, bool stacked, QtCharts::QChart *chart);
    static void addLines(const QVector<Points> &all, QtCharts::QChart *chart);
    // The categories of the first series, longer ones continuing them.
    static QStringList categories(const QVector<Points> &all);
    static void addAxes(
        const QStringList &categories, const QVector<Points> &all, QtCharts::QChart *chart);

    RptDataFeed *m_feed;
};
