#pragma once

#include "rptname.h"

#include <QString>

// Where a print run stands: the report page and record being laid out, the
// line counter of numbered rows, the printed page number and count, the
// page range asked for and the kind of output. The engine owns it; the
// layout moves it forward and evaluation reads it, both by reference.
struct RptRunState
{
    int curPage = 0;
    int recNo = 0;
    // The data set recNo counts in: the data source name of the master data
    // band, cross-tab or chart series being evaluated; empty for the
    // caller's unnamed records.
    QString dataSet;
    int lineCounter = 0;
    int pageNo = 1;
    int totalPages = 0;
    // 0 for either end: no limit there.
    int fromPage = 0;
    int toPage = 0;
    RptName::OutputMode mode = RptName::PrinterMode;
};
