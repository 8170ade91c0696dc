#pragma once

#include "rptengine.h"

#include <QDomDocument>
#include <QString>

namespace RptTest {

inline QString dataPath(const QString &name)
{
    return QStringLiteral(RPT_TEST_DATA_DIR "/") + name;
}

// Loads a template given as text; fails the calling test when it is not XML.
inline bool loadXml(RptEngine &engine, const QString &xml)
{
    QDomDocument doc;
    if (!doc.setContent(xml))
        return false;
    return engine.loadReport(doc);
}

// One report page holding the given bands (and other children).
inline QString page(const QString &children, const QString &pageAttributes = QString())
{
    return QStringLiteral("<Reports lib=\"RptEngine\"><Report %1>%2</Report></Reports>")
        .arg(pageAttributes, children);
}

// Prepares a run as the layout does: rebuilds the model, announces and opens
// every page's data, and leaves the context on page 0, record 0.
inline void prepareRun(RptEngine &engine)
{
    engine.beginRun();
    for (int i = 0; i < engine.pageList.size(); ++i) {
        engine.setCurPage(i);
        engine.announceDataSets(i);
        engine.openDataSource(i);
    }
    engine.setCurPage(0);
    engine.setRecNo(0);
}

} // namespace RptTest
