#include "metricsregistry.h"

#include "commonlogging.h"

#include <QCoreApplication>
#include <QVariant>

#include <algorithm>
#include <atomic>
#include <cmath>

namespace {
struct FamilyLine
{
    const char *name;
    MetricsRegistry::Type type;
    const char *help;
    QVector<double> buckets;
};

const QVector<double> kSendBuckets { 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10, 30, 60 };
const QVector<double> kRenderBuckets { 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10 };
const QVector<double> kScanBuckets { 0.01, 0.05, 0.1, 0.5, 1, 5, 10, 30, 60, 300 };

using T = MetricsRegistry::Type;
// Every metric of the host, one line each. Names follow Prometheus habits:
// base units, counters end in _total.
const FamilyLine kFamilies[] = {
    { "yxa_build_info", T::Gauge, "Version of the host and of Qt it runs on (always 1).", {} },
    { "yxa_plugin_info", T::Gauge, "Version of each loaded plug-in (always 1).", {} },
    { "yxa_mails_total", T::Counter, "Mails that reached a final status letter, by transport.",
        {} },
    { "yxa_mail_send_duration_seconds", T::Histogram,
        "Time from handing a mail to its transport to the transport's report.", kSendBuckets },
    { "yxa_mail_attempts_total", T::Counter,
        "Attempts to send a mail, by kind: accepted, temporary, unknown, refused.", {} },
    { "yxa_mails_pending", T::Gauge,
        "Mails waiting for their first attempt (or queued again) in the tenants this host serves, "
        "as the last read of each queue found them (at most 100 a tenant).",
        {} },
    { "yxa_mails_retry_waiting", T::Gauge,
        "Mails waiting for a further attempt in the tenants this host serves.", {} },
    { "yxa_mail_oldest_pending_age_seconds", T::Gauge,
        "Age of the oldest pending mail in the tenants this host serves, at the last read.", {} },
    { "yxa_tenants_served", T::Gauge, "Tenants with a worker on this host, per plug-in.", {} },
    { "yxa_tenant_leases_held", T::Gauge, "Tenant leases this host holds, per plug-in.", {} },
    { "yxa_lease_renewal_timestamp_seconds", T::Gauge,
        "When this host last renewed its tenant leases, per plug-in (Unix time).", {} },
    { "yxa_db_connection_budget", T::Gauge, "Tenant connections this host may hold open at once.",
        {} },
    { "yxa_db_connections_in_use", T::Gauge, "Tenant connections of the budget in use now.", {} },
    { "yxa_info_db_up", T::Gauge, "Whether the information database answered the last check.", {} },
    { "yxa_info_db_answer_timestamp_seconds", T::Gauge,
        "When the information database last answered (Unix time).", {} },
    { "yxa_schema_scan_duration_seconds", T::Histogram,
        "Duration of a pass over the enabled schemas.", kScanBuckets },
    { "yxa_schema_scan_success", T::Gauge,
        "Whether the last pass over the schemas could read them.", {} },
    { "yxa_catering_ticks_total", T::Counter, "Catering ticks run by the tenant workers.", {} },
    { "yxa_order_mails_queued_total", T::Counter, "Order mails the catering workers queued.", {} },
    { "yxa_order_pdf_render_duration_seconds", T::Histogram, "Time to render one order PDF.",
        kRenderBuckets },
};

const char kInstanceProperty[] = "yxaMetricsRegistry";
std::atomic<MetricsRegistry *> cached { nullptr };

QByteArray number(double value)
{
    if (std::isinf(value))
        return value > 0 ? QByteArrayLiteral("+Inf") : QByteArrayLiteral("-Inf");
    if (std::isnan(value))
        return QByteArrayLiteral("NaN");
    if (value == std::floor(value) && std::fabs(value) < 1e15)
        return QByteArray::number(qint64(value));
    return QByteArray::number(value, 'g', 15);
}

QByteArray escaped(const QByteArray &value)
{
    QByteArray out;
    out.reserve(value.size());
    for (const char c : value) {
        if (c == '\\' || c == '"')
            out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out;
}

QByteArray labelText(const MetricsRegistry::Labels &labels, const QByteArray &extraName = {},
    const QByteArray &extraValue = {})
{
    if (labels.empty() && extraName.isEmpty())
        return {};
    QByteArray text = "{";
    bool first = true;
    for (const auto &label : labels) {
        if (!first)
            text += ',';
        first = false;
        text += label.first + "=\"" + escaped(label.second) + '"';
    }
    if (!extraName.isEmpty()) {
        if (!first)
            text += ',';
        text += extraName + "=\"" + extraValue + '"';
    }
    return text + '}';
}
} // namespace

MetricsRegistry::MetricsRegistry()
{
    for (const FamilyLine &line : kFamilies)
        families.insert(
            QByteArray(line.name), Family { line.type, QByteArray(line.help), line.buckets });
}

void MetricsRegistry::install(MetricsRegistry *registry)
{
    // The application object is the one thing every copy of this library in
    // the process shares.
    if (QCoreApplication *app = QCoreApplication::instance())
        app->setProperty(kInstanceProperty, QVariant::fromValue(static_cast<void *>(registry)));
    cached.store(registry);
}

MetricsRegistry *MetricsRegistry::instance()
{
    if (MetricsRegistry *known = cached.load())
        return known;
    QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return nullptr;
    auto *found = static_cast<MetricsRegistry *>(app->property(kInstanceProperty).value<void *>());
    if (found)
        cached.store(found);
    return found;
}

void MetricsRegistry::count(const QByteArray &name, const Labels &labels, double amount)
{
    if (MetricsRegistry *registry = instance())
        registry->add(name, labels, amount);
}

void MetricsRegistry::gauge(const QByteArray &name, const Labels &labels, double value)
{
    if (MetricsRegistry *registry = instance())
        registry->set(name, labels, value);
}

void MetricsRegistry::gaugeShift(const QByteArray &name, const Labels &labels, double delta)
{
    if (MetricsRegistry *registry = instance())
        registry->shift(name, labels, delta);
}

void MetricsRegistry::observe(const QByteArray &name, const Labels &labels, double value)
{
    if (MetricsRegistry *registry = instance())
        registry->record(name, labels, value);
}

MetricsRegistry::Series *MetricsRegistry::series(
    const QByteArray &name, const Labels &labels, Type type)
{
    const auto family = families.constFind(name);
    if (family == families.constEnd() || family->type != type) {
        if (!warned.contains(name)) {
            warned.insert(name, true);
            qCWarning(lcCommon,
                "MetricsRegistry - metric %s is not declared as used, its values are dropped",
                name.constData());
        }
        return nullptr;
    }
    Labels sorted = labels;
    std::sort(sorted.begin(), sorted.end());
    Series &entry = values[name][sorted];
    if (type == Type::Histogram && entry.bucketCounts.empty())
        entry.bucketCounts.assign(size_t(family->buckets.size()), 0);
    return &entry;
}

void MetricsRegistry::add(const QByteArray &name, const Labels &labels, double amount)
{
    if (amount < 0)
        return;
    QMutexLocker lock(&mutex);
    if (Series *entry = series(name, labels, Type::Counter))
        entry->value += amount;
}

void MetricsRegistry::set(const QByteArray &name, const Labels &labels, double value)
{
    QMutexLocker lock(&mutex);
    if (Series *entry = series(name, labels, Type::Gauge))
        entry->value = value;
}

void MetricsRegistry::shift(const QByteArray &name, const Labels &labels, double delta)
{
    QMutexLocker lock(&mutex);
    if (Series *entry = series(name, labels, Type::Gauge))
        entry->value += delta;
}

void MetricsRegistry::record(const QByteArray &name, const Labels &labels, double value)
{
    QMutexLocker lock(&mutex);
    Series *entry = series(name, labels, Type::Histogram);
    if (!entry)
        return;
    const QVector<double> &bounds = families.value(name).buckets;
    for (int i = 0; i < bounds.size(); ++i) {
        if (value <= bounds.at(i))
            ++entry->bucketCounts[size_t(i)];
    }
    entry->value += value;
    ++entry->count;
}

double MetricsRegistry::value(const QByteArray &name, const Labels &labels, double def) const
{
    Labels sorted = labels;
    std::sort(sorted.begin(), sorted.end());
    QMutexLocker lock(&mutex);
    const auto family = values.find(name);
    if (family == values.end())
        return def;
    const auto entry = family->second.find(sorted);
    if (entry == family->second.end())
        return def;
    return families.value(name).type == Type::Histogram ? double(entry->second.count)
                                                        : entry->second.value;
}

QByteArray MetricsRegistry::exposition() const
{
    QMutexLocker lock(&mutex);
    QByteArray text;
    for (const FamilyLine &line : kFamilies) {
        const QByteArray name(line.name);
        const auto found = values.find(name);
        if (found == values.end() || found->second.empty())
            continue;
        const Family &family = families[name];
        const char *type = family.type == Type::Counter ? "counter"
            : family.type == Type::Gauge                ? "gauge"
                                                        : "histogram";
        text += "# HELP " + name + ' ' + family.help + '\n';
        text += "# TYPE " + name + ' ' + type + '\n';
        for (const auto &entry : found->second) {
            const Labels &labels = entry.first;
            const Series &series = entry.second;
            if (family.type != Type::Histogram) {
                text += name + labelText(labels) + ' ' + number(series.value) + '\n';
                continue;
            }
            for (int i = 0; i < family.buckets.size(); ++i)
                text += name + "_bucket" + labelText(labels, "le", number(family.buckets.at(i)))
                    + ' ' + number(double(series.bucketCounts[size_t(i)])) + '\n';
            text += name + "_bucket" + labelText(labels, "le", "+Inf") + ' '
                + number(double(series.count)) + '\n';
            text += name + "_sum" + labelText(labels) + ' ' + number(series.value) + '\n';
            text += name + "_count" + labelText(labels) + ' ' + number(double(series.count)) + '\n';
        }
    }
    return text;
}
