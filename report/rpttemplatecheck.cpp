#include "rpttemplatecheck.h"

#include "rptbarcode.h"
#include "rptengine.h"
#include "rptexpressionevaluator.h"
#include "rptpicturefile.h"
#include "rptscriptengine.h"
#include "rpttemplatevocabulary.h"

#include <QDomDocument>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QRect>
#include <QRegularExpression>
#include <QScriptEngine>
#include <QXmlStreamReader>

#include <algorithm>

namespace {

QString hint(const QString &suggestion, const QString &open = QStringLiteral("\""),
    const QString &close = QStringLiteral("\""))
{
    if (suggestion.isEmpty())
        return QString();
    return QStringLiteral("; did you mean %1%2%3?").arg(open, suggestion, close);
}

// Internal variables become numbers and data variables values, as they are
// before the engine hands a text to the script engine; what is left is
// what the script engine gets to see.
QString withValues(const QString &text)
{
    QString v = text;
    for (const QString &name : RptTemplateVocabulary::internalVariables())
        v.replace(name, QLatin1String("1"));
    for (const QString &variable : RptExpressionEvaluator::variables(v))
        v.replace(variable, QLatin1String("0"));
    return v;
}

// The formula pieces of a field value, cut as the engine cuts them.
QStringList formulaPieces(const QString &value)
{
    QString v = value;
    for (const QString &name : RptTemplateVocabulary::internalVariables())
        v.replace(name, QLatin1String("1"));
    v = RptExpressionEvaluator::rewriteAggregates(v);
    static const QRegularExpression ifPattern(
        QStringLiteral("(if\\s*)\\((.*?)\\)"), QRegularExpression::DotMatchesEverythingOption);
    QString escaped;
    int last = 0;
    QRegularExpressionMatchIterator it = ifPattern.globalMatch(v);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        escaped += v.midRef(last, m.capturedStart() - last);
        QString condition = m.captured(0);
        condition.replace(QLatin1Char('<'), QLatin1String("&lt-;"))
            .replace(QLatin1Char('>'), QLatin1String("&gt+;"));
        escaped += condition;
        last = m.capturedEnd();
    }
    escaped += v.midRef(last);
    v = withValues(escaped);

    QStringList pieces;
    QString current;
    bool inFormula = false;
    for (const QChar c : qAsConst(v)) {
        if (c == QLatin1Char('<')) {
            if (!current.isEmpty())
                pieces.append(current);
            current = c;
            inFormula = true;
        } else if (c == QLatin1Char('>')) {
            current += c;
            pieces.append(current);
            current.clear();
            inFormula = false;
        } else if (!inFormula && c == QLatin1Char('[')) {
            if (!current.isEmpty())
                pieces.append(current);
            current = c;
        } else if (!inFormula && c == QLatin1Char(']')) {
            current += c;
            pieces.append(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.isEmpty())
        pieces.append(current);

    QStringList formulas;
    for (QString piece : qAsConst(pieces)) {
        if (!piece.contains(QLatin1Char('<')) || !piece.contains(QLatin1Char('>')))
            continue;
        piece.remove(QLatin1Char('<')).remove(QLatin1Char('>'));
        piece.replace(QLatin1String("&lt-;"), QLatin1String("<"))
            .replace(QLatin1String("&gt+;"), QLatin1String(">"));
        formulas.append(piece);
    }
    return formulas;
}

} // namespace

RptTemplateCheck::RptTemplateCheck()
    : m_script(new RptScriptEngine)
{
}

RptTemplateCheck::~RptTemplateCheck() = default;

void RptTemplateCheck::setDataNames(const QSet<QString> &names)
{
    m_dataNames = names;
    m_haveData = true;
}

int RptTemplateCheck::errorCount() const
{
    return int(std::count_if(
        m_findings.begin(), m_findings.end(), [](const RptCheckFinding &f) { return f.error; }));
}

int RptTemplateCheck::warningCount() const
{
    return m_findings.size() - errorCount();
}

QStringList RptTemplateCheck::knownAttributes(const QString &element)
{
    return RptTemplateVocabulary::attributes(element);
}

QString RptTemplateCheck::nearest(const QString &name, const QStringList &candidates)
{
    return RptTemplateVocabulary::nearest(name, candidates);
}

bool RptTemplateCheck::checkFile(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    m_templateDir = QFileInfo(fileName).absolutePath();
    checkText(QString::fromUtf8(file.readAll()));
    return true;
}

void RptTemplateCheck::add(int offset, bool error, const QString &message)
{
    m_findings.append(RptCheckFinding::at(m_lineStarts, offset, error, message));
}

int RptTemplateCheck::attributeOffset(const Node *node, const QString &name) const
{
    const QRegularExpression pattern(
        QStringLiteral("(?<![\\w:.-])%1\\s*=").arg(QRegularExpression::escape(name)));
    const QRegularExpressionMatch m
        = pattern.match(m_text.left(node->end), node->start + node->tag.size() + 1);
    return m.hasMatch() ? m.capturedStart() : node->start;
}

void RptTemplateCheck::checkText(const QString &text)
{
    m_text = text;
    m_lineStarts = { 0 };
    for (int i = 0; i < text.size(); ++i) {
        if (text.at(i) == QLatin1Char('\n'))
            m_lineStarts.append(i + 1);
    }

    QXmlStreamReader reader(text);
    std::unique_ptr<Node> root;
    Node *current = nullptr;
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::StartElement) {
            auto node = std::make_unique<Node>();
            node->tag = reader.name().toString();
            node->attributes = reader.attributes();
            node->end = int(reader.characterOffset());
            node->start = m_text.lastIndexOf(
                QLatin1Char('<') + reader.qualifiedName().toString(), node->end - 1);
            node->parent = current;
            Node *raw = node.get();
            if (current)
                current->children.push_back(std::move(node));
            else
                root = std::move(node);
            current = raw;
        } else if (token == QXmlStreamReader::EndElement) {
            current = current ? current->parent : nullptr;
        } else if (token == QXmlStreamReader::Characters && current) {
            if (current->text.isEmpty()) {
                // CDATA markup and entities make the text shorter than its
                // source; the text itself is found after the start tag.
                const int at = m_text.indexOf(reader.text().toString(), current->end);
                current->textStart
                    = at >= 0 ? at : int(reader.characterOffset()) - reader.text().size();
            }
            current->text += reader.text();
        }
    }
    if (reader.hasError()) {
        RptCheckFinding f;
        // An empty text ends at line 1, column 0: columns count from 1 here.
        f.line = qMax(1, int(reader.lineNumber()));
        f.column = qMax(1, int(reader.columnNumber()));
        f.message = QStringLiteral("malformed XML: %1").arg(reader.errorString());
        m_findings.append(f);
        return;
    }
    if (!root)
        return;

    collectNames(root.get());
    if (root->tag != QLatin1String("Reports"))
        add(root->start, false,
            QStringLiteral("root element <%1> should be <Reports>; the loader reads its "
                           "<Report> children whatever its name")
                .arg(root->tag));
    checkChildren(root.get(), { QStringLiteral("Report"), QStringLiteral("Script") },
        QStringLiteral("in <%1>").arg(root->tag));
    int pages = 0;
    for (const auto &child : root->children) {
        if (child->tag == QLatin1String("Report")) {
            ++pages;
            checkPage(child.get());
        } else if (child->tag == QLatin1String("Script")) {
            checkScript(child.get());
        }
    }
    if (pages == 0)
        add(root->start, true, QStringLiteral("no <Report> element: nothing to print"));
    std::stable_sort(m_findings.begin(), m_findings.end(),
        [](const RptCheckFinding &a, const RptCheckFinding &b) {
            return a.line != b.line ? a.line < b.line : a.column < b.column;
        });
}

void RptTemplateCheck::collectNames(const Node *root)
{
    // Field names are script globals; the global script's functions too.
    QList<const Node *> todo { root };
    while (!todo.isEmpty()) {
        const Node *n = todo.takeLast();
        if (n->parent && n->parent->tag == QLatin1String("ReportBand")) {
            const QString name = n->attributes.value(QLatin1String("name")).toString();
            if (!name.isEmpty()) {
                m_scriptNames.insert(name);
                m_fieldNames.insert(name);
            }
            const Node *band = n->parent;
            if (band->attributes.value(QLatin1String("type")) == QLatin1String("MasterData")) {
                QDomDocument doc;
                QDomElement e = doc.createElement(QStringLiteral("f"));
                for (const QXmlStreamAttribute &a : n->attributes)
                    e.setAttribute(a.name().toString(), a.value().toString());
                if (RptEngine::getFieldType(e) == RptName::Label) {
                    for (const QString &v : RptExpressionEvaluator::variables(
                             n->attributes.value(QLatin1String("value")).toString()))
                        m_collected.insert(
                            QString(v).remove(QLatin1Char('[')).remove(QLatin1Char(']')));
                }
            }
        }
        if (n->tag == QLatin1String("ReportBand")) {
            for (const QString &v : RptExpressionEvaluator::variables(
                     n->attributes.value(QLatin1String("groupingField")).toString()))
                m_collected.insert(QString(v).remove(QLatin1Char('[')).remove(QLatin1Char(']')));
        }
        if (n->tag == QLatin1String("Script")) {
            static const QRegularExpression defined(QStringLiteral(
                "function\\s+([A-Za-z_$][\\w$]*)|([A-Za-z_$][\\w$]*)\\s*=\\s*function\\b|"
                "var\\s+([A-Za-z_$][\\w$]*)"));
            QRegularExpressionMatchIterator it = defined.globalMatch(n->text);
            while (it.hasNext()) {
                const QRegularExpressionMatch m = it.next();
                for (int g = 1; g <= 3; ++g) {
                    if (!m.captured(g).isEmpty())
                        m_scriptNames.insert(m.captured(g));
                }
            }
        }
        for (const auto &c : n->children)
            todo.append(c.get());
    }
}

void RptTemplateCheck::checkAttributes(const Node *node, const QString &kind)
{
    const QStringList known = knownAttributes(kind);
    for (const QXmlStreamAttribute &a : node->attributes) {
        const QString name = a.qualifiedName().toString();
        if (known.contains(name))
            continue;
        add(attributeOffset(node, name), true,
            QStringLiteral("unknown attribute %1 of <%2>, ignored%3")
                .arg(name, node->tag, hint(nearest(name, known))));
    }
}

void RptTemplateCheck::checkChildren(
    const Node *node, const QStringList &allowed, const QString &where)
{
    for (const auto &child : node->children) {
        if (allowed.contains(child->tag))
            continue;
        add(child->start, true,
            QStringLiteral("unknown element <%1> %2, ignored%3")
                .arg(child->tag, where,
                    hint(nearest(child->tag, allowed), QStringLiteral("<"), QStringLiteral(">"))));
    }
}

void RptTemplateCheck::checkPage(const Node *page)
{
    checkAttributes(page, QStringLiteral("Report"));
    checkChildren(page, { QStringLiteral("ReportBand"), QStringLiteral("DataSource") },
        QStringLiteral("in <Report>"));
    if (!page->attributes.value(QLatin1String("watermarkPixmap")).isEmpty())
        checkPicture(page, QStringLiteral("watermarkPixmap"), QStringLiteral("PNG"));

    QVector<DataSource> sources;
    for (const auto &child : page->children) {
        if (child->tag != QLatin1String("DataSource"))
            continue;
        const Node *ds = child.get();
        checkAttributes(ds, QStringLiteral("DataSource"));
        DataSource source;
        source.type = ds->attributes.value(QLatin1String("type")).toString();
        source.name = ds->attributes.value(QLatin1String("name")).toString();
        const bool plugin = !ds->attributes.value(QLatin1String("plugin")).isEmpty();
        if (source.type == QLatin1String("INLINE")) {
            checkChildren(ds, { plugin ? QStringLiteral("Data") : QStringLiteral("Row") },
                QStringLiteral("in an INLINE <DataSource>"));
            if (!plugin && !ds->children.empty()) {
                const QString delimiter
                    = ds->attributes.value(QLatin1String("delimiter")).toString();
                const QString header
                    = ds->children.front()->attributes.value(QLatin1String("value")).toString();
                source.columns
                    = delimiter.isEmpty() ? QStringList { header } : header.split(delimiter);
            }
            if (plugin)
                source.type = QStringLiteral("PLUGIN");
        } else if (source.type == QLatin1String("SQL")) {
            checkChildren(ds, {}, QStringLiteral("in an SQL <DataSource>"));
        } else {
            const QStringList types { QStringLiteral("SQL"), QStringLiteral("INLINE") };
            add(attributeOffset(ds, QStringLiteral("type")), true,
                QStringLiteral("data source type \"%1\" is not read (SQL or INLINE)%2")
                    .arg(source.type, hint(nearest(source.type, types))));
            continue;
        }
        sources.append(source);
    }

    const int pageWidth = page->attributes.value(QLatin1String("pageWidth")).toInt();
    const int pageHeight = page->attributes.value(QLatin1String("pageHeight")).toInt();
    const int usableWidth = pageWidth - page->attributes.value(QLatin1String("marginsLeft")).toInt()
        - page->attributes.value(QLatin1String("marginsRight")).toInt();
    const int usableHeight = pageHeight
        - page->attributes.value(QLatin1String("marginsTop")).toInt()
        - page->attributes.value(QLatin1String("marginsBottom")).toInt();
    const bool landscape = page->attributes.value(QLatin1String("orientation")).toInt() == 1;
    for (const auto &child : page->children) {
        if (child->tag == QLatin1String("ReportBand"))
            checkBand(child.get(), sources, pageWidth > 0 ? usableWidth : 0,
                pageHeight > 0 && !landscape ? usableHeight : 0);
    }
}

void RptTemplateCheck::checkBand(
    const Node *band, const QVector<DataSource> &sources, int usableWidth, int usableHeight)
{
    checkAttributes(band, QStringLiteral("ReportBand"));
    const QString type = band->attributes.value(QLatin1String("type")).toString();
    if (!band->attributes.hasAttribute(QLatin1String("type"))) {
        add(band->start, true,
            QStringLiteral("band without type is never printed (one of %1)")
                .arg(RptTemplateVocabulary::bandTypes().join(QLatin1String(", "))));
    } else if (!RptTemplateVocabulary::bandTypes().contains(type)) {
        add(attributeOffset(band, QStringLiteral("type")), true,
            QStringLiteral("unknown band type \"%1\": the band is never printed%2")
                .arg(type, hint(nearest(type, RptTemplateVocabulary::bandTypes()))));
    }
    const int height = band->attributes.value(QLatin1String("height")).toInt();
    if (usableHeight > 0 && height > usableHeight)
        add(attributeOffset(band, QStringLiteral("height")), false,
            QStringLiteral("band is %1 units high, the page has %2 between its margins; it "
                           "runs past the page bottom")
                .arg(height)
                .arg(usableHeight));
    checkValue(band, QStringLiteral("groupingField"), false, sources);

    for (const auto &child : band->children)
        checkField(child.get(), sources, usableWidth);

    // Overlaps between fields that print something of their own; shapes
    // and lines are drawn under or between texts on purpose.
    struct Placed
    {
        const Node *node;
        QRect rect;
    };
    QVector<Placed> placed;
    for (const auto &child : band->children) {
        const Node *f = child.get();
        QDomDocument doc;
        QDomElement e = doc.createElement(QStringLiteral("f"));
        for (const QXmlStreamAttribute &a : f->attributes)
            e.setAttribute(a.name().toString(), a.value().toString());
        const RptName::FieldType t = RptEngine::getFieldType(e);
        if ((t >= RptName::Reactangle && t <= RptName::Line)
            || f->attributes.value(QLatin1String("printing")) == QLatin1String("0"))
            continue;
        const QRect r(f->attributes.value(QLatin1String("left")).toInt(),
            f->attributes.value(QLatin1String("top")).toInt(),
            f->attributes.value(QLatin1String("width")).toInt(),
            f->attributes.value(QLatin1String("height")).toInt());
        for (const Placed &p : qAsConst(placed)) {
            if (!p.rect.intersects(r))
                continue;
            add(f->start, false,
                QStringLiteral("field %1 overlaps field %2 (%3)")
                    .arg(locate(f), locate(p.node),
                        QStringLiteral("line %1").arg(std::upper_bound(m_lineStarts.begin(),
                                                          m_lineStarts.end(), p.node->start)
                            - m_lineStarts.begin())));
        }
        placed.append({ f, r });
    }
}

QString RptTemplateCheck::locate(const Node *node) const
{
    const QString name = node->attributes.value(QLatin1String("name")).toString();
    return name.isEmpty() ? QStringLiteral("<%1>").arg(node->tag)
                          : QStringLiteral("\"%1\"").arg(name);
}

void RptTemplateCheck::checkField(
    const Node *field, const QVector<DataSource> &sources, int usableWidth)
{
    checkAttributes(field, QStringLiteral("TContainerField"));
    QDomDocument doc;
    QDomElement e = doc.createElement(QStringLiteral("f"));
    for (const QXmlStreamAttribute &a : field->attributes)
        e.setAttribute(a.name().toString(), a.value().toString());
    const RptName::FieldType type = RptEngine::getFieldType(e);
    const QString typeText = field->attributes.value(QLatin1String("type")).toString();
    if (field->attributes.hasAttribute(QLatin1String("type")) && !RptTemplateVocabulary::fieldTypes().contains(typeText))
        add(attributeOffset(field, QStringLiteral("type")), false,
            QStringLiteral("unknown field type \"%1\" prints as a label%2")
                .arg(typeText, hint(nearest(typeText, RptTemplateVocabulary::fieldTypes()))));

    if (type == RptName::CrossTab) {
        checkChildren(field, { QStringLiteral("Column") }, QStringLiteral("in a cross-tab"));
        for (const auto &c : field->children)
            checkAttributes(c.get(), QStringLiteral("Column"));
    } else if (type == RptName::Diagram) {
        for (const auto &c : field->children)
            checkAttributes(c.get(), QStringLiteral("Series"));
    } else {
        checkChildren(field, {}, QStringLiteral("in a field"));
    }

    if (type == RptName::Label || type == RptName::TextRich || type == RptName::Barcode)
        checkValue(field, QStringLiteral("value"), type != RptName::TextRich, sources);
    else if (type == RptName::LabelImage)
        checkValue(field, QStringLiteral("value"), false, sources);
    checkPrinting(field, sources);
    checkHighlighting(field, sources);

    if (type == RptName::Image) {
        if (field->attributes.hasAttribute(QLatin1String("picture")))
            checkPicture(field, QStringLiteral("picture"),
                e.attribute(QStringLiteral("imgFormat"), QStringLiteral("PNG")));
        else
            add(field->start, false,
                QStringLiteral("image field %1 has no picture and draws nothing")
                    .arg(locate(field)));
    }

    if (type == RptName::Barcode) {
        const int symbology
            = e.attribute(QStringLiteral("barcodeType"), QStringLiteral("13")).toInt();
        const QString value = field->attributes.value(QLatin1String("value")).toString();
        // Values with data or formulas are only known when printed.
        if (!RptBarcode::isSupported(symbology)) {
            add(attributeOffset(field, QStringLiteral("barcodeType")), true,
                QStringLiteral("barcodeType %1 is no libzint symbology (13 EAN-13, 20 Code 128, "
                               "58 QR code)")
                    .arg(symbology));
        } else if (!value.contains(QLatin1Char('[')) && !value.contains(QLatin1Char('<'))) {
            const QString error = RptBarcode::encodingError(symbology, value);
            if (!error.isEmpty())
                add(attributeOffset(field, QStringLiteral("value")), true,
                    QStringLiteral("barcode %1 cannot encode \"%2\": %3")
                        .arg(locate(field), value, error));
        }
    }

    if (usableWidth <= 0)
        return;
    int left = field->attributes.value(QLatin1String("left")).toInt();
    int right = left + field->attributes.value(QLatin1String("width")).toInt();
    if (type == RptName::Line) {
        const int a = field->attributes.value(QLatin1String("lineStartX")).toInt();
        const int b = field->attributes.value(QLatin1String("lineEndX")).toInt();
        left = qMin(a, b);
        right = qMax(a, b);
    }
    // A field is drawn one unit narrower than its width.
    if (right - 1 > usableWidth)
        add(field->start, true,
            QStringLiteral("field %1 reaches past the page: its right edge is at %2, the page "
                           "has %3 units between its margins")
                .arg(locate(field))
                .arg(right)
                .arg(usableWidth));
    else if (left < 0)
        add(field->start, true,
            QStringLiteral("field %1 starts %2 units left of the page's margin")
                .arg(locate(field))
                .arg(-left));
}

void RptTemplateCheck::checkValue(
    const Node *node, const QString &attribute, bool formulas, const QVector<DataSource> &sources)
{
    const QString value = node->attributes.value(attribute).toString();
    if (value.isEmpty())
        return;
    checkVariables(node, attribute, value, sources);
    checkAggregates(node, attribute, value);
    if (!formulas)
        return;
    for (const QString &formula : formulaPieces(value))
        checkProgram(node, attribute, formula, QStringLiteral("formula"));
}

void RptTemplateCheck::checkPrinting(const Node *node, const QVector<DataSource> &sources)
{
    const QString printing = node->attributes.value(QLatin1String("printing")).toString();
    checkVariables(node, QStringLiteral("printing"), printing, sources);
    // Shorter texts are read as a number, never compiled.
    if (printing.size() < 2)
        return;
    checkProgram(node, QStringLiteral("printing"), withValues(printing),
        QStringLiteral("printing condition"));
}

void RptTemplateCheck::checkHighlighting(const Node *node, const QVector<DataSource> &sources)
{
    const QString text = node->attributes.value(QLatin1String("highlighting")).toString();
    if (text.isEmpty())
        return;
    checkVariables(node, QStringLiteral("highlighting"), text, sources);
    const QStringList parts = text.split(QLatin1Char(';'));
    const QString condition = withValues(parts.first());
    checkProgram(
        node, QStringLiteral("highlighting"), condition, QStringLiteral("highlighting condition"));
    for (int i = 1; i < parts.size(); ++i) {
        const QString rule = parts.at(i).trimmed();
        if (rule.isEmpty())
            continue;
        const int eq = rule.indexOf(QLatin1Char('='));
        const QString aspect = rule.left(eq).trimmed();
        if (eq < 0 || !RptTemplateVocabulary::highlightAspects().contains(aspect)) {
            add(attributeOffset(node, QStringLiteral("highlighting")), true,
                QStringLiteral("highlighting rule \"%1\" names no aspect (%2)%3")
                    .arg(rule, RptTemplateVocabulary::highlightAspects().join(QLatin1String(", ")),
                        hint(nearest(aspect, RptTemplateVocabulary::highlightAspects()))));
            continue;
        }
        const QString tail = rule.mid(eq + 1).trimmed();
        if (!tail.startsWith(QLatin1Char('?'))) {
            add(attributeOffset(node, QStringLiteral("highlighting")), true,
                QStringLiteral("highlighting rule \"%1\" must go on with \"?\" after \"%2=\"")
                    .arg(rule, aspect));
            continue;
        }
        if (aspect == QLatin1String("fontColor") || aspect == QLatin1String("backgroundColor")) {
            static const QRegularExpression colour(QStringLiteral(
                "^rgba?\\(\\s*\\d+\\s*,\\s*\\d+\\s*,\\s*\\d+\\s*(,\\s*\\d+\\s*)?\\)$"));
            if (!colour.match(tail.mid(1).trimmed()).hasMatch())
                add(attributeOffset(node, QStringLiteral("highlighting")), true,
                    QStringLiteral("highlighting rule \"%1\": a colour is written "
                                   "rgba(red,green,blue,alpha)")
                        .arg(rule));
        } else {
            checkProgram(node, QStringLiteral("highlighting"), condition + withValues(tail),
                QStringLiteral("highlighting rule"));
        }
    }
}

void RptTemplateCheck::checkVariables(const Node *node, const QString &attribute,
    const QString &text, const QVector<DataSource> &sources)
{
    QSet<QString> seen;
    for (const QString &token : RptExpressionEvaluator::variables(text)) {
        QString name = token;
        name.remove(QLatin1Char('[')).remove(QLatin1Char(']'));
        if (seen.contains(name))
            continue;
        seen.insert(name);
        bool claimed = false;
        for (const DataSource &ds : sources) {
            if (!name.contains(ds.name))
                continue;
            claimed = true;
            if (ds.type != QLatin1String("INLINE") || ds.columns.isEmpty())
                break;
            QString column = name;
            if (!ds.name.isEmpty())
                column.remove(ds.name + QLatin1Char('.'));
            if (!ds.columns.contains(column))
                add(attributeOffset(node, attribute), true,
                    QStringLiteral("[%1]: the inline data source \"%2\" has no column \"%3\"%4")
                        .arg(name, ds.name, column, hint(nearest(column, ds.columns))));
            break;
        }
        if (claimed)
            continue;
        if (!m_haveData) {
            add(attributeOffset(node, attribute), false,
                QStringLiteral("[%1] comes from no data source of the template; the caller must "
                               "answer it (give --data to check it)")
                    .arg(name));
        } else if (!m_dataNames.contains(name)) {
            add(attributeOffset(node, attribute), true,
                QStringLiteral("[%1] is in neither the data file nor a data source of the page, "
                               "and prints empty%2")
                    .arg(name,
                        hint(nearest(name, m_dataNames.values()), QStringLiteral("["),
                            QStringLiteral("]"))));
        }
    }
}

void RptTemplateCheck::checkAggregates(
    const Node *node, const QString &attribute, const QString &text)
{
    static const QRegularExpression call(
        QStringLiteral("(?<![\\w.$])(sum|avg|count|min|max)\\((\\[.*?)\\)"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression single(QStringLiteral("^\\[([^\\[\\]]+)\\]$"));
    QRegularExpressionMatchIterator it = call.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        const QString function = m.captured(1).toUpper();
        const QRegularExpressionMatch one = single.match(m.captured(2).trimmed());
        if (!one.hasMatch()) {
            add(attributeOffset(node, attribute), true,
                QStringLiteral("%1 adds up one data variable only and prints 0 here; give each "
                               "record the computed value under a name of its own (in the data "
                               "or the query) and write %2([thatName]), or add it up in the "
                               "global script")
                    .arg(m.captured(0), function));
            continue;
        }
        const QString name = one.captured(1);
        if (!m_collected.contains(name))
            add(attributeOffset(node, attribute), true,
                QStringLiteral("%1 has nothing to add up: no label of a MasterData band shows "
                               "[%2], and only those values are collected; add one (it may be "
                               "small and white)")
                    .arg(m.captured(0), name));
    }
}

void RptTemplateCheck::checkProgram(
    const Node *node, const QString &attribute, const QString &program, const QString &what)
{
    const QScriptSyntaxCheckResult syntax = QScriptEngine::checkSyntax(program);
    if (syntax.state() != QScriptSyntaxCheckResult::Valid) {
        QString message = syntax.state() == QScriptSyntaxCheckResult::Intermediate
            ? QStringLiteral("it ends too early")
            : syntax.errorMessage();
        if (message.isEmpty())
            message = QStringLiteral("syntax error");
        add(attributeOffset(node, attribute), true,
            QStringLiteral("%1 \"%2\" does not compile: %3 at column %4 of it")
                .arg(what, program.trimmed(), message)
                .arg(qMax(1, syntax.errorColumnNumber())));
        return;
    }
    static const QRegularExpression callPattern(
        QStringLiteral("(?<![\\w.$])([A-Za-z_$][\\w$]*)\\s*\\("));
    static const QSet<QString> keywords { QStringLiteral("if"), QStringLiteral("while"),
        QStringLiteral("for"), QStringLiteral("switch"), QStringLiteral("function"),
        QStringLiteral("return"), QStringLiteral("typeof"), QStringLiteral("catch"),
        QStringLiteral("with"), QStringLiteral("new"), QStringLiteral("void"),
        QStringLiteral("delete"), QStringLiteral("in"), QStringLiteral("instanceof") };
    static const QStringList reportFunctions { QStringLiteral("SUM"), QStringLiteral("Replace"),
        QStringLiteral("ToUpper"), QStringLiteral("ToLower"), QStringLiteral("NumberToWords"),
        QStringLiteral("Frac"), QStringLiteral("Floor"), QStringLiteral("Ceil"),
        QStringLiteral("Round"), QStringLiteral("debug"), QStringLiteral("QColor") };
    QRegularExpressionMatchIterator it = callPattern.globalMatch(program);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        const QString name = m.captured(1);
        if (keywords.contains(name) || m_scriptNames.contains(name))
            continue;
        // A function's own name after "function" is a definition.
        if (program.leftRef(m.capturedStart()).trimmed().endsWith(QLatin1String("function")))
            continue;
        if (m_script->globalObject().property(name).isValid())
            continue;
        QStringList candidates = reportFunctions + m_scriptNames.values();
        add(attributeOffset(node, attribute), true,
            QStringLiteral("%1 calls %2(), which does not exist%3")
                .arg(what, name, hint(nearest(name, candidates))));
    }
}

void RptTemplateCheck::checkPicture(
    const Node *node, const QString &attribute, const QString &format)
{
    const QString text = node->attributes.value(attribute).toString();
    if (text == QLatin1String("text"))
        return;
    // Only a field's picture may name a file; a watermark holds the image.
    const bool file = RptPictureFile::isFileName(text);
    const QString base64 = QStringLiteral("the output of \"base64 -w0 %1\"").arg(text.trimmed());
    if (file && attribute == QLatin1String("picture")) {
        QString error = QStringLiteral("only a template file has a folder to read it from");
        if (!m_templateDir.isEmpty() && RptPictureFile::read(m_templateDir, text, &error))
            return;
        add(attributeOffset(node, attribute), true,
            QStringLiteral("%1 of %2 names the file %3, which is not read (%4): put the image "
                           "beside the template, or write %5 into %1")
                .arg(attribute, locate(node), text.trimmed(), error, base64));
        return;
    }
    const QImage image
        = QImage::fromData(QByteArray::fromBase64(text.toLatin1()), format.toLatin1().constData());
    if (image.isNull())
        add(attributeOffset(node, attribute), true,
            QStringLiteral("%1 of %2 does not decode as a %3 image%4")
                .arg(attribute, locate(node), format,
                    file ? QStringLiteral("; %1 holds the image itself in Base64, not a file name: "
                                          "write %2 there")
                               .arg(attribute, base64)
                         : QString()));
}

void RptTemplateCheck::checkScript(const Node *script)
{
    const QString text = script->text;
    if (text.trimmed().isEmpty())
        return;
    const QString program = withValues(RptExpressionEvaluator::rewriteAggregates(text));
    const QScriptSyntaxCheckResult syntax = QScriptEngine::checkSyntax(program);
    if (syntax.state() != QScriptSyntaxCheckResult::Valid) {
        // The script's lines are the template's lines from where it starts.
        const QStringList lines = text.split(QLatin1Char('\n'));
        int offset = script->textStart;
        const int errorLine = qMax(1, syntax.errorLineNumber());
        for (int i = 0; i < errorLine - 1 && i < lines.size(); ++i)
            offset += lines.at(i).size() + 1;
        offset += qMax(0, syntax.errorColumnNumber());
        add(qMin(offset, m_text.size()), true,
            QStringLiteral("global script does not compile: %1")
                .arg(syntax.state() == QScriptSyntaxCheckResult::Intermediate
                        ? QStringLiteral("it ends too early")
                        : syntax.errorMessage().isEmpty() ? QStringLiteral("syntax error")
                                                          : syntax.errorMessage()));
    }
    // A hook named after no field is never called.
    static const QRegularExpression hook(
        QStringLiteral("function\\s+([A-Za-z_$][\\w$]*?)(BeforeData|AfterData)\\s*\\("));
    QRegularExpressionMatchIterator it = hook.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        if (!m_fieldNames.contains(m.captured(1))) {
            const QStringList fields = m_fieldNames.values();
            add(script->textStart + m.capturedStart(1), false,
                QStringLiteral("%1%2 is never called: no field is named \"%1\"%3")
                    .arg(m.captured(1), m.captured(2), hint(nearest(m.captured(1), fields))));
        }
    }
}
