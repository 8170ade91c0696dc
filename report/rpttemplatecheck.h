#pragma once

#include "rptcheckfinding.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QXmlStreamAttributes>

#include <memory>

class QScriptEngine;

// Reads a template as an author wrote it, with the place of every element
// and attribute, and names what the loader would silently drop or misread:
// unknown elements, attributes and band types, formulas and conditions that
// do not compile, aggregates the engine cannot compute, data variables
// nobody answers, pictures that do not decode and fields off the page.
// Nothing is evaluated or rendered; formulas only go through the script
// engine's syntax check.
class RptTemplateCheck
{
public:
    RptTemplateCheck();
    ~RptTemplateCheck();
    RptTemplateCheck(const RptTemplateCheck &) = delete;
    RptTemplateCheck &operator=(const RptTemplateCheck &) = delete;

    // The names a data file answers. Without one, variables no data source
    // of the template claims are only warned about: a caller may answer them.
    void setDataNames(const QSet<QString> &names);

    // False when the file cannot be read; the findings say the rest.
    bool checkFile(const QString &fileName);
    void checkText(const QString &text);

    const QList<RptCheckFinding> &findings() const { return m_findings; }
    int errorCount() const;
    int warningCount() const;

    // The attributes the loader reads from an element (field elements under
    // the name "TContainerField"), authoring attributes included; empty
    // for an element it does not know.
    static QStringList knownAttributes(const QString &element);
    // The closest of candidates to name when it is close enough to be a
    // likely misspelling, else an empty string.
    static QString nearest(const QString &name, const QStringList &candidates);

private:
    struct Node
    {
        QString tag;
        QXmlStreamAttributes attributes;
        int start = 0; // offset of "<tag"
        int end = 0; // offset after the start tag
        QString text; // character data, CDATA included
        int textStart = 0;
        Node *parent = nullptr;
        std::vector<std::unique_ptr<Node>> children;
    };
    struct DataSource
    {
        QString type;
        QString name;
        QStringList columns; // inline sources only
    };

    void add(int offset, bool error, const QString &message);
    int attributeOffset(const Node *node, const QString &name) const;
    void checkAttributes(const Node *node, const QString &kind);
    void checkChildren(const Node *node, const QStringList &allowed, const QString &where);
    void checkPage(const Node *page);
    void checkBand(
        const Node *band, const QVector<DataSource> &sources, int usableWidth, int usableHeight);
    void checkField(const Node *field, const QVector<DataSource> &sources, int usableWidth);
    void checkValue(const Node *node, const QString &attribute, bool formulas,
        const QVector<DataSource> &sources);
    void checkPrinting(const Node *node, const QVector<DataSource> &sources);
    void checkHighlighting(const Node *node, const QVector<DataSource> &sources);
    void checkVariables(const Node *node, const QString &attribute, const QString &text,
        const QVector<DataSource> &sources);
    void checkAggregates(const Node *node, const QString &attribute, const QString &text);
    void checkProgram(
        const Node *node, const QString &attribute, const QString &program, const QString &what);
    void checkPicture(const Node *node, const QString &attribute, const QString &format);
    void checkScript(const Node *script);
    void collectNames(const Node *root);
    static QString programOf(const QString &text);
    QString locate(const Node *node) const;

    QString m_text;
    QVector<int> m_lineStarts;
    QList<RptCheckFinding> m_findings;
    QSet<QString> m_dataNames;
    bool m_haveData = false;
    // Names the global script defines and the fields' object names: both
    // may be called or used in formulas.
    QSet<QString> m_scriptNames;
    QSet<QString> m_fieldNames;
    QString m_templateDir;
    // Variables a master data label shows: the ones aggregates can add up.
    QSet<QString> m_collected;
    std::unique_ptr<QScriptEngine> m_script;
};
