#pragma once

#include "rptname.h"
#include "rptsqlconnection.h"

#include <QColor>
#include <QDomElement>
#include <QList>
#include <QObject>
#include <QPixmap>
#include <QString>

class RptBandObject;
class RptDsAbstract;
class RptFieldObject;
class RptSql;

// One report page (a "Report" element): page geometry in quarter-millimetres,
// its bands in document order, and the data sources opened for it in a run.
class RptPageObject : public QObject
{
    Q_OBJECT

public:
    explicit RptPageObject(QObject *parent = nullptr);
    ~RptPageObject() override;

    using QObject::setProperty;
    void setProperty(const QDomElement &e);
    void addBand(RptBandObject *band);
    RptPageObject *clone() const;

    RptBandObject *getBand(RptName::BandType type, int bandNo = 1, int groupLevel = 0) const;
    // The highest bandNo of that type (0 without one); not a count.
    int bandsCountByType(RptName::BandType type) const;
    RptFieldObject *findFieldObjectByName(const QString &name) const;
    QList<RptFieldObject *> crossTabs() const;
    int crossTabParts() const;
    void initCrossTabProcessedRows();

    bool isVisible() const { return visible; }
    unsigned short totalPages() const { return m_totalPages; }
    void setTotalPages(unsigned short pages) { m_totalPages = pages; }

    // Data sources of this page for the current run (owned; replaced by
    // setSqlSource/setOtherSource).
    RptSql *sqlSource() const { return m_sqlSource; }
    RptDsAbstract *otherSource() const { return m_otherSource; }
    void setSqlSource(RptSql *source);
    void setOtherSource(RptDsAbstract *source);

    // The element the page was read from; its "DataSource" children are read
    // when the page's data sources are opened.
    QDomElement element() const { return m_element; }

    int pageNo = 0;
    int orientation = 0;
    int pageHeight = 1188;
    int pageWidth = 840;
    int marginsLeft = 40;
    int marginsRight = 40;
    int marginsTop = 40;
    int marginsBottom = 40;
    bool border = false;
    int borderWidth = 1;
    QColor borderColor = Qt::black;
    QString borderStyle = QStringLiteral("solid");
    bool watermark = false;
    float watermarkOpacity = 1.0f;
    QPixmap watermarkPixmap;
    QList<RptBandObject *> bands;
    bool visible = true;
    RptSqlConnection userSqlConnection;

public slots:
    void setVisible(bool on) { visible = on; }

private:
    unsigned short m_totalPages = 0;
    QDomElement m_element;
    RptSql *m_sqlSource = nullptr;
    RptDsAbstract *m_otherSource = nullptr;
};

using PageList = QList<RptPageObject *>;
Q_DECLARE_METATYPE(PageList)
