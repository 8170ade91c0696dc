#include "rptrenderdatasets.h"

#include <QStringList>

bool RptRenderDataSets::load(const QJsonObject &sets, QString *error)
{
    m_counts.clear();
    m_records.clear();
    for (auto it = sets.constBegin(); it != sets.constEnd(); ++it) {
        const QJsonValue v = it.value();
        if (v.isArray()) {
            const QJsonArray records = v.toArray();
            for (const QJsonValue &r : records) {
                if (!r.isObject()) {
                    *error = QStringLiteral("a record of data set \"%1\" is not an object")
                                 .arg(it.key());
                    return false;
                }
            }
            m_records.insert(it.key(), records);
            m_counts.insert(it.key(), records.size());
            continue;
        }
        if (!v.isDouble() || v.toDouble() < 0) {
            *error = QStringLiteral(
                "data set \"%1\" is neither a record count nor an array of records")
                         .arg(it.key());
            return false;
        }
        m_counts.insert(it.key(), v.toInt());
    }
    return true;
}

bool RptRenderDataSets::value(
    const QString &name, int recNo, const QString &field, QVariant *value) const
{
    const auto set = m_records.constFind(name);
    if (set == m_records.constEnd() || recNo < 0 || recNo >= set->size())
        return false;
    const QJsonObject record = set->at(recNo).toObject();
    const auto it = record.constFind(field);
    if (it == record.constEnd())
        return false;
    *value = it.value().toVariant();
    return true;
}

bool RptRenderDataSets::split(const QString &variable, QString *set, QString *field) const
{
    const int dot = variable.indexOf(QLatin1Char('.'));
    if (dot <= 0 || !m_records.contains(variable.left(dot)))
        return false;
    *set = variable.left(dot);
    *field = variable.mid(dot + 1);
    return true;
}

QSet<QString> RptRenderDataSets::names() const
{
    QSet<QString> all;
    for (auto it = m_counts.constBegin(); it != m_counts.constEnd(); ++it)
        all.insert(it.key());
    return all;
}

QSet<QString> RptRenderDataSets::variables() const
{
    QSet<QString> all;
    for (auto set = m_records.constBegin(); set != m_records.constEnd(); ++set) {
        for (const QJsonValue &r : *set) {
            const QStringList keys = r.toObject().keys();
            for (const QString &k : keys) {
                all.insert(k);
                all.insert(set.key() + QLatin1Char('.') + k);
            }
        }
    }
    return all;
}
