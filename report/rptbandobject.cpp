#include "rptbandobject.h"

#include "rptfieldobject.h"

namespace {
RptName::BandType bandTypeFromString(const QString &s)
{
    static const char *const names[]
        = { "PageHeader", "ReportTitle", "MasterHeader", "DataGroupHeader", "MasterData",
              "DataGroupFooter", "MasterFooter", "ReportSummary", "PageFooter" };
    for (int i = 0; i < 9; ++i) {
        if (s == QLatin1String(names[i]))
            return RptName::BandType(i + 1);
    }
    return RptName::Undefined;
}
} // namespace

RptBandObject::~RptBandObject()
{
    qDeleteAll(fields);
}

void RptBandObject::setProperty(const QDomElement &e)
{
    name = e.attribute(QStringLiteral("name"));
    realHeight = e.attribute(QStringLiteral("height")).toInt();
    height = realHeight;
    width = e.attribute(QStringLiteral("width")).toInt();
    left = e.attribute(QStringLiteral("left")).toInt();
    right = e.attribute(QStringLiteral("right")).toInt();
    groupingField = e.attribute(QStringLiteral("groupingField"));
    groupLevel = e.attribute(QStringLiteral("groupLevel"), QStringLiteral("0")).toInt();
    showInGroup = e.attribute(QStringLiteral("showInGroup"), QStringLiteral("0")).toInt() != 0;
    startNewPage = e.attribute(QStringLiteral("startNewPage"), QStringLiteral("0")).toInt() != 0;
    startNewNumeration
        = e.attribute(QStringLiteral("startNewNumeration"), QStringLiteral("0")).toInt() != 0;
    bandNo = e.attribute(QStringLiteral("bandNo"), QStringLiteral("1")).toInt();
    type = bandTypeFromString(e.attribute(QStringLiteral("type")));
    dataSourceName = e.attribute(QStringLiteral("dataSourceName"));
    line = qMax(0, e.lineNumber());
    column = qMax(0, e.columnNumber());
    for (QDomElement f = e.firstChildElement(); !f.isNull(); f = f.nextSiblingElement()) {
        auto *field = new RptFieldObject;
        addField(field);
        field->setProperty(f);
    }
}

void RptBandObject::addField(RptFieldObject *field)
{
    field->parent = this;
    fields.append(field);
}

RptBandObject *RptBandObject::clone() const
{
    auto *b = new RptBandObject;
    b->name = name;
    b->height = height;
    b->realHeight = realHeight;
    b->width = width;
    b->left = left;
    b->right = right;
    b->groupingField = groupingField;
    b->groupLevel = groupLevel;
    b->showInGroup = showInGroup;
    b->startNewPage = startNewPage;
    b->startNewNumeration = startNewNumeration;
    b->bandNo = bandNo;
    b->type = type;
    b->dataSourceName = dataSourceName;
    b->line = line;
    b->column = column;
    for (RptFieldObject *f : fields)
        b->addField(f->clone());
    return b;
}
