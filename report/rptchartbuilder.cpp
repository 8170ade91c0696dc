#include "rptchartbuilder.h"

#include "reportlogging.h"
#include "rptcolor.h"
#include "rptdatafeed.h"
#include "rptfieldobject.h"

#include <QFont>
#include <QPen>
#include <QStringList>
#include <QtCharts/QBarCategoryAxis>
#include <QtCharts/QBarSeries>
#include <QtCharts/QBarSet>
#include <QtCharts/QChart>
#include <QtCharts/QLegend>
#include <QtCharts/QLineSeries>
#include <QtCharts/QPieSeries>
#include <QtCharts/QPieSlice>
#include <QtCharts/QStackedBarSeries>
#include <QtCharts/QValueAxis>

#include <algorithm>

using namespace QtCharts;

namespace {

QString text(const QVariantMap &a, const char *name)
{
    return a.value(QLatin1String(name)).toString().trimmed();
}

bool flag(const QVariantMap &a, const char *name, bool missing)
{
    const QString t = text(a, name);
    return t.isEmpty() ? missing : t.toInt() != 0;
}

// "Family,points[,bold]" as authors write it, or the whole text QFont
// writes of itself (which the designer stores).
bool readFont(const QString &t, QFont *font)
{
    if (t.isEmpty())
        return false;
    const QStringList parts = t.split(QLatin1Char(','));
    if (parts.size() >= 9 && font->fromString(t))
        return true;
    font->setFamily(parts.at(0).trimmed());
    const double points = parts.value(1).trimmed().toDouble();
    if (points > 0)
        font->setPointSizeF(points);
    font->setBold(
        parts.value(2).trimmed().compare(QLatin1String("bold"), Qt::CaseInsensitive) == 0);
    return true;
}

// A series nobody could see is never meant: a colour written without alpha
// (which reads as transparent) draws opaque.
QColor seriesColor(const QVariantMap &a)
{
    QColor c = colorFromString(text(a, "color"));
    if (c.isValid() && c.alpha() == 0)
        c.setAlpha(255);
    return c;
}

Qt::Alignment legendAlignment(const QString &t)
{
    const QString l = t.toLower();
    bool number = false;
    const int flags = l.toInt(&number);
    if ((number && (flags & Qt::AlignTop)) || l.contains(QLatin1String("top")))
        return Qt::AlignTop;
    if ((number && (flags & Qt::AlignLeft)) || l.contains(QLatin1String("left")))
        return Qt::AlignLeft;
    if ((number && (flags & Qt::AlignRight)) || l.contains(QLatin1String("right")))
        return Qt::AlignRight;
    return Qt::AlignBottom;
}

// The value text of a series: a bare name stands for its data variable.
QString valueText(const QString &val)
{
    if (val.contains(QLatin1Char('[')) || val.contains(QLatin1Char('<')))
        return val;
    return QLatin1Char('[') + val + QLatin1Char(']');
}

} // namespace

RptChartBuilder::RptChartBuilder(RptDataFeed *feed)
    : m_feed(feed)
{
}

void RptChartBuilder::build(RptFieldObject *field, QChart *chart)
{
    applyAttributes(field->chartAttributes, chart);
    const QVector<Points> all = readSeries(field);
    if (all.isEmpty())
        return;
    const QString type = text(field->chartAttributes, "chartType");
    if (type == QLatin1String("SeriesTypePie"))
        addPies(all, chart);
    else if (type == QLatin1String("SeriesTypeLine"))
        addLines(all, chart);
    else
        addBars(all, type == QLatin1String("SeriesTypeStackedBar"), chart);
}

void RptChartBuilder::applyAttributes(const QVariantMap &a, QChart *chart)
{
    chart->setTitle(text(a, "caption"));
    chart->legend()->setVisible(flag(a, "showLegend", true));
    // Paper has no depth: no shadow, square corners.
    chart->setDropShadowEnabled(false);
    chart->setBackgroundRoundness(0);
    QFont font = chart->titleFont();
    if (readFont(text(a, "titleFont"), &font))
        chart->setTitleFont(font);
    font = chart->legend()->font();
    if (readFont(text(a, "legendFont"), &font))
        chart->legend()->setFont(font);
    const QColor title = colorFromString(text(a, "colorTitle"));
    if (title.isValid())
        chart->setTitleBrush(title);
    const QColor legend = colorFromString(text(a, "colorLegend"));
    if (legend.isValid())
        chart->legend()->setLabelColor(legend);
    const QColor background = colorFromString(text(a, "colorBackground"));
    if (background.isValid()) {
        chart->setBackgroundVisible(background.alpha() != 0);
        chart->setBackgroundBrush(background);
    }
    chart->legend()->setAlignment(legendAlignment(text(a, "legendAligment")));
}

QVector<RptChartBuilder::Points> RptChartBuilder::readSeries(RptFieldObject *field)
{
    QVector<Points> all;
    if (!m_feed)
        return all;
    for (const QVariantMap &s : qAsConst(field->chartSeries)) {
        const QString dataSet = text(s, "graphDS");
        const QString val = text(s, "val");
        const int records = m_feed->count(dataSet);
        if (records <= 0 || val.isEmpty())
            continue;
        Points p;
        p.attributes = s;
        for (int r = 0; r < records; ++r) {
            const QString label = field->value.isEmpty()
                ? QString::number(r + 1)
                : m_feed->value(field->parent, dataSet, r, field->value);
            const QString number = m_feed->value(field->parent, dataSet, r, valueText(val));
            bool ok = false;
            const double v = number.trimmed().toDouble(&ok);
            if (!ok && !number.trimmed().isEmpty())
                qCDebug(lcReport).noquote()
                    << QStringLiteral("RptChartBuilder::readSeries(\"%1\")")
                           .arg(field->objectName())
                    << QStringLiteral("record %1 of \"%2\": \"%3\" is no number, drawn as 0")
                           .arg(r)
                           .arg(dataSet, number);
            p.labels.append(label);
            p.values.append(ok ? v : 0.0);
        }
        all.append(p);
    }
    return all;
}

QStringList RptChartBuilder::categories(const QVector<Points> &all)
{
    QStringList names;
    for (const Points &p : all) {
        for (int i = names.size(); i < p.labels.size(); ++i)
            names.append(p.labels.at(i));
    }
    return names;
}

void RptChartBuilder::addAxes(const QStringList &names, const QVector<Points> &all, QChart *chart)
{
    double low = 0;
    double high = 0;
    for (const Points &p : all) {
        for (double v : p.values) {
            low = qMin(low, v);
            high = qMax(high, v);
        }
    }
    if (high <= low)
        high = low + 1;
    auto *x = new QBarCategoryAxis;
    x->append(names);
    // The axes speak in the legend's voice: one font for every label.
    x->setLabelsFont(chart->legend()->font());
    auto *y = new QValueAxis;
    y->setLabelsFont(chart->legend()->font());
    y->setRange(low, high);
    y->applyNiceNumbers();
    y->setLabelFormat(QStringLiteral("%g"));
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    for (QAbstractSeries *s : chart->series()) {
        s->attachAxis(x);
        s->attachAxis(y);
    }
}

void RptChartBuilder::addBars(const QVector<Points> &all, bool stacked, QChart *chart)
{
    QAbstractBarSeries *bars = stacked ? static_cast<QAbstractBarSeries *>(new QStackedBarSeries)
                                       : static_cast<QAbstractBarSeries *>(new QBarSeries);
    bool labels = false;
    for (const Points &p : all) {
        auto *set = new QBarSet(text(p.attributes, "caption"));
        for (double v : p.values)
            set->append(v);
        const QColor c = seriesColor(p.attributes);
        if (c.isValid()) {
            set->setColor(c);
            set->setBorderColor(c);
        }
        if (!stacked)
            set->setLabelColor(Qt::black);
        labels = labels || flag(p.attributes, "labelVisible", false);
        bars->append(set);
    }
    bars->setLabelsVisible(labels);
    if (!stacked)
        bars->setLabelsPosition(QAbstractBarSeries::LabelsOutsideEnd);
    chart->addSeries(bars);
    addAxes(categories(all), all, chart);
}

void RptChartBuilder::addLines(const QVector<Points> &all, QChart *chart)
{
    for (const Points &p : all) {
        auto *line = new QLineSeries;
        line->setName(text(p.attributes, "caption"));
        for (int i = 0; i < p.values.size(); ++i)
            line->append(i, p.values.at(i));
        QPen pen = line->pen();
        pen.setWidth(3);
        const QColor c = seriesColor(p.attributes);
        if (c.isValid())
            pen.setColor(c);
        line->setPen(pen);
        line->setPointsVisible(true);
        line->setPointLabelsVisible(flag(p.attributes, "labelVisible", false));
        line->setPointLabelsFormat(QStringLiteral("@yPoint"));
        chart->addSeries(line);
    }
    addAxes(categories(all), all, chart);
}

void RptChartBuilder::addPies(const QVector<Points> &all, QChart *chart)
{
    // Several pies stand side by side, each in its share of the width.
    const int n = all.size();
    for (int k = 0; k < n; ++k) {
        const Points &p = all.at(k);
        auto *pie = new QPieSeries;
        pie->setName(text(p.attributes, "caption"));
        pie->setHorizontalPosition((k + 0.5) / n);
        pie->setPieSize(qMin(0.7, 0.9 / n));
        double hole = text(p.attributes, "holeSize").toDouble();
        // Written as a share (0.4) or as per cent (40).
        if (hole > 1)
            hole /= 100;
        pie->setHoleSize(qBound(0.0, hole, 0.9));
        const QColor base = seriesColor(p.attributes);
        const bool exploded = flag(p.attributes, "sliceExploaded", false);
        const bool labels = flag(p.attributes, "labelVisible", false);
        const int slices = p.values.size();
        for (int i = 0; i < slices; ++i) {
            QPieSlice *slice = pie->append(p.labels.at(i), qMax(0.0, p.values.at(i)));
            // Slices of one colour would melt together: the series colour
            // starts a round of hues.
            if (base.isValid()) {
                int h = base.hsvHue() < 0 ? 0 : base.hsvHue();
                h = (h + i * 360 / qMax(1, slices)) % 360;
                slice->setColor(QColor::fromHsv(h, qMax(base.hsvSaturation(), 80), base.value()));
                slice->setBorderColor(Qt::white);
            }
            slice->setExploded(exploded);
            slice->setLabelVisible(labels);
        }
        chart->addSeries(pie);
    }
}
