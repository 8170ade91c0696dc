#pragma once

#include <QByteArray>
#include <QHash>
#include <QMutex>
#include <QVector>

#include <map>
#include <utility>
#include <vector>

// The host's metrics: counters, gauges and histograms, written by every
// thread and read as the Prometheus text exposition. Labels are few and
// bounded (plug-in, transport, status letter); a tenant never becomes a
// label, as thousands of tenants would make thousands of series.
//
// The host owns one registry and installs it for the process; the plug-ins,
// loaded with a copy of this library each, find it through instance(). Every
// metric is declared once in the table of families (metricsregistry.cpp), so
// a name, its type, help and buckets stay in one place; values of an
// undeclared name are dropped with one warning. Without an installed registry
// the static helpers do nothing (unit tests, the real host server).
class MetricsRegistry
{
public:
    using Labels = std::vector<std::pair<QByteArray, QByteArray>>;
    enum class Type { Counter, Gauge, Histogram };

    MetricsRegistry();

    static void install(MetricsRegistry *registry);
    static MetricsRegistry *instance();

    // Shorthands for the installed registry.
    static void count(const QByteArray &name, const Labels &labels = {}, double amount = 1);
    static void gauge(const QByteArray &name, const Labels &labels, double value);
    // Moves a gauge by delta: a host-wide sum that many writers keep.
    static void gaugeShift(const QByteArray &name, const Labels &labels, double delta);
    static void observe(const QByteArray &name, const Labels &labels, double value);

    void add(const QByteArray &name, const Labels &labels, double amount);
    void set(const QByteArray &name, const Labels &labels, double value);
    void shift(const QByteArray &name, const Labels &labels, double delta);
    void record(const QByteArray &name, const Labels &labels, double value);

    // The value of a counter or gauge series, or of a histogram's count;
    // def when the series has no value yet.
    double value(const QByteArray &name, const Labels &labels = {}, double def = 0) const;

    // Every declared family, series in label order.
    QByteArray exposition() const;

private:
    struct Family
    {
        Type type = Type::Counter;
        QByteArray help;
        QVector<double> buckets;
    };
    struct Series
    {
        double value = 0; // counter or gauge; the sum of a histogram
        quint64 count = 0;
        std::vector<quint64> bucketCounts;
    };

    Series *series(const QByteArray &name, const Labels &labels, Type type);

    QHash<QByteArray, Family> families;
    std::map<QByteArray, std::map<Labels, Series>> values;
    QHash<QByteArray, bool> warned;
    mutable QMutex mutex;
};
