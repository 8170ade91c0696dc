#pragma once

#include "rptloaderror.h"
#include "rptname.h"
#include "rptpageobject.h"

#include <QDomDocument>
#include <QDomElement>
#include <QString>

class QObject;

// A template as read: its document, the model built from it (one page
// object per "Report" element, each reading its bands and fields) and the
// global script of its "Script" element.
//
// Every print run builds the model again from the document, so whatever a
// run changed in it never reaches the next one.
class RptTemplate
{
public:
    // Pages are created as children of pageParent (the engine: scripts and
    // callers find them there).
    explicit RptTemplate(QObject *pageParent);
    ~RptTemplate();
    RptTemplate(const RptTemplate &) = delete;
    RptTemplate &operator=(const RptTemplate &) = delete;

    // A file that cannot be opened or parsed leaves the model as it was and
    // returns false; details (line, column, message) go to lastLoadError()
    // and, when given, to *error.
    bool load(const QString &fileName, RptLoadError *error);
    void load(const QDomDocument &doc);
    const RptLoadError &lastLoadError() const { return m_loadError; }
    // The model anew from the document.
    bool build();
    void clear();

    QDomDocument xmlDoc() const { return m_xmlDoc; }
    PageList &pages() { return m_pages; }
    const PageList &pages() const { return m_pages; }
    QString globalScript() const { return m_globalScript; }

    // How the template writes alignments, pen styles and field types.
    static Qt::Alignment getAligment(const QDomElement &e);
    static Qt::PenStyle getPenStyle(const QString &style);
    static RptName::FieldType getFieldType(const QDomElement &e);
    static QString getFieldTypeName(RptName::FieldType type);

private:
    QObject *m_pageParent;
    QDomDocument m_xmlDoc;
    QString m_globalScript;
    RptLoadError m_loadError;
    PageList m_pages;
};
