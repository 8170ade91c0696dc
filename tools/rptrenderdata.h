#pragma once

#include <QHash>
#include <QImage>
#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QVariant>

#include "rptrenderdatasets.h"

class RptEngine;
struct DataSetInfo;

// The data of a report read from a JSON file, answering the engine as a
// caller would:
//   "records"  array of objects; every data set gets its length as record
//              count and setValue(recNo, name) answers records[recNo][name]
//   "values"   object answering the names a record does not hold
//   "datasets" optional object: data-set name -> record count override, or
//              -> array of records of that data set (RptRenderDataSets)
// An image field's variable is answered with the picture its value holds:
// Base64 text, or the name of an image file relative to the data file.
class RptRenderData : public QObject
{
    Q_OBJECT

public:
    explicit RptRenderData(QObject *parent = nullptr);

    // False with a one-line reason in *error when the file cannot be read or
    // is not such an object.
    bool load(const QString &fileName, QString *error);
    void attach(RptEngine *engine);
    // Every name a record or "values" holds: what [name] can be answered with.
    QSet<QString> names() const;
    // The data sets "datasets" gives, by name.
    QSet<QString> dataSetNames() const;

public slots:
    void onDSInfo(DataSetInfo &info);
    void onValue(const int recNo, const QString paramName, QVariant &paramValue, const int reportPage);
    void onValueImage(
        const int recNo, const QString paramName, QImage &paramValue, const int reportPage);

private:
    QImage image(const QString &name, const QString &text);

    // Empty until a file is loaded: without data nothing is missing.
    QString m_dir;
    QJsonArray m_records;
    QJsonObject m_values;
    RptRenderDataSets m_datasets;
    QPointer<RptEngine> m_engine;
};
