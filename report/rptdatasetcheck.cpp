#include "rptdatasetcheck.h"

#include "rpttemplatevocabulary.h"

#include <QFile>
#include <QRegularExpression>
#include <QXmlStreamReader>

#include <algorithm>

namespace {

// Offset of the attribute in the start tag running from start to end, or
// the tag's own offset.
int attributeOffset(const QString &text, int start, int end, const QString &attribute)
{
    const QRegularExpression pattern(
        QStringLiteral("(?<![\\w:.-])%1\\s*=").arg(QRegularExpression::escape(attribute)));
    const QRegularExpressionMatch m = pattern.match(text.left(end), start);
    return m.hasMatch() ? m.capturedStart() : start;
}

QString named(const QXmlStreamAttributes &attributes, const QString &kind)
{
    const QString name = attributes.value(QLatin1String("name")).toString();
    const QString caption = attributes.value(QLatin1String("caption")).toString();
    const QString label = name.isEmpty() ? caption : name;
    return label.isEmpty() ? kind : QStringLiteral("%1 \"%2\"").arg(kind, label);
}

} // namespace

void RptDataSetCheck::setDataSetNames(const QSet<QString> &names)
{
    m_dataSetNames = names;
    m_haveData = true;
}

bool RptDataSetCheck::checkFile(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    checkText(QString::fromUtf8(file.readAll()));
    return true;
}

void RptDataSetCheck::checkText(const QString &text)
{
    m_text = text;
    m_findings.clear();
    m_lineStarts = { 0 };
    for (int i = 0; i < text.size(); ++i) {
        if (text.at(i) == QLatin1Char('\n'))
            m_lineStarts.append(i + 1);
    }
    QXmlStreamReader reader(text);
    QVector<Use> uses;
    QSet<QString> sources;
    // The chart field whose Series elements are being read, by depth.
    int chartDepth = -1;
    QString chart;
    int depth = 0;
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::EndElement) {
            --depth;
            if (depth < chartDepth)
                chartDepth = -1;
            if (reader.name() == QLatin1String("Report")) {
                checkPage(uses, sources);
                uses.clear();
                sources.clear();
            }
            continue;
        }
        if (token != QXmlStreamReader::StartElement)
            continue;
        ++depth;
        const QString tag = reader.name().toString();
        const QXmlStreamAttributes attributes = reader.attributes();
        const int end = int(reader.characterOffset());
        const int start = qMax(0, text.lastIndexOf(QLatin1Char('<') + tag, end - 1));
        const QString type = attributes.value(QLatin1String("type")).toString();
        if (tag == QLatin1String("DataSource")) {
            sources.insert(attributes.value(QLatin1String("name")).toString());
        } else if (type == QLatin1String("crossTab")) {
            const QString name = attributes.value(QLatin1String("dataSourceName")).toString();
            if (!name.isEmpty())
                uses.append({ name, named(attributes, QStringLiteral("cross-tab")),
                    attributeOffset(text, start, end, QStringLiteral("dataSourceName")) });
        } else if (type == QLatin1String("diagram")) {
            chartDepth = depth;
            chart = named(attributes, QStringLiteral("chart"));
        } else if (chartDepth >= 0 && depth == chartDepth + 1) {
            const QString name = attributes.value(QLatin1String("graphDS")).toString();
            if (!name.isEmpty())
                uses.append({ name,
                    QStringLiteral("%1 of %2")
                        .arg(named(attributes, QStringLiteral("series")), chart),
                    attributeOffset(text, start, end, QStringLiteral("graphDS")) });
        }
    }
}

void RptDataSetCheck::checkPage(const QVector<Use> &uses, const QSet<QString> &sources)
{
    for (const Use &u : uses) {
        if (sources.contains(u.name))
            continue;
        if (!m_haveData) {
            add(u.offset, false,
                QStringLiteral("data set \"%1\" of %2 comes from no data source of the page; the "
                               "caller must answer it (give --data to check it)")
                    .arg(u.name, u.what));
            continue;
        }
        if (m_dataSetNames.contains(u.name))
            continue;
        QStringList known = m_dataSetNames.values() + sources.values();
        std::sort(known.begin(), known.end());
        const QString near = RptTemplateVocabulary::nearest(u.name, known);
        add(u.offset, true,
            QStringLiteral("data set \"%1\" of %2 is in neither the data file's \"datasets\" nor "
                           "a data source of the page, and shows nothing%3")
                .arg(u.name, u.what,
                    near.isEmpty() ? QString()
                                   : QStringLiteral("; did you mean \"%1\"?").arg(near)));
    }
}

void RptDataSetCheck::add(int offset, bool error, const QString &message)
{
    m_findings.append(RptCheckFinding::at(m_lineStarts, offset, error, message));
}

QList<RptCheckFinding> RptDataSetCheck::merged(
    const QList<RptCheckFinding> &a, const QList<RptCheckFinding> &b)
{
    QList<RptCheckFinding> all = a + b;
    std::stable_sort(
        all.begin(), all.end(), [](const RptCheckFinding &x, const RptCheckFinding &y) {
            return x.line != y.line ? x.line < y.line : x.column < y.column;
        });
    return all;
}
