#pragma once

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QSet>
#include <QString>
#include <QVariant>

// The "datasets" object of a data file: each name gives either a record
// count (the master "records" then answer its rows) or an array of records
// of its own, which master data bands, cross-tabs and chart series that
// name it show:
//   "datasets": { "": 2, "meals": [ {"day": "Mon", "soups": 12}, ... ] }
class RptRenderDataSets
{
public:
    // False with the reason (without the file name) in *error when a value
    // is neither a count nor an array of objects.
    bool load(const QJsonObject &sets, QString *error);

    bool contains(const QString &name) const { return m_counts.contains(name); }
    // The record count of the data set, fallback for a name it does not give.
    int count(const QString &name, int fallback) const { return m_counts.value(name, fallback); }
    // Whether the data set has records of its own (an array).
    bool hasRecords(const QString &name) const { return m_records.contains(name); }
    // The value of field in record recNo of the data set; false when the
    // data set, the record or the field is missing.
    bool value(const QString &name, int recNo, const QString &field, QVariant *value) const;
    // A variable written "set.field" for a data set with records: the two
    // parts; false for any other name.
    bool split(const QString &variable, QString *set, QString *field) const;

    // Every data set name.
    QSet<QString> names() const;
    // What data variables the records answer: each field alone and after its
    // data set's name and a point.
    QSet<QString> variables() const;

private:
    QHash<QString, int> m_counts;
    QHash<QString, QJsonArray> m_records;
};
