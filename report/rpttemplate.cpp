#include "rpttemplate.h"

#include "reportlogging.h"
#include "rptbandobject.h"
#include "rptfieldobject.h"
#include "rptpicturefile.h"

#include <QFile>
#include <QObject>

#include <algorithm>

RptTemplate::RptTemplate(QObject *pageParent)
    : m_pageParent(pageParent)
    , m_xmlDoc(QStringLiteral("Reports"))
{
}

RptTemplate::~RptTemplate()
{
    clear();
}

bool RptTemplate::load(const QString &fileName, RptLoadError *error)
{
    RptLoadError details;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        details.hasError = true;
        details.message = file.errorString();
        qCWarning(lcReport).noquote()
            << QStringLiteral("RptEngine::loadReport(\"%1\")").arg(fileName) << details.message;
        m_loadError = details;
        if (error)
            *error = details;
        return false;
    }
    // Parse into a document of its own: a broken file must not take the
    // loaded template away from the next print run.
    QDomDocument doc;
    QString message;
    int line = 0;
    int column = 0;
    const QByteArray bytes = file.readAll();
    file.close();
    const bool parsed = doc.setContent(bytes, &message, &line, &column);
    if (!parsed) {
        details.hasError = true;
        details.line = line;
        details.column = column;
        details.message = message;
        qCWarning(lcReport).noquote()
            << "Report file not found" << fileName << line << column << message;
        m_loadError = details;
        if (error)
            *error = details;
        return false;
    }
    m_loadError = RptLoadError();
    if (error)
        *error = m_loadError;
    m_xmlDoc = doc;
    // Positions count characters of the text as the parser decoded it.
    m_source = QString::fromUtf8(bytes);
    m_lineStarts = { 0 };
    for (int i = 0; i < m_source.size(); ++i) {
        if (m_source.at(i) == QLatin1Char('\n'))
            m_lineStarts.append(i + 1);
    }
    m_pictureDir = RptPictureFile::folderOf(fileName);
    return build();
}

void RptTemplate::load(const QDomDocument &doc)
{
    m_loadError = RptLoadError();
    m_xmlDoc = doc;
    m_source.clear();
    m_lineStarts.clear();
    m_pictureDir.clear();
    build();
}

bool RptTemplate::build()
{
    clear();
    m_globalScript.clear();
    m_scriptLine = m_scriptColumn = 0;
    const QDomElement root = m_xmlDoc.documentElement();
    for (QDomElement e = root.firstChildElement(); !e.isNull(); e = e.nextSiblingElement()) {
        if (e.tagName() == QLatin1String("Report")) {
            auto *page = new RptPageObject(m_pageParent);
            page->setProperty(e);
            m_pages.append(page);
        } else if (e.tagName() == QLatin1String("Script")) {
            const QDomNode first = e.firstChild();
            if (first.isCDATASection())
                m_globalScript = first.toCDATASection().data();
            m_scriptLine = qMax(0, e.lineNumber());
            m_scriptColumn = qMax(0, e.columnNumber());
        }
    }
    placeElements();
    readPictureFiles();
    return true;
}

// The parser tells where an element's start tag ends; an author looks for
// where it begins, as the template check reports it.
void RptTemplate::placeElements()
{
    if (m_source.isEmpty())
        return;
    placeElement(&m_scriptLine, &m_scriptColumn);
    for (RptPageObject *page : qAsConst(m_pages)) {
        for (RptBandObject *band : qAsConst(page->bands)) {
            placeElement(&band->line, &band->column);
            for (RptFieldObject *field : qAsConst(band->fields))
                placeElement(&field->line, &field->column);
        }
    }
}

void RptTemplate::placeElement(int *line, int *column) const
{
    if (*line < 1 || *line > m_lineStarts.size() || *column < 1)
        return;
    int at = qMin(m_lineStarts.at(*line - 1) + *column - 1, m_source.size() - 1);
    // No '<' can stand inside a start tag, attribute values included.
    while (at > 0 && m_source.at(at) != QLatin1Char('<'))
        --at;
    int l = int(
        std::upper_bound(m_lineStarts.cbegin(), m_lineStarts.cend(), at) - m_lineStarts.cbegin());
    *line = l;
    *column = at - m_lineStarts.at(l - 1) + 1;
}

// Pictures are read with every build, so a run shows the file as it is now.
void RptTemplate::readPictureFiles()
{
    for (RptPageObject *page : qAsConst(m_pages)) {
        for (RptBandObject *band : qAsConst(page->bands)) {
            for (RptFieldObject *field : qAsConst(band->fields)) {
                if (field->pictureFile.isEmpty() || m_pictureDir.isEmpty())
                    continue;
                QString format;
                QString error;
                if (RptPictureFile::read(
                        m_pictureDir, field->pictureFile, &error, &field->picture, &format))
                    field->imgFormat = format;
                else
                    qCWarning(lcReport).noquote() << "RptEngine::loadReport" << error;
            }
        }
    }
}

void RptTemplate::clear()
{
    qDeleteAll(m_pages);
    m_pages.clear();
}

Qt::Alignment RptTemplate::getAligment(const QDomElement &e)
{
    Qt::Alignment a;
    const QString h = e.attribute(QStringLiteral("aligmentH"));
    if (h == QLatin1String("hJustify"))
        a |= Qt::AlignJustify;
    else if (h == QLatin1String("hCenter"))
        a |= Qt::AlignHCenter;
    else if (h == QLatin1String("hLeft"))
        a |= Qt::AlignLeft;
    else if (h == QLatin1String("hRight"))
        a |= Qt::AlignRight;
    const QString v = e.attribute(QStringLiteral("aligmentV"));
    if (v == QLatin1String("vCenter"))
        a |= Qt::AlignVCenter;
    else if (v == QLatin1String("vBottom"))
        a |= Qt::AlignBottom;
    else if (v == QLatin1String("vTop"))
        a |= Qt::AlignTop;
    return a;
}

Qt::PenStyle RptTemplate::getPenStyle(const QString &style)
{
    if (style == QLatin1String("dashed"))
        return Qt::DashLine;
    if (style == QLatin1String("dotted"))
        return Qt::DotLine;
    if (style == QLatin1String("dot-dash"))
        return Qt::DashDotLine;
    if (style == QLatin1String("dot-dot-dash"))
        return Qt::DashDotDotLine;
    return Qt::SolidLine;
}

RptName::FieldType RptTemplate::getFieldType(const QDomElement &e)
{
    const QString type = e.attribute(QStringLiteral("type"), QStringLiteral("label"));
    struct Named
    {
        const char *name;
        RptName::FieldType type;
    };
    static const Named first[] = {
        { "barcode", RptName::Barcode },
        { "reactangle", RptName::Reactangle },
        { "roundedReactangle", RptName::RoundedReactangle },
        { "circle", RptName::Circle },
        { "triangle", RptName::Triangle },
        { "rhombus", RptName::Rhombus },
        { "textRich", RptName::TextRich },
        { "label", RptName::Label },
        { "labelImage", RptName::LabelImage },
    };
    for (const Named &n : first) {
        if (type == QLatin1String(n.name))
            return n.type;
    }
    if (type == QLatin1String("image"))
        return RptName::Image;
    if (e.hasAttribute(QStringLiteral("picture"))
        && e.attribute(QStringLiteral("picture")) != QLatin1String("text"))
        return RptName::Image;
    static const Named second[] = {
        { "diagram", RptName::Diagram },
        { "line", RptName::Line },
        { "DatabaseImage", RptName::DatabaseImage },
        { "crossTab", RptName::CrossTab },
    };
    for (const Named &n : second) {
        if (type == QLatin1String(n.name))
            return n.type;
    }
    return RptName::Label;
}

QString RptTemplate::getFieldTypeName(RptName::FieldType type)
{
    static const char *const names[] = { "label", "labelImage", "textRich", "image", "diagram",
        "reactangle", "roundedReactangle", "circle", "triangle", "rhombus", "line", "barcode",
        "DatabaseImage", "crossTab" };
    if (type < 0 || type > RptName::CrossTab)
        return QStringLiteral("label");
    return QLatin1String(names[type]);
}
