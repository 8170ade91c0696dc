#include "rptengine.h"

#include "reportlogging.h"
#include "rptbandobject.h"
#include "rptcolor.h"
#include "rptdsinline.h"
#include "rptdsplugin.h"
#include "rptfieldobject.h"
#include "rptnumberwords.h"
#include "rptreportprocessor.h"
#include "rptscriptengine.h"
#include "rptsql.h"

#include <QDate>
#include <QFile>
#include <QHash>
#include <QLocale>
#include <QPainter>
#include <QRegularExpression>
#include <QScriptContext>
#include <QScriptValueIterator>
#include <QTime>
#include <QVector>

namespace {

// Data values stand in the text with their angle brackets replaced by these
// private-use characters while the text is cut into literal and formula
// pieces, so that data never opens or closes a formula.
constexpr QChar kDataLt(0xE000);
constexpr QChar kDataGt(0xE001);

const QString &ifEscapeLt()
{
    static const QString s = QStringLiteral("&lt-;");
    return s;
}

const QString &ifEscapeGt()
{
    static const QString s = QStringLiteral("&gt+;");
    return s;
}

QString restoreData(QString text)
{
    text.replace(kDataLt, QLatin1Char('<'));
    text.replace(kDataGt, QLatin1Char('>'));
    return text;
}

bool isNumber(const QString &value)
{
    bool ok = false;
    value.toDouble(&ok);
    if (!ok)
        value.toFloat(&ok);
    if (!ok)
        value.toInt(&ok);
    return ok;
}

const char *const kHiNames[]
    = { "bold", "italic", "underline", "strikeout", "fontColor", "backgroundColor" };

} // namespace

RptEngine *createRptEngine()
{
    return new RptEngine(nullptr);
}

RptEngine::RptEngine(QObject *parent)
    : QObject(parent)
    , m_xmlDoc(QStringLiteral("Reports"))
{
    qRegisterMetaType<DataSetInfo>("DataSetInfo");
    qRegisterMetaType<PageList>("PageList");
    m_scriptEngine = new RptScriptEngine(this);
    m_formulaEngine = new RptScriptEngine(this);
    snapshotFormulaGlobals();
    m_processor = new RptReportProcessor(this);
}

RptEngine::~RptEngine()
{
    // The processor may look at the engine while it goes; it must go first.
    delete m_processor;
    m_processor = nullptr;
    clearObject();
    releasePrinterAndPainter();
}

// ---- Loading ------------------------------------------------------------------

bool RptEngine::loadReport(const QString &fileName, RptLoadError *error)
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
    const bool parsed = doc.setContent(&file, &message, &line, &column);
    file.close();
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
    clearListOfPair();
    clearGroupLists();
    m_xmlDoc = doc;
    return makeReportObjectStructure();
}

bool RptEngine::loadReport(const QDomDocument &doc)
{
    clearListOfPair();
    clearGroupLists();
    m_loadError = RptLoadError();
    m_xmlDoc = doc;
    makeReportObjectStructure();
    return true;
}

bool RptEngine::makeReportObjectStructure()
{
    clearObject();
    m_globalScript.clear();
    const QDomElement root = m_xmlDoc.documentElement();
    for (QDomElement e = root.firstChildElement(); !e.isNull(); e = e.nextSiblingElement()) {
        if (e.tagName() == QLatin1String("Report")) {
            auto *page = new RptPageObject(this);
            page->setProperty(this, e);
            pageList.append(page);
        } else if (e.tagName() == QLatin1String("Script")) {
            const QDomNode first = e.firstChild();
            if (first.isCDATASection())
                m_globalScript = first.toCDATASection().data();
        }
    }
    return true;
}

void RptEngine::clearObject()
{
    qDeleteAll(pageList);
    pageList.clear();
}

Qt::Alignment RptEngine::getAligment(const QDomElement &e)
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

Qt::PenStyle RptEngine::getPenStyle(const QString &style)
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

RptName::FieldType RptEngine::getFieldType(const QDomElement &e)
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

QString RptEngine::getFieldTypeName(RptName::FieldType type)
{
    static const char *const names[] = { "label", "labelImage", "textRich", "image", "diagram",
        "reactangle", "roundedReactangle", "circle", "triangle", "rhombus", "line", "barcode",
        "DatabaseImage", "crossTab" };
    if (type < 0 || type > RptName::CrossTab)
        return QStringLiteral("label");
    return QLatin1String(names[type]);
}

// ---- Data sets and sources ----------------------------------------------------

bool RptEngine::setRecCount(int reportPage, int dataSetNo, int recCount)
{
    bool matched = false;
    for (DataSetInfo &info : m_dataSetInfo) {
        if (info.reportPage == reportPage && info.dataSetNo == dataSetNo) {
            info.recCount = recCount;
            matched = true;
        }
    }
    return matched;
}

bool RptEngine::setRecCount(int reportPage, const QString &dataSetName, int recCount)
{
    bool matched = false;
    for (DataSetInfo &info : m_dataSetInfo) {
        if (info.reportPage == reportPage && info.dataSetName == dataSetName) {
            info.recCount = recCount;
            matched = true;
        }
    }
    return matched;
}

int RptEngine::getRecCount(int reportPage, int dataSetNo) const
{
    int count = 0;
    for (const DataSetInfo &info : m_dataSetInfo) {
        if (info.reportPage == reportPage && info.dataSetNo == dataSetNo)
            count = info.recCount;
    }
    return count;
}

int RptEngine::getRecCount(int reportPage, const QString &dataSetName) const
{
    int count = 0;
    for (const DataSetInfo &info : m_dataSetInfo) {
        if (info.reportPage == reportPage && info.dataSetName == dataSetName)
            count = info.recCount;
    }
    return count;
}

void RptEngine::setUserSqlConnection(int reportPage, const QString &dsName, const QString &dbType,
    const QString &dbName, const QString &dbHost, const QString &dbUser, const QString &dbPassword,
    int dbPort, const QString &dbConnectionName, const QString &sqlQuery, const QString &dbCoding,
    const QString &charsetCoding)
{
    RptSqlConnection c;
    c.active = true;
    c.reportPage = reportPage;
    c.dsName = dsName;
    c.dbType = dbType;
    c.dbName = dbName;
    c.dbHost = dbHost;
    c.dbUser = dbUser;
    c.dbPassword = dbPassword;
    c.dbPort = dbPort;
    c.dbConnectionName = dbConnectionName;
    c.sqlQuery = sqlQuery;
    c.dbCoding = dbCoding;
    c.charsetCoding = charsetCoding;
    setUserSqlConnection(reportPage, c);
}

// The engine keeps the caller's connections itself: every print run rebuilds
// the pages, and a connection kept only on a page would be lost with it.
void RptEngine::setUserSqlConnection(int reportPage, const RptSqlConnection &connection)
{
    RptSqlConnection c = connection;
    c.reportPage = reportPage;
    bool replaced = false;
    for (RptSqlConnection &existing : m_userSqlConnections) {
        if (existing.reportPage == reportPage) {
            existing = c;
            replaced = true;
        }
    }
    if (!replaced)
        m_userSqlConnections.append(c);
    if (RptPageObject *page = pageList.value(reportPage, nullptr))
        page->userSqlConnection = c;
}

bool RptEngine::getUserSqlConnection(int reportPage, RptSqlConnection &connection) const
{
    if (RptPageObject *page = pageList.value(reportPage, nullptr)) {
        connection = page->userSqlConnection;
        return true;
    }
    for (const RptSqlConnection &c : m_userSqlConnections) {
        if (c.reportPage == reportPage) {
            connection = c;
            return true;
        }
    }
    return false;
}

void RptEngine::activateUserSqlConnection(int reportPage, bool on)
{
    for (RptSqlConnection &c : m_userSqlConnections) {
        if (c.reportPage == reportPage)
            c.active = on;
    }
    if (RptPageObject *page = pageList.value(reportPage, nullptr))
        page->userSqlConnection.active = on;
}

void RptEngine::announceDataSets(int reportPage)
{
    RptPageObject *page = pageList.value(reportPage, nullptr);
    if (!page)
        return;
    const int highest = page->bandsCountByType(RptName::MasterData);
    for (int n = 1; n <= highest; ++n) {
        const RptBandObject *band = page->getBand(RptName::MasterData, n);
        // Master data bands numbered with gaps: a missing number has no band
        // to ask for, so nothing is announced for it.
        if (!band)
            continue;
        DataSetInfo info;
        info.dataSetName = band->dataSourceName;
        info.reportPage = reportPage;
        info.dataSetNo = n;
        emit setDSInfo(info);
        m_dataSetInfo.append(info);
    }
}

void RptEngine::openDataSource(int reportPage)
{
    RptPageObject *page = pageList.value(reportPage, nullptr);
    if (!page)
        return;
    auto registerSql = [this, reportPage](const QString &name, int count) {
        if (!setRecCount(reportPage, name, count) && !setRecCount(reportPage, 1, count))
            m_dataSetInfo.append(DataSetInfo { name, reportPage, 1, count });
    };
    if (page->userSqlConnection.active) {
        auto *sql = new RptSql;
        sql->setConnection(page->userSqlConnection);
        sql->setObjectName(page->userSqlConnection.dsName);
        page->setSqlSource(sql);
        if (sql->openQuery())
            registerSql(sql->DSName(), sql->getRecordCount());
        return;
    }
    const QDomElement pageElement = page->element();
    for (QDomElement e = pageElement.firstChildElement(QStringLiteral("DataSource")); !e.isNull();
         e = e.nextSiblingElement(QStringLiteral("DataSource"))) {
        const QString type = e.attribute(QStringLiteral("type"));
        if (type == QLatin1String("SQL")) {
            auto *sql = new RptSql;
            sql->loadXML(e);
            page->setSqlSource(sql);
            if (sql->openQuery())
                registerSql(sql->DSName(), sql->getRecordCount());
        } else if (type == QLatin1String("INLINE")) {
            RptDsAbstract *source = nullptr;
            if (e.attribute(QStringLiteral("plugin")).isEmpty())
                source = new RptDsInline;
            else
                source = new RptDsPlugin;
            source->loadXML(e);
            const int count = source->getRecordCount();
            if (!setRecCount(reportPage, source->DSName(), count))
                m_dataSetInfo.append(DataSetInfo { source->DSName(), reportPage, 1, count });
            page->setOtherSource(source);
        }
    }
}

void RptEngine::beginRun()
{
    clearListOfPair();
    clearGroupLists();
    m_rowList.clear();
    makeReportObjectStructure();
    for (const RptSqlConnection &c : m_userSqlConnections) {
        if (RptPageObject *page = pageList.value(c.reportPage, nullptr))
            page->userSqlConnection = c;
    }
    m_dataSetInfo.clear();
    m_curPage = 0;
    m_recNo = 0;
    m_lineCounter = 0;
    m_pageNo = 1;
}

QList<int> &RptEngine::groupIdxList(int level)
{
    if (level >= 0 && level < 3)
        return m_groupIdx[level];
    m_noGroup.clear();
    return m_noGroup;
}

void RptEngine::clearGroupLists()
{
    for (QList<int> &l : m_groupIdx)
        l.clear();
}

RptPageObject *RptEngine::currentPage() const
{
    return pageList.value(m_curPage, nullptr);
}

// ---- Evaluation -------------------------------------------------------------

namespace {

// Patterns are compiled once per thread: engines of different threads never
// share one.
const QRegularExpression &variablePattern()
{
    static thread_local const QRegularExpression re(
        QStringLiteral("\\[\\D.*?]"), QRegularExpression::DotMatchesEverythingOption);
    return re;
}

// Replaces every data variable of text in one pass, so a value that itself
// looks like a variable is never substituted again. value() is asked once
// per distinct variable.
template <typename ValueOf> QString substituteVariables(const QString &text, ValueOf value)
{
    QHash<QString, QString> known;
    QString result;
    int last = 0;
    QRegularExpressionMatchIterator it = variablePattern().globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        const QString token = m.captured(0);
        auto found = known.constFind(token);
        if (found == known.constEnd())
            found = known.insert(token, value(token));
        result += text.midRef(last, m.capturedStart() - last);
        result += *found;
        last = m.capturedEnd();
    }
    if (last == 0)
        return text;
    result += text.midRef(last);
    return result;
}

} // namespace

QStringList RptEngine::splitStringOnVariable(const QString &text)
{
    QStringList list;
    QRegularExpressionMatchIterator it = variablePattern().globalMatch(text);
    while (it.hasNext())
        list.append(it.next().captured(0));
    return list;
}

QVariant RptEngine::getInternalVariable(const QString &name, const QString &formatString)
{
    if (name == QLatin1String("<Date>")) {
        const QDate today = QDate::currentDate();
        QString text;
        if (formatString.isEmpty())
            text = QLocale().toString(today, QLocale::ShortFormat);
        else if (formatString.startsWith(QLatin1Char('D')))
            text = today.toString(formatString.mid(1));
        else
            text = today.toString(formatString);
        if (!text.isEmpty())
            text[0] = text.at(0).toUpper();
        return text;
    }
    if (name == QLatin1String("<Time>"))
        return QTime::currentTime().toString(Qt::TextDate);
    if (name == QLatin1String("<Page>"))
        return m_pageNo;
    if (name == QLatin1String("<TotalPages>"))
        return m_totalPages;
    if (name == QLatin1String("<LineNo>"))
        return m_groupIdx[0].isEmpty() ? m_recNo + 1 : m_lineCounter;
    if (name == QLatin1String("<LineCount>")) {
        int highest = -1;
        for (const AggregateValues &v : m_listOfPair) {
            if (v.reportPage == m_curPage)
                highest = qMax(highest, v.lnNo);
        }
        return highest < 0 ? 1 : highest + 1;
    }
    return QVariant();
}

namespace {
QString replaceInternalVariables(RptEngine *engine, QString text, const QString &formatString)
{
    static const char *const names[]
        = { "<Date>", "<Time>", "<Page>", "<TotalPages>", "<LineNo>", "<LineCount>" };
    for (const char *n : names) {
        const QString name = QLatin1String(n);
        if (text.contains(name))
            text.replace(name, engine->getInternalVariable(name, formatString).toString());
    }
    return text;
}
} // namespace

QString RptEngine::stringPreprocessing(const QString &value, const QString &formatString)
{
    QString text = replaceInternalVariables(this, value, formatString);

    static const char *const aggregates[] = { "SUM", "AVG", "COUNT", "MIN", "MAX" };
    static thread_local const QVector<QRegularExpression> calls = [] {
        QVector<QRegularExpression> list;
        for (const char *a : aggregates)
            list.append(
                QRegularExpression(QStringLiteral("(%1)\\((.*?)\\)").arg(QLatin1String(a))));
        return list;
    }();
    for (const char *a : aggregates) {
        const QString upper = QLatin1String(a) + QLatin1String("([");
        text.replace(upper, upper, Qt::CaseInsensitive);
    }
    for (int k = 0; k < 5; ++k) {
        if (!text.contains(QLatin1String(aggregates[k])))
            continue;
        QRegularExpressionMatchIterator it = calls.at(k).globalMatch(text);
        QStringList found;
        while (it.hasNext())
            found.append(it.next().captured(0));
        for (const QString &match : found) {
            QString quoted = match;
            quoted.replace(QLatin1Char('['), QLatin1Char('\''))
                .replace(QLatin1Char(']'), QLatin1Char('\''));
            text.replace(match, quoted, Qt::CaseInsensitive);
        }
    }
    // Only calls of their own: "Math.max(" or "checksum(" are not aggregates.
    struct Rewrite
    {
        const char *from;
        const char *to;
    };
    static const Rewrite rewrites[] = {
        { "SUM", "SUM(0," },
        { "AVG", "SUM(1," },
        { "COUNT", "SUM(2," },
        { "MAX", "SUM(3," },
        { "MIN", "SUM(4," },
    };
    static thread_local const QVector<QRegularExpression> names = [] {
        QVector<QRegularExpression> list;
        for (const Rewrite &r : rewrites)
            list.append(
                QRegularExpression(QStringLiteral("(?<![\\w.$])%1\\(").arg(QLatin1String(r.from)),
                    QRegularExpression::CaseInsensitiveOption));
        return list;
    }();
    for (int k = 0; k < 5; ++k) {
        if (text.contains(QLatin1String(rewrites[k].from), Qt::CaseInsensitive))
            text.replace(names.at(k), QLatin1String(rewrites[k].to));
    }
    return text;
}

QString RptEngine::escapeData(const QString &value) const
{
    QString v = value;
    v.replace(QLatin1Char('<'), kDataLt);
    v.replace(QLatin1Char('>'), kDataGt);
    return v;
}

QString RptEngine::sectionField(RptBandObject *band, const QString &value, bool keepFormulas,
    bool collect, const QString &formatString)
{
    QString text = stringPreprocessing(value, formatString);

    if (text.contains(QLatin1String("if"))) {
        static thread_local const QRegularExpression reIf(
            QStringLiteral("(if\\s*)\\((.*?)\\)"), QRegularExpression::DotMatchesEverythingOption);
        QString escaped;
        int last = 0;
        QRegularExpressionMatchIterator it = reIf.globalMatch(text);
        while (it.hasNext()) {
            const QRegularExpressionMatch m = it.next();
            escaped += text.midRef(last, m.capturedStart() - last);
            QString cond = m.captured(0);
            cond.replace(QLatin1Char('<'), ifEscapeLt()).replace(QLatin1Char('>'), ifEscapeGt());
            escaped += cond;
            last = m.capturedEnd();
        }
        escaped += text.midRef(last);
        text = escaped;
    }

    text = substituteVariables(text, [this, collect](const QString &token) {
        const QString val = sectionValue(token, -1);
        if (collect) {
            QString name = token;
            name.remove(QLatin1Char('[')).remove(QLatin1Char(']'));
            syncPairIndex();
            PairKey key { m_recNo, m_curPage, name };
            if (!m_pairKeys.contains(key)) {
                m_pairsByName[name].append(m_listOfPair.size());
                m_listOfPair.append(AggregateValues { name, QVariant(val), m_recNo, m_curPage });
                m_pairKeys.insert(std::move(key));
                m_pairIndexed = m_listOfPair.size();
            }
        }
        return escapeData(val);
    });

    QStringList pieces;
    QString cur;
    bool inFormula = false;
    for (const QChar ch : qAsConst(text)) {
        if (ch == QLatin1Char('<')) {
            if (!cur.isEmpty())
                pieces.append(cur);
            cur = ch;
            inFormula = true;
        } else if (ch == QLatin1Char('>')) {
            cur += ch;
            pieces.append(cur);
            cur.clear();
            inFormula = false;
        } else if (!inFormula && ch == QLatin1Char('[')) {
            if (!cur.isEmpty())
                pieces.append(cur);
            cur = ch;
        } else if (!inFormula && ch == QLatin1Char(']')) {
            cur += ch;
            pieces.append(cur);
            cur.clear();
        } else {
            cur += ch;
        }
    }
    if (!cur.isEmpty())
        pieces.append(cur);

    const bool showInGroup = band ? band->showInGroup : false;
    const int groupLevel = band ? band->groupLevel : 0;
    for (QString &piece : pieces) {
        const bool formula = piece.contains(QLatin1Char('<')) && piece.contains(QLatin1Char('>'));
        if (formula && !keepFormulas) {
            QString code = piece;
            code.remove(QLatin1Char('<')).remove(QLatin1Char('>'));
            code.replace(ifEscapeLt(), QStringLiteral("<"))
                .replace(ifEscapeGt(), QStringLiteral(">"));
            code = restoreData(code);
            const QScriptValue result = evaluateExpression(code, showInGroup, groupLevel);
            piece = getFormattedValue(result.toString(), formatString);
        } else {
            piece = restoreData(piece);
        }
    }
    return getFormattedValue(pieces.join(QString()), formatString);
}

QString RptEngine::sectionValue(const QString &token, int recNo)
{
    QString name = token;
    name.remove(QLatin1Char('[')).remove(QLatin1Char(']'));
    if (recNo < 0)
        recNo = m_recNo;
    if (RptPageObject *page = currentPage()) {
        RptDsAbstract *sources[] = { page->sqlSource(), page->otherSource() };
        for (RptDsAbstract *source : sources) {
            if (!source)
                continue;
            const QString dsName = source->DSName();
            if (!name.contains(dsName))
                continue;
            // A source without a name takes every variable of its page as
            // it stands; only a real name is stripped from the variable.
            if (!dsName.isEmpty())
                name.remove(dsName + QLatin1Char('.'));
            return source->getFieldValue(name, recNo);
        }
    }
    QVariant value;
    emit setValue(recNo, name, value, m_curPage);
    return value.toString();
}

QImage RptEngine::sectionFieldImage(const QString &token, int recNo)
{
    RptPageObject *page = currentPage();
    if (!page || !page->sqlSource())
        return QImage();
    QString name = token;
    name.remove(QLatin1Char('[')).remove(QLatin1Char(']'));
    if (!page->sqlSource()->objectName().isEmpty())
        name.remove(page->sqlSource()->objectName() + QLatin1Char('.'));
    return page->sqlSource()->getFieldImage(name, recNo < 0 ? m_recNo : recNo);
}

QImage RptEngine::sectionValueImage(const QString &token, int recNo)
{
    QString name = token;
    name.remove(QLatin1Char('[')).remove(QLatin1Char(']'));
    QImage image;
    emit setValueImage(recNo < 0 ? m_recNo : recNo, name, image, m_curPage);
    return image;
}

QString RptEngine::quoteValue(const QString &value) const
{
    // Data stays a string literal whatever it holds, quotes included.
    QString v = value;
    v.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    v.replace(QLatin1Char('\''), QLatin1String("\\'"));
    v.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    v.replace(QLatin1Char('\r'), QLatin1String("\\r"));
    v.replace(QChar(0x2028), QLatin1String("\\u2028"));
    v.replace(QChar(0x2029), QLatin1String("\\u2029"));
    return QLatin1Char('\'') + v + QLatin1Char('\'');
}

QString RptEngine::getVariableValue(const QString &text, bool quote)
{
    return substituteVariables(text, [this, quote](const QString &token) {
        const QString val = sectionValue(token, -1);
        return quote && !isNumber(val) ? quoteValue(val) : val;
    });
}

QString RptEngine::getFormattedValue(const QString &value, const QString &formatString)
{
    if (!formatString.startsWith(QLatin1Char('N')))
        return value;
    bool ok = false;
    double number = value.toDouble(&ok);
    if (!ok) {
        const float f = value.toFloat(&ok);
        if (ok) {
            number = double(f);
        } else {
            const int i = value.toInt(&ok);
            if (!ok)
                return value;
            number = i;
        }
    }
    const QChar last = formatString.at(formatString.size() - 1);
    const int decimals = last.isDigit() ? last.digitValue() : 0;
    const QString pattern = formatString.mid(1, formatString.size() - 2);
    if (pattern == QLatin1String("# ###.##")) {
        return QLocale(QLocale::Ukrainian, QLocale::Ukraine)
            .toString(number, 'f', decimals)
            .replace(QLatin1Char(','), QLatin1Char('.'));
    }
    if (pattern == QLatin1String("#,###.##")) {
        return QLocale(QLocale::Ukrainian, QLocale::Ukraine)
            .toString(number, 'f', decimals)
            .replace(QLatin1Char(','), QLatin1Char('.'))
            .replace(QChar(160), QLatin1Char(','));
    }
    if (pattern == QLatin1String("# ###,##"))
        return QLocale(QStringLiteral("fr_FR")).toString(number, 'f', decimals);
    if (pattern == QLatin1String("#.###,##"))
        return QLocale(QLocale::German, QLocale::Germany).toString(number, 'f', decimals);
    return value;
}

bool RptEngine::isFieldVisible(RptFieldObject *field)
{
    if (!field)
        return false;
    const QString printing = field->printing;
    if (printing.size() < 2)
        return printing.toInt() != 0;
    return evaluateExpression(getVariableValue(printing, true)).toBool();
}

QVariant RptEngine::processHighligthing(RptFieldObject *field, RptName::HiType type)
{
    const QString aspect = QLatin1String(kHiNames[type]);
    QVariant unchanged;
    const bool colour = type == RptName::FntColor || type == RptName::BgColor;
    // An invalid default colour (attribute missing) stays invalid: its text
    // is empty, not the opaque black an invalid QColor would write.
    const QColor defaultColour
        = type == RptName::FntColor ? field->defaultFontColor : field->defaultBackgroundColor;
    const QString defaultText = defaultColour.isValid() ? colorToString(defaultColour) : QString();
    switch (type) {
    case RptName::FntBold:
        unchanged = field->font.weight() > 57 ? 1 : 0;
        break;
    case RptName::FntItalic:
        unchanged = field->font.italic() ? 1 : 0;
        break;
    case RptName::FntUnderline:
        unchanged = field->font.underline() ? 1 : 0;
        break;
    case RptName::FntStrikeout:
        unchanged = field->font.strikeOut() ? 1 : 0;
        break;
    case RptName::FntColor:
    case RptName::BgColor:
        unchanged = defaultText;
        break;
    }
    const QString &hi = field->highlighting;
    if (hi.isEmpty() || !hi.contains(aspect))
        return unchanged;
    const QStringList parts = hi.split(QLatin1Char(';'));
    // The order templates shade on "<LineNo>", so the condition gets the
    // internal variables as field values do.
    const QString condition = replaceInternalVariables(this, parts.first(), QString());
    for (int i = 1; i < parts.size(); ++i) {
        QString rule = parts.at(i);
        if (rule.isEmpty() || !rule.contains(aspect))
            continue;
        rule.remove(aspect + QLatin1Char('='));
        if (!colour) {
            const QString code = getVariableValue(condition + rule, true);
            return evaluateExpression(code).toInt32();
        }
        const int q = rule.indexOf(QLatin1Char('?'));
        if (q >= 0)
            rule.insert(q + 1, QLatin1Char('\''));
        const QString code = getVariableValue(
            condition + rule + QLatin1String("':'") + defaultText + QLatin1Char('\''), true);
        return evaluateExpression(code).toString();
    }
    return unchanged;
}

void RptEngine::fillListOfValue(RptBandObject *band)
{
    if (!band)
        return;
    for (RptFieldObject *field : qAsConst(band->fields)) {
        if (field->fieldType == RptName::Label && isFieldVisible(field))
            sectionField(band, field->value, false, true, QString());
    }
}

QVariant RptEngine::aggregate(int kind, const QString &name, bool showInGroup, int groupLevel) const
{
    const QList<int> *group
        = (groupLevel >= 0 && groupLevel < 3) ? &m_groupIdx[groupLevel] : nullptr;
    const bool inGroup = group && !group->isEmpty() && showInGroup;
    bool any = false;
    int count = 0;
    double sum = 0;
    double highest = 0;
    double lowest = 0;
    syncPairIndex();
    const auto entries = m_pairsByName.constFind(name);
    if (entries == m_pairsByName.constEnd())
        return 0;
    for (const int i : entries.value()) {
        const AggregateValues &v = m_listOfPair.at(i);
        any = true;
        const bool counted = inGroup ? group->contains(v.lnNo) : !v.paramValue.toString().isEmpty();
        if (!counted)
            continue;
        const double x = v.paramValue.toString().toDouble();
        if (count == 0) {
            highest = lowest = x;
        } else {
            highest = qMax(highest, x);
            lowest = qMin(lowest, x);
        }
        ++count;
        sum += x;
    }
    if (!any)
        return 0;
    switch (kind) {
    case 0:
        return sum;
    case 1:
        return count ? sum / count : 0.0;
    case 2:
        return count;
    case 3:
        return highest;
    case 4:
        return lowest;
    default:
        return 0;
    }
}

void RptEngine::clearListOfPair()
{
    m_listOfPair.clear();
    m_pairKeys.clear();
    m_pairsByName.clear();
    m_pairIndexed = 0;
    m_pairIndexStale = false;
}

void RptEngine::syncPairIndex() const
{
    // Collecting only appends; the list is indexed anew only after someone
    // outside took it for writing, or when it shrank.
    if (m_pairIndexStale || m_pairIndexed > m_listOfPair.size()) {
        m_pairKeys.clear();
        m_pairsByName.clear();
        m_pairIndexed = 0;
        m_pairIndexStale = false;
    }
    for (; m_pairIndexed < m_listOfPair.size(); ++m_pairIndexed) {
        const AggregateValues &v = m_listOfPair.at(m_pairIndexed);
        m_pairKeys.insert(PairKey { v.lnNo, v.reportPage, v.paramName });
        m_pairsByName[v.paramName].append(m_pairIndexed);
    }
}

namespace {

// True when the text, outside its string literals, holds nothing but
// numbers, the literals true/false/null, parentheses and operators that
// neither assign nor make objects ("0==0?1:0", "7 % 2 == 0?'#eee':'#fff'").
// Such an expression names no variable and reaches no object, so it cannot
// add, replace or delete a global, nor run code that could. Anything else,
// or anything unusual, answers false.
bool isClosedExpression(const QString &code)
{
    const int n = code.size();
    int i = 0;
    auto isWordChar = [](ushort u) {
        return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9')
            || u == '_' || u == '$';
    };
    while (i < n) {
        const ushort u = code.at(i).unicode();
        if (u == ' ' || u == '\t' || u == '\n' || u == '\r') {
            ++i;
        } else if (u == '\'' || u == '"') {
            for (++i; i < n && code.at(i).unicode() != u; ++i) {
                if (code.at(i).unicode() == '\\')
                    ++i;
            }
            if (i >= n)
                return false;
            ++i;
        } else if (u >= '0' && u <= '9') {
            // A dot that is not followed by a digit ("1..toString()") would
            // reach the number's prototype.
            while (i < n && (isWordChar(code.at(i).unicode()) || code.at(i).unicode() == '.')) {
                if (code.at(i).unicode() == '.'
                    && (i + 1 >= n || code.at(i + 1).unicode() < '0'
                        || code.at(i + 1).unicode() > '9'))
                    return false;
                ++i;
            }
        } else if (isWordChar(u)) {
            const int start = i;
            while (i < n && isWordChar(code.at(i).unicode()))
                ++i;
            const QStringRef word = code.midRef(start, i - start);
            if (word != QLatin1String("true") && word != QLatin1String("false")
                && word != QLatin1String("null"))
                return false;
        } else if (u == '<' || u == '>' || u == '=' || u == '!') {
            const int start = i;
            while (i < n
                && (code.at(i) == QLatin1Char('<') || code.at(i) == QLatin1Char('>')
                    || code.at(i) == QLatin1Char('=') || code.at(i) == QLatin1Char('!')))
                ++i;
            const QStringRef op = code.midRef(start, i - start);
            static const char *const allowed[] = { "<", ">", "<=", ">=", "==", "===", "!=",
                "!==", "!", "!!", "<<", ">>", ">>>" };
            bool ok = false;
            for (const char *a : allowed)
                ok = ok || op == QLatin1String(a);
            if (!ok)
                return false;
        } else if (u == '+' || u == '-') {
            if (i + 1 < n && code.at(i + 1).unicode() == u)
                return false;
            ++i;
        } else if (u == '(' || u == ')' || u == '*' || u == '%' || u == '?' || u == ':'
            || u == '&' || u == '|' || u == '^' || u == '~' || u == ',' || u == ';') {
            ++i;
        } else {
            return false;
        }
    }
    return true;
}

// Texts compiled and kept per engine; a document has a handful of distinct
// expressions, but values substituted into them can make every row's text
// new, so the cache is emptied when it is full.
constexpr int kMaxCompiledExpressions = 512;

} // namespace

void RptEngine::snapshotFormulaGlobals()
{
    m_formulaBaseline.clear();
    QScriptValueIterator it(m_formulaEngine->globalObject());
    while (it.hasNext()) {
        it.next();
        m_formulaBaseline.insert(it.name(), it.value());
    }
}

QScriptValue RptEngine::evaluateExpression(const QString &program, bool showInGroup, int groupLevel)
{
    auto compiled = m_compiledExpressions.constFind(program);
    if (compiled == m_compiledExpressions.constEnd()) {
        if (m_compiledExpressions.size() >= kMaxCompiledExpressions)
            m_compiledExpressions.clear();
        CompiledExpression fresh;
        fresh.program = QScriptProgram(program, QString(), 1);
        fresh.closed = isClosedExpression(program);
        compiled = m_compiledExpressions.insert(program, fresh);
    }
    if (compiled->known)
        return compiled->value;
    // Copied: the expression may evaluate another one that empties the cache.
    const CompiledExpression expression = compiled.value();

    // One engine serves every expression; each runs in a context of its own
    // whose activation object takes its variables. Whatever it still did to
    // the global object (implicit globals, replaced or deleted functions) is
    // undone afterwards, so no expression sees another's traces.
    QScriptContext *ctx = m_formulaEngine->pushContext();
    QScriptValue scope = ctx->activationObject();
    scope.setProperty(QStringLiteral("showInGroup"), showInGroup);
    scope.setProperty(QStringLiteral("groupLevel"), groupLevel);
    const QScriptValue result = m_formulaEngine->evaluate(expression.program);
    // Objects (errors included) are handed on as their text, which is all
    // any caller uses, so nothing of the expression outlives it.
    const QScriptValue value = result.isObject() ? QScriptValue(result.toString()) : result;
    m_formulaEngine->popContext();

    // A closed expression with a plain value ran no code but the engine's
    // own operators, so there is nothing to undo. An object result (an
    // error) was turned into text by a toString that a script may have
    // replaced, so it is swept like any other.
    if (!expression.closed || result.isObject()) {
        sweepFormulaGlobals();
    } else {
        auto entry = m_compiledExpressions.find(program);
        if (entry != m_compiledExpressions.end()) {
            entry->known = true;
            entry->value = value;
        }
    }
    return value;
}

void RptEngine::sweepFormulaGlobals()
{
    QScriptValue global = m_formulaEngine->globalObject();
    QStringList added;
    QStringList changed;
    int kept = 0;
    QScriptValueIterator it(global);
    while (it.hasNext()) {
        it.next();
        const auto b = m_formulaBaseline.constFind(it.name());
        if (b == m_formulaBaseline.constEnd()) {
            added.append(it.name());
        } else {
            ++kept;
            if (!it.value().strictlyEquals(b.value()))
                changed.append(it.name());
        }
    }
    for (const QString &name : qAsConst(added))
        global.setProperty(name, QScriptValue());
    for (const QString &name : qAsConst(changed))
        global.setProperty(name, m_formulaBaseline.value(name));
    if (kept != m_formulaBaseline.size()) {
        for (auto b = m_formulaBaseline.constBegin(); b != m_formulaBaseline.constEnd(); ++b) {
            if (!global.property(b.key()).isValid())
                global.setProperty(b.key(), b.value());
        }
    }
}

// ---- Scripts ----------------------------------------------------------------

QString RptEngine::numberToWords(double value, const QString &language)
{
    return RptNumberWords::double2Money(value, language);
}

void RptEngine::processGlobalScript()
{
    qScriptRegisterSequenceMetaType<PageList>(m_scriptEngine);
    for (RptPageObject *page : qAsConst(pageList)) {
        for (RptBandObject *band : qAsConst(page->bands)) {
            for (RptFieldObject *field : qAsConst(band->fields))
                m_scriptEngine->addObject(field);
        }
    }
    QString script = stringPreprocessing(m_globalScript, QString());
    script = getVariableValue(script, false);
    if (!script.trimmed().isEmpty())
        m_scriptEngine->evaluate(script, QString(), 1);
}

namespace {
QScriptValue callHook(RptScriptEngine *engine, QScriptValue fn, const QScriptValueList &args)
{
    const QScriptValue result = fn.call(QScriptValue(), args);
    if (engine->hasUncaughtException()) {
        qCDebug(lcReport).noquote()
            << "uncaught exception at line" << engine->uncaughtExceptionLineNumber() << ":"
            << result.toString();
        engine->clearExceptions();
    }
    return result;
}
} // namespace

bool RptEngine::callBeforeData(RptFieldObject *field)
{
    if (!field || field->objectName().isEmpty())
        return field && field->visible;
    QScriptValue fn = m_scriptEngine->globalObject().property(
        field->objectName() + QLatin1String("BeforeData"));
    if (fn.isValid() && fn.isFunction())
        callHook(m_scriptEngine, fn, QScriptValueList());
    return field->visible;
}

QString RptEngine::callAfterData(RptFieldObject *field, const QString &text)
{
    if (!field || field->objectName().isEmpty())
        return text;
    QScriptValue fn
        = m_scriptEngine->globalObject().property(field->objectName() + QLatin1String("AfterData"));
    if (!fn.isValid() || !fn.isFunction())
        return text;
    const QScriptValue result
        = callHook(m_scriptEngine, fn, QScriptValueList() << QScriptValue(text));
    if (result.isUndefined() || !result.isValid())
        return text;
    return result.toString();
}

// ---- Output ------------------------------------------------------------------

void RptEngine::printPDF(const QString &fileName, bool open)
{
    m_processor->printPDF(fileName, open);
}

void RptEngine::printHTML(const QString &fileName, bool open)
{
    m_processor->printHTML(fileName, open);
}

void RptEngine::printExec(bool maximum, bool direct, const QString &printerName)
{
    m_processor->printExec(maximum, direct, printerName);
}

void RptEngine::setPageSettings(QPrinter *printer, int reportPage)
{
    m_processor->setPageSettings(printer, reportPage);
}

void RptEngine::printPreview(QPrinter *printer)
{
    m_processor->printPreview(printer);
}

void RptEngine::exportTo()
{
    m_processor->exportTo(sender());
}

void RptEngine::setPrinter(QPrinter *printer)
{
    if (m_printer == printer)
        return;
    if (m_ownsPrinter)
        delete m_printer;
    m_printer = printer;
    m_ownsPrinter = false;
}

QPrinter *RptEngine::printer()
{
    if (!m_printer) {
        m_printer = new QPrinter(m_resolution);
        m_ownsPrinter = true;
    }
    return m_printer;
}

void RptEngine::setPainter(QPainter *painter)
{
    if (m_painter == painter)
        return;
    if (m_ownsPainter)
        delete m_painter;
    m_painter = painter;
    m_ownsPainter = false;
}

QPainter *RptEngine::painter()
{
    if (!m_painter) {
        m_painter = new QPainter;
        m_ownsPainter = true;
    }
    return m_painter;
}

void RptEngine::releasePrinterAndPainter()
{
    if (m_ownsPainter) {
        if (m_painter->isActive())
            m_painter->end();
        delete m_painter;
    }
    m_painter = nullptr;
    m_ownsPainter = false;
    if (m_ownsPrinter)
        delete m_printer;
    m_printer = nullptr;
    m_ownsPrinter = false;
}
