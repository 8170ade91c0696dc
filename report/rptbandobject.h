#pragma once

#include "rptname.h"

#include <QDomElement>
#include <QList>
#include <QString>

class RptFieldObject;
class RptPageObject;

// One band of a report page. realHeight is the template's height; height is
// the one in effect for the row being laid out (auto-height fields raise it).
class RptBandObject
{
public:
    RptBandObject() = default;
    ~RptBandObject();
    RptBandObject(const RptBandObject &) = delete;
    RptBandObject &operator=(const RptBandObject &) = delete;

    void setProperty(const QDomElement &e);
    void addField(RptFieldObject *field);
    RptBandObject *clone() const;

    QString name;
    int height = 0;
    int realHeight = 0;
    int width = 0;
    int left = 0;
    int right = 0;
    QString groupingField;
    int groupLevel = 0;
    bool showInGroup = false;
    bool startNewPage = false;
    bool startNewNumeration = false;
    int bandNo = 1;
    RptName::BandType type = RptName::Undefined;
    QString dataSourceName;
    QList<RptFieldObject *> fields;
    RptPageObject *parent = nullptr;
    // Where the band's element starts in the template text (0 when unknown).
    int line = 0;
    int column = 0;
};
