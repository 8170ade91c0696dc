#include "rptrenderdata.h"

#include "datasetinfo.h"
#include "jsonguard.h"
#include "rptengine.h"
#include "rptpicturefile.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonParseError>

RptRenderData::RptRenderData(QObject *parent)
    : QObject(parent)
{
}

bool RptRenderData::load(const QString &fileName, QString *error)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read data file %1: %2").arg(fileName, file.errorString());
        return false;
    }
    QString parseError;
    const QJsonDocument doc = JsonGuard::parse(file.readAll(), &parseError);
    if (!parseError.isEmpty()) {
        *error = QStringLiteral("invalid data file %1: %2").arg(fileName, parseError);
        return false;
    }
    if (!doc.isObject()) {
        *error = QStringLiteral("invalid data file %1: not a JSON object").arg(fileName);
        return false;
    }
    const QJsonObject root = doc.object();
    const QJsonValue records = root.value(QStringLiteral("records"));
    const QJsonValue values = root.value(QStringLiteral("values"));
    const QJsonValue datasets = root.value(QStringLiteral("datasets"));
    if (!records.isUndefined() && !records.isArray()) {
        *error = QStringLiteral("invalid data file %1: \"records\" is not an array").arg(fileName);
        return false;
    }
    if (!values.isUndefined() && !values.isObject()) {
        *error = QStringLiteral("invalid data file %1: \"values\" is not an object").arg(fileName);
        return false;
    }
    if (!datasets.isUndefined() && !datasets.isObject()) {
        *error = QStringLiteral("invalid data file %1: \"datasets\" is not an object").arg(fileName);
        return false;
    }
    m_records = records.toArray();
    for (const QJsonValue &r : qAsConst(m_records)) {
        if (!r.isObject()) {
            *error = QStringLiteral("invalid data file %1: a record is not an object").arg(fileName);
            return false;
        }
    }
    m_values = values.toObject();
    m_dir = QFileInfo(fileName).absolutePath();
    QString setError;
    if (!m_datasets.load(datasets.toObject(), &setError)) {
        *error = QStringLiteral("invalid data file %1: %2").arg(fileName, setError);
        return false;
    }
    return true;
}

void RptRenderData::attach(RptEngine *engine)
{
    connect(engine, &RptEngine::setDSInfo, this, &RptRenderData::onDSInfo, Qt::DirectConnection);
    connect(engine, &RptEngine::setValue, this, &RptRenderData::onValue, Qt::DirectConnection);
    connect(engine, &RptEngine::setValueImage, this, &RptRenderData::onValueImage,
        Qt::DirectConnection);
    m_engine = engine;
    // The data file says what there is: a name it lacks is a mistake.
    engine->setUnansweredVariablesAreErrors(!m_dir.isEmpty());
}

QSet<QString> RptRenderData::names() const
{
    QSet<QString> all;
    for (const QJsonValue &r : m_records) {
        const QStringList keys = r.toObject().keys();
        for (const QString &k : keys)
            all.insert(k);
    }
    const QStringList keys = m_values.keys();
    for (const QString &k : keys)
        all.insert(k);
    return all + m_datasets.variables();
}

QSet<QString> RptRenderData::dataSetNames() const
{
    return m_datasets.names();
}

void RptRenderData::onDSInfo(DataSetInfo &info)
{
    // Master data bands fall back on the records; a cross-tab's or a chart's
    // data set (number 0) must be given.
    if (m_datasets.contains(info.dataSetName) || info.dataSetNo > 0)
        info.recCount = m_datasets.count(info.dataSetName, m_records.size());
}

void RptRenderData::onValue(const int recNo, const QString paramName, QVariant &paramValue, const int reportPage)
{
    Q_UNUSED(reportPage)
    QString set;
    QString field;
    if (m_datasets.split(paramName, &set, &field) && m_datasets.value(set, recNo, field, &paramValue))
        return;
    // A data set with records of its own answers its rows' names; what they
    // lack comes from "values", not from another data set's records.
    set = m_engine ? m_engine->dataSetName() : QString();
    if (m_datasets.hasRecords(set)) {
        if (m_datasets.value(set, recNo, paramName, &paramValue))
            return;
        const auto it = m_values.constFind(paramName);
        if (it != m_values.constEnd())
            paramValue = it.value().toVariant();
        return;
    }
    if (recNo >= 0 && recNo < m_records.size()) {
        const QJsonObject record = m_records.at(recNo).toObject();
        const auto it = record.constFind(paramName);
        if (it != record.constEnd()) {
            paramValue = it.value().toVariant();
            return;
        }
    }
    const auto it = m_values.constFind(paramName);
    if (it != m_values.constEnd())
        paramValue = it.value().toVariant();
}

void RptRenderData::onValueImage(
    const int recNo, const QString paramName, QImage &paramValue, const int reportPage)
{
    // Answered from the data as text values are.
    QVariant value;
    onValue(recNo, paramName, value, reportPage);
    if (!value.isValid()) {
        if (!m_dir.isEmpty() && m_engine)
            m_engine->reportEvaluationError(
                QStringLiteral("unknown variable [%1]: the data has no image of that name")
                    .arg(paramName));
        return;
    }
    const QString text = value.toString();
    if (!text.isEmpty())
        paramValue = image(paramName, text);
}

QImage RptRenderData::image(const QString &name, const QString &text)
{
    const auto base64
        = QByteArray::fromBase64Encoding(text.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (base64.decodingStatus == QByteArray::Base64DecodingStatus::Ok) {
        const QImage decoded = QImage::fromData(base64.decoded);
        if (!decoded.isNull())
            return decoded;
    }
    QByteArray bytes;
    QString format;
    // A long text meant to be Base64 is no file name worth showing.
    QString error = QStringLiteral("its value is no Base64 image");
    if (text.size() <= 255 && RptPictureFile::read(m_dir, text, &error, &bytes, &format))
        return QImage::fromData(bytes, format.toLatin1().constData());
    if (m_engine)
        m_engine->reportEvaluationError(
            QStringLiteral("image [%1] is neither Base64 nor an image file beside the data: %2")
                .arg(name, error));
    return QImage();
}
