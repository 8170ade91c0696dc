#include "rpttemplatevocabulary.h"

#include "rptengine.h"

#include <QHash>
#include <QVector>

#include <algorithm>
#include <climits>

namespace {

// What the loader reads, element by element. Attributes that only the
// template designer writes (ZValue, groupName, ...) are known too, so
// templates saved by it come out clean.
const QHash<QString, QStringList> &attributeTable()
{
    static const QHash<QString, QStringList> table {
        { QStringLiteral("Reports"),
            { QStringLiteral("lib"), QStringLiteral("author"), QStringLiteral("contact") } },
        { QStringLiteral("Script"), {} },
        { QStringLiteral("Report"),
            { QStringLiteral("pageNo"), QStringLiteral("orientation"), QStringLiteral("pageHeight"),
                QStringLiteral("pageWidth"), QStringLiteral("marginsLeft"),
                QStringLiteral("marginsRight"), QStringLiteral("marginsTop"),
                QStringLiteral("marginsBottom"), QStringLiteral("border"),
                QStringLiteral("borderWidth"), QStringLiteral("borderColor"),
                QStringLiteral("borderStyle"), QStringLiteral("watermark"),
                QStringLiteral("watermarkOpacity"), QStringLiteral("watermarkPixmap"),
                QStringLiteral("pageFormat") } },
        { QStringLiteral("ReportBand"),
            { QStringLiteral("name"), QStringLiteral("height"), QStringLiteral("width"),
                QStringLiteral("left"), QStringLiteral("right"), QStringLiteral("groupingField"),
                QStringLiteral("groupLevel"), QStringLiteral("showInGroup"),
                QStringLiteral("startNewPage"), QStringLiteral("startNewNumeration"),
                QStringLiteral("bandNo"), QStringLiteral("type"),
                QStringLiteral("dataSourceName") } },
        { QStringLiteral("TContainerField"),
            { QStringLiteral("name"), QStringLiteral("value"), QStringLiteral("type"),
                QStringLiteral("left"), QStringLiteral("top"), QStringLiteral("width"),
                QStringLiteral("height"), QStringLiteral("borderTop"),
                QStringLiteral("borderBottom"), QStringLiteral("borderLeft"),
                QStringLiteral("borderRight"), QStringLiteral("borderWidth"),
                QStringLiteral("borderStyle"), QStringLiteral("borderColor"),
                QStringLiteral("rotate"), QStringLiteral("aligmentH"), QStringLiteral("aligmentV"),
                QStringLiteral("autoHeight"), QStringLiteral("textWrap"),
                QStringLiteral("fontFamily"), QStringLiteral("fontSize"),
                QStringLiteral("fontBold"), QStringLiteral("fontItalic"),
                QStringLiteral("fontUnderline"), QStringLiteral("fontStrikeout"),
                QStringLiteral("fontColor"), QStringLiteral("backgroundColor"),
                QStringLiteral("highlighting"), QStringLiteral("printing"),
                QStringLiteral("format"), QStringLiteral("imgFormat"), QStringLiteral("picture"),
                QStringLiteral("ignoreAspectRatio"), QStringLiteral("barcodeType"),
                QStringLiteral("barcodeFrameType"), QStringLiteral("barcodeHeight"),
                QStringLiteral("lineStartX"), QStringLiteral("lineEndX"),
                QStringLiteral("lineStartY"), QStringLiteral("lineEndY"),
                QStringLiteral("arrowStart"), QStringLiteral("arrowEnd"),
                // charts
                QStringLiteral("caption"), QStringLiteral("showLegend"),
                QStringLiteral("staticChart"), QStringLiteral("titleFont"),
                QStringLiteral("legendFont"), QStringLiteral("colorLegend"),
                QStringLiteral("colorBackground"), QStringLiteral("colorTitle"),
                QStringLiteral("legendAligment"), QStringLiteral("chartType"),
                // cross-tabs
                QStringLiteral("dataSourceName"), QStringLiteral("totalBackgroundColor"),
                QStringLiteral("headerBackgroundColor"), QStringLiteral("colCount"),
                QStringLiteral("rowHeight"), QStringLiteral("totalByRowVisible"),
                QStringLiteral("totalByColVisible"), QStringLiteral("subtotalIsVisible"),
                QStringLiteral("headerIsVisible"),
                // written by the designer, read by nobody
                QStringLiteral("ZValue"), QStringLiteral("renderingMode"),
                QStringLiteral("input_format"), QStringLiteral("groupName") } },
        { QStringLiteral("Column"),
            { QStringLiteral("caption"), QStringLiteral("value"), QStringLiteral("width") } },
        { QStringLiteral("Series"),
            { QStringLiteral("caption"), QStringLiteral("color"), QStringLiteral("graphDS"),
                QStringLiteral("val"), QStringLiteral("holeSize"), QStringLiteral("sliceExploaded"),
                QStringLiteral("labelVisible") } },
        { QStringLiteral("DataSource"),
            { QStringLiteral("type"), QStringLiteral("name"), QStringLiteral("dbType"),
                QStringLiteral("dbName"), QStringLiteral("dbHost"), QStringLiteral("dbUser"),
                QStringLiteral("dbPassword"), QStringLiteral("dbCoding"),
                QStringLiteral("charsetCoding"), QStringLiteral("dbPort"),
                QStringLiteral("dbConnectionName"), QStringLiteral("rowCount"),
                QStringLiteral("delimiter"), QStringLiteral("plugin"), QStringLiteral("fileName"),
                QStringLiteral("dsAliasName") } },
        { QStringLiteral("Row"), { QStringLiteral("value") } },
        { QStringLiteral("Data"), {} },
    };
    return table;
}

int distance(const QString &a, const QString &b)
{
    const QString x = a.toLower();
    const QString y = b.toLower();
    QVector<int> row(y.size() + 1);
    for (int j = 0; j <= y.size(); ++j)
        row[j] = j;
    QVector<int> before = row;
    QVector<int> previous = row;
    for (int i = 1; i <= x.size(); ++i) {
        int diagonal = row[0];
        row[0] = i;
        for (int j = 1; j <= y.size(); ++j) {
            const int above = row[j];
            row[j] = std::min(
                { row[j] + 1, row[j - 1] + 1, diagonal + (x.at(i - 1) == y.at(j - 1) ? 0 : 1) });
            // Two letters swapped count as one slip.
            if (i > 1 && j > 1 && x.at(i - 1) == y.at(j - 2) && x.at(i - 2) == y.at(j - 1))
                row[j] = std::min(row[j], previous[j - 2] + 1);
            diagonal = above;
        }
        previous = before;
        before = row;
    }
    return row[y.size()];
}
} // namespace

QStringList RptTemplateVocabulary::attributes(const QString &element)
{
    return attributeTable().value(element);
}

const QStringList &RptTemplateVocabulary::bandTypes()
{
    static const QStringList types { QStringLiteral("PageHeader"), QStringLiteral("ReportTitle"),
        QStringLiteral("MasterHeader"), QStringLiteral("DataGroupHeader"),
        QStringLiteral("MasterData"), QStringLiteral("DataGroupFooter"),
        QStringLiteral("MasterFooter"), QStringLiteral("ReportSummary"),
        QStringLiteral("PageFooter") };
    return types;
}

const QStringList &RptTemplateVocabulary::fieldTypes()
{
    static const QStringList types = [] {
        QStringList list;
        for (int t = RptName::Label; t <= RptName::CrossTab; ++t)
            list.append(RptEngine::getFieldTypeName(RptName::FieldType(t)));
        return list;
    }();
    return types;
}

const QStringList &RptTemplateVocabulary::internalVariables()
{
    static const QStringList names { QStringLiteral("<Date>"), QStringLiteral("<Time>"),
        QStringLiteral("<Page>"), QStringLiteral("<TotalPages>"), QStringLiteral("<LineNo>"),
        QStringLiteral("<LineCount>") };
    return names;
}

const QStringList &RptTemplateVocabulary::highlightAspects()
{
    static const QStringList names { QStringLiteral("bold"), QStringLiteral("italic"),
        QStringLiteral("underline"), QStringLiteral("strikeout"), QStringLiteral("fontColor"),
        QStringLiteral("backgroundColor") };
    return names;
}

QString RptTemplateVocabulary::nearest(const QString &name, const QStringList &candidates)
{
    QString best;
    int bestDistance = INT_MAX;
    for (const QString &c : candidates) {
        const int d = distance(name, c);
        if (d < bestDistance) {
            bestDistance = d;
            best = c;
        }
    }
    // A third of the name may be wrong, at most three letters.
    const int allowed = qBound(1, name.size() / 3, 3);
    return bestDistance <= allowed ? best : QString();
}
