#pragma once

#include "rptname.h"

#include <QByteArray>
#include <QColor>
#include <QDomElement>
#include <QFont>
#include <QList>
#include <QObject>
#include <QRect>
#include <QString>
#include <QVariantMap>

class RptBandObject;
class RptCrossTabObject;

// One field of a band: its geometry in quarter-millimetres relative to the
// band, its value text (evaluated by the engine's sectionField), and how it is
// drawn. Scripts see it under its object name with the properties below.
// The layout may change any member during a run; every run rebuilds the
// model from the template, so such changes never reach the next run.
class RptFieldObject : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString value READ getValue WRITE setValue)
    Q_PROPERTY(int width READ getWidth WRITE setWidth)
    Q_PROPERTY(int height READ getHeight WRITE setHeight)
    Q_PROPERTY(int top READ getTop WRITE setTop)
    Q_PROPERTY(int left READ getLeft WRITE setLeft)
    Q_PROPERTY(bool visible READ isVisible WRITE setVisible)
    Q_PROPERTY(int rotate MEMBER rotate)
    Q_PROPERTY(QColor fontColor MEMBER fontColor)
    Q_PROPERTY(QColor backgroundColor MEMBER backgroundColor)

public:
    explicit RptFieldObject(QObject *parent = nullptr);
    ~RptFieldObject() override;

    using QObject::setProperty;
    void setProperty(const QDomElement &e);
    RptFieldObject *clone() const;

    // A picture attribute other than the designer's "text" for none.
    bool hasPicture() const;

    QString getValue() const { return value; }
    void setValue(const QString &text) { value = text; }
    bool isVisible() const { return visible; }

    // The record and report page the layout is evaluating this field for.
    void setRecNo(int recNo) { m_recNo = recNo; }
    void setReportPage(int page) { m_reportPage = page; }
    int reportPage() const { return m_reportPage; }

    Q_INVOKABLE int recNo() const { return m_recNo; }
    Q_INVOKABLE void setVisible(bool on) { visible = on; }
    Q_INVOKABLE void setWidth(int w) { rect.setWidth(w); }
    Q_INVOKABLE int getWidth() const { return rect.width(); }
    Q_INVOKABLE void setHeight(int h) { rect.setHeight(h); }
    Q_INVOKABLE int getHeight() const { return rect.height(); }
    Q_INVOKABLE void setTop(int t) { rect.moveTop(t); }
    Q_INVOKABLE int getTop() const { return rect.top(); }
    Q_INVOKABLE void setLeft(int l) { rect.moveLeft(l); }
    Q_INVOKABLE int getLeft() const { return rect.left(); }

    QString value;
    QRect rect;
    QColor borderTop;
    QColor borderBottom;
    QColor borderLeft;
    QColor borderRight;
    int borderWidth = 1;
    QString borderStyle;
    QColor borderColor;
    int rotate = 0;
    Qt::Alignment aligment;
    bool autoHeight = false;
    bool textWrap = true;
    QFont font;
    QColor fontColor;
    QColor backgroundColor;
    QColor defaultFontColor;
    QColor defaultBackgroundColor;
    QString highlighting;
    QString printing;
    QString formatString;
    QString imgFormat;
    QByteArray picture;
    // The file a picture attribute names instead of holding the image
    // ("logo.png"); the template reads it into picture when it can.
    QString pictureFile;
    bool ignoreAspectRatio = true;
    int barcodeType = 13;
    int barcodeFrameType = 0;
    int barcodeHeight = 50;
    int lineStartX = 0;
    int lineEndX = 0;
    int lineStartY = 0;
    int lineEndY = 0;
    bool arrowStart = false;
    bool arrowEnd = false;
    RptName::FieldType fieldType = RptName::Label;
    bool visible = true;
    RptBandObject *parent = nullptr;
    // Where the field's element starts in the template text (1-based; 0
    // when unknown), for the errors a run reports.
    int line = 0;
    int column = 0;
    // Chart ("diagram") attributes as the template writes them; the drawing
    // side interprets them. Series are the child elements' attributes.
    QVariantMap chartAttributes;
    QList<QVariantMap> chartSeries;
    // Owned; only for fields of type crossTab.
    RptCrossTabObject *crossTab = nullptr;
    // Set on the generated cells of a cross-tab (not owned).
    RptCrossTabObject *parentCrossTab = nullptr;

private:
    int m_recNo = 0;
    int m_reportPage = 0;
};
