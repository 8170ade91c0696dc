#pragma once

#include <QMetaType>
#include <QString>

// One master data band's announcement to the caller: the caller (or a data
// source) fills recCount, the layout reads it back through RptEngine::getRecCount.
struct DataSetInfo
{
    QString dataSetName;
    int reportPage = 0;
    int dataSetNo = 0;
    int recCount = 0;
};
Q_DECLARE_METATYPE(DataSetInfo)
