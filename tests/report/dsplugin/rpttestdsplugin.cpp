// A data-source library for the report tests. Data text: lines of cells
// separated by ";", the first line naming the columns.
#include <QFile>
#include <QObject>
#include <QStringList>

class RptTestDsHandle : public QObject
{
    Q_OBJECT

public:
    Q_INVOKABLE void setDataStr(const QString &data)
    {
        m_source = QStringLiteral("str");
        parse(data);
    }
    Q_INVOKABLE void setDataFile(const QString &fileName)
    {
        m_source = QStringLiteral("file");
        QFile f(fileName);
        if (f.open(QIODevice::ReadOnly))
            parse(QString::fromUtf8(f.readAll()));
    }
    Q_INVOKABLE void loadXML(const QString &xml) { m_xml = xml; }
    Q_INVOKABLE QString getValue(const QString &name, int recNo)
    {
        const int column = m_columns.indexOf(name);
        if (column < 0 || recNo < 0 || recNo >= m_rows.size())
            return QString();
        return m_rows.at(recNo).value(column);
    }
    Q_INVOKABLE int getRecordCount(const QString &alias)
    {
        m_alias = alias;
        return m_rows.size();
    }
    // What the engine handed over, for the tests to check.
    Q_INVOKABLE QString seenAlias() const { return m_alias; }
    Q_INVOKABLE QString seenXml() const { return m_xml; }
    Q_INVOKABLE QString seenSource() const { return m_source; }

private:
    void parse(const QString &data)
    {
        m_columns.clear();
        m_rows.clear();
        const QStringList lines = data.trimmed().split(QLatin1Char('\n'));
        for (int i = 0; i < lines.size(); ++i) {
            const QStringList cells = lines.at(i).trimmed().split(QLatin1Char(';'));
            if (i == 0)
                m_columns = cells;
            else
                m_rows.append(cells);
        }
    }

    QStringList m_columns;
    QList<QStringList> m_rows;
    QString m_alias;
    QString m_xml;
    QString m_source;
};

extern "C" Q_DECL_EXPORT QObject *getHandle()
{
    static RptTestDsHandle handle;
    return &handle;
}

#include "rpttestdsplugin.moc"
