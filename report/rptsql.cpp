#include "rptsql.h"

#include "reportlogging.h"

#include <QBuffer>
#include <QImageReader>
#include <QMutex>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTextCodec>

namespace {

// The MySQL driver decodes text with the locale codec it finds when the
// connection opens and when results arrive. A charsetCoding therefore sets
// that codec only around opening and reading this query and puts the
// previous one back; the mutex keeps two sources from interleaving.
class ScopedLocaleCodec
{
public:
    explicit ScopedLocaleCodec(const QString &name)
    {
        if (name.isEmpty())
            return;
        QTextCodec *codec = QTextCodec::codecForName(name.toLatin1());
        if (!codec) {
            qCWarning(lcReport).noquote() << "RptSql::openQuery unknown charsetCoding" << name;
            return;
        }
        mutex().lock();
        m_locked = true;
        m_previous = QTextCodec::codecForLocale();
        QTextCodec::setCodecForLocale(codec);
    }
    ~ScopedLocaleCodec()
    {
        if (!m_locked)
            return;
        QTextCodec::setCodecForLocale(m_previous);
        mutex().unlock();
    }
    ScopedLocaleCodec(const ScopedLocaleCodec &) = delete;
    ScopedLocaleCodec &operator=(const ScopedLocaleCodec &) = delete;

private:
    static QMutex &mutex()
    {
        static QMutex m;
        return m;
    }
    bool m_locked = false;
    QTextCodec *m_previous = nullptr;
};

} // namespace

RptSql::RptSql(QObject *parent)
    : RptDsAbstract(parent)
{
}

RptSql::~RptSql()
{
    delete m_query;
    m_query = nullptr;
    if (m_db.isValid())
        m_db.close();
    // Another source (or the caller) may have registered a connection of
    // the same name since; that one is not ours to remove.
    const QSqlDriver *driver = m_db.driver();
    m_db = QSqlDatabase();
    if (!m_connectionName.isEmpty() && QSqlDatabase::contains(m_connectionName)
        && QSqlDatabase::database(m_connectionName, false).driver() == driver)
        QSqlDatabase::removeDatabase(m_connectionName);
}

void RptSql::loadXML(const QDomElement &e)
{
    RptSqlConnection c;
    c.dsName = e.attribute(QStringLiteral("name"));
    c.dbType = e.attribute(QStringLiteral("dbType"));
    c.dbName = e.attribute(QStringLiteral("dbName"));
    c.dbHost = e.attribute(QStringLiteral("dbHost"));
    c.dbUser = e.attribute(QStringLiteral("dbUser"));
    c.dbPassword = e.attribute(QStringLiteral("dbPassword"));
    c.dbCoding = e.attribute(QStringLiteral("dbCoding"));
    c.charsetCoding = e.attribute(QStringLiteral("charsetCoding"));
    c.dbPort = e.attribute(QStringLiteral("dbPort")).toInt();
    c.dbConnectionName = e.attribute(QStringLiteral("dbConnectionName"));
    c.sqlQuery = e.text().trimmed();
    setConnection(c);
}

void RptSql::setConnection(const RptSqlConnection &c)
{
    delete m_query;
    m_query = nullptr;
    m_dbType = c.dbType;
    m_dbName = c.dbName;
    m_dbHost = c.dbHost;
    m_dbUser = c.dbUser;
    m_dbPassword = c.dbPassword;
    m_dbPort = c.dbPort;
    m_dbConnectionName = c.dbConnectionName;
    m_sqlQuery = c.sqlQuery;
    m_dbCoding = c.dbCoding;
    m_charsetCoding = c.charsetCoding;
    m_connectionName = c.dbConnectionName.isEmpty()
        ? QString::fromLatin1(QSqlDatabase::defaultConnection)
        : c.dbConnectionName;
    m_db = QSqlDatabase::addDatabase(m_dbType, m_connectionName);
    m_db.setDatabaseName(m_dbName);
    m_db.setHostName(m_dbHost);
    m_db.setUserName(m_dbUser);
    m_db.setPassword(m_dbPassword);
    if (m_dbPort != 0)
        m_db.setPort(m_dbPort);
    setObjectName(c.dsName);
    dsName = c.dsName;
}

bool RptSql::openQuery()
{
    ScopedLocaleCodec codec(m_charsetCoding);
    if (m_db.open())
        qCDebug(lcReport) << "open DB";
    else
        qCDebug(lcReport).noquote() << "Failed open DB" << m_db.lastError().text();

    delete m_query;
    m_query = new QSqlQuery(m_db);
    m_columns.clear();
    m_rows.clear();
    recordCount = 0;
    if (!m_dbCoding.isEmpty() && m_db.driverName().contains(QLatin1String("MYSQL")))
        m_query->exec(QStringLiteral("set names '") + m_dbCoding + QLatin1Char('\''));

    if (!m_query->exec(m_sqlQuery)) {
        qCWarning(lcReport).noquote() << "RptSql::openQuery" << m_query->lastError().text();
        return false;
    }
    if (!m_query->isActive())
        return true;
    if (m_query->last())
        recordCount = m_query->at() + 1;
    const QSqlRecord record = m_query->record();
    for (int i = 0; i < record.count(); ++i)
        m_columns.append(record.fieldName(i));
    if (m_query->first()) {
        do {
            QStringList row;
            for (int i = 0; i < m_columns.size(); ++i)
                row.append(m_query->value(i).toString());
            m_rows.append(row);
        } while (m_query->next());
    }
    m_query->seek(0);
    return true;
}

bool RptSql::seek(int recNo)
{
    if (!m_query || !m_query->isActive()) {
        qCDebug(lcReport) << "Query is not active";
        return false;
    }
    if (recNo < 0 || recNo >= recordCount) {
        qCDebug(lcReport) << "recNo more than recordCount";
        return false;
    }
    return true;
}

// Values come from the rows read while the query was opened, decoded under
// the query's charset.
QString RptSql::getFieldValue(const QString &fieldName, int recNo)
{
    if (!seek(recNo))
        return QString();
    const int column = m_columns.indexOf(fieldName);
    if (column < 0 || recNo >= m_rows.size())
        return QString();
    return m_rows.at(recNo).at(column);
}

QImage RptSql::getFieldImage(const QString &fieldName, int recNo)
{
    if (!seek(recNo))
        return QImage();
    if (!m_query->seek(recNo))
        return QImage();
    const QByteArray bytes = m_query->value(fieldName).toByteArray();
    QImage image;
    image.loadFromData(bytes);
    return image;
}
