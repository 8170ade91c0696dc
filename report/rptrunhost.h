#pragma once

#include "datasetinfo.h"

#include <QImage>
#include <QString>
#include <QVariant>

class RptFieldObject;

namespace QtCharts {
class QChart;
}

// What a print run needs from whoever started it: the caller's values,
// images, fields and charts, and word of data sets and new pages. Layout,
// drawing and evaluation ask through this and never see the engine, which
// answers by emitting its signals.
class RptRunHost
{
public:
    // The model built anew, collected values and data sets forgotten.
    virtual void prepareRun() = 0;
    virtual void announceDataSet(DataSetInfo &info) = 0;
    virtual void announcePage(int page) = 0;
    virtual void askValue(int recNo, const QString &name, QVariant &value, int reportPage) = 0;
    virtual void askValueImage(int recNo, const QString &name, QImage &image, int reportPage) = 0;
    virtual void askField(RptFieldObject &field) = 0;
    // Asks for the chart's settings first, then for its series.
    virtual void askChart(RptFieldObject &field, QtCharts::QChart &chart) = 0;
    virtual void previewClosed() = 0;

protected:
    ~RptRunHost() = default;
};
