#pragma once

#include "rptloaderror.h"
#include "rptname.h"
#include "rptpageobject.h"

#include <QDomDocument>
#include <QDomElement>
#include <QString>
#include <QVector>

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
    // Where the "Script" element starts (0 when unknown).
    int globalScriptLine() const { return m_scriptLine; }
    int globalScriptColumn() const { return m_scriptColumn; }

    // How the template writes alignments, pen styles and field types.
    static Qt::Alignment getAligment(const QDomElement &e);
    static Qt::PenStyle getPenStyle(const QString &style);
    static RptName::FieldType getFieldType(const QDomElement &e);
    static QString getFieldTypeName(RptName::FieldType type);

private:
    void placeElements();
    void placeElement(int *line, int *column) const;
    void readPictureFiles();

    QObject *m_pageParent;
    // The text of a template read from a file, where element positions are
    // looked up, and the folder its pictures may name files in.
    QString m_source;
    QVector<int> m_lineStarts;
    QString m_pictureDir;
    int m_scriptLine = 0;
    int m_scriptColumn = 0;
    QDomDocument m_xmlDoc;
    QString m_globalScript;
    RptLoadError m_loadError;
    PageList m_pages;
};
