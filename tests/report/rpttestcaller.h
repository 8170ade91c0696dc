#pragma once

#include "rptengine.h"

#include <QHash>
#include <QObject>
#include <QStringList>
#include <QVariant>

// Plays the caller that supplies a report's data: answers setDSInfo with a
// record count and setValue from per-variable columns, and remembers every
// question it was asked.
class RptTestCaller : public QObject
{
    Q_OBJECT

public:
    explicit RptTestCaller(RptEngine *engine, QObject *parent = nullptr)
        : QObject(parent)
    {
        connect(
            engine, &RptEngine::setDSInfo, this, &RptTestCaller::onDSInfo, Qt::DirectConnection);
        connect(engine, &RptEngine::setValue, this, &RptTestCaller::onValue, Qt::DirectConnection);
        connect(engine, &RptEngine::setValueImage, this, &RptTestCaller::onValueImage,
            Qt::DirectConnection);
    }

    int recCount = 0;
    // Values per variable name, one entry per record; a name missing here is
    // left unanswered.
    QHash<QString, QVariantList> columns;
    QImage image;

    QList<DataSetInfo> announced;
    QStringList asked;
    QList<int> askedRecords;
    QList<int> askedPages;

public slots:
    void onDSInfo(DataSetInfo &info)
    {
        announced.append(info);
        info.recCount = recCount;
    }
    void onValue(
        const int recNo, const QString paramName, QVariant &paramValue, const int reportPage)
    {
        asked.append(paramName);
        askedRecords.append(recNo);
        askedPages.append(reportPage);
        const auto it = columns.constFind(paramName);
        if (it != columns.constEnd() && recNo >= 0 && recNo < it->size())
            paramValue = it->at(recNo);
    }
    void onValueImage(
        const int recNo, const QString paramName, QImage &paramValue, const int reportPage)
    {
        Q_UNUSED(recNo)
        Q_UNUSED(reportPage)
        asked.append(paramName);
        paramValue = image;
    }
};
