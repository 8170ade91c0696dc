#pragma once

#include <QDeadlineTimer>
#include <QSet>
#include <QString>
#include <QStringList>

#include <atomic>

class DBManager;

// Shares one plug-in's tenants among the hosts that run over the same
// information database: a tenant is served by the host that holds its lease
// row in `tenant_leases` (token, plug-in, holder, expiry). Every statement is
// a single one against the information database, so a lease needs no
// connection held open; expiry follows the database's clock only, never a
// host's.
//
// The plug-in takes a lease before it gives a tenant a worker, renews all its
// leases in one statement well before they expire, adopts tenants whose lease
// ran out (their host died or lost the database), and releases its leases when
// it stops. When the table cannot be made (no right to create it) leasing is
// off and the plug-in behaves as a single host.
//
// Used on the plug-in's thread; isCurrent() may be asked from any thread.
class TenantLeases
{
public:
    TenantLeases(DBManager *manager, const QString &plugin);

    const QString &holder() const { return holderId; }
    int leaseSeconds() const { return seconds; }
    void setLeaseSeconds(int value);
    bool isEnabled() const { return enabled; }

    // Creates the table when it is missing; false (leasing off) when that fails.
    bool prepare();

    // True when this host holds the tenant's lease now: taken, renewed, or free
    // to take. Always true while leasing is off.
    bool take(const QString &token);
    // Extends every lease of this host. Returns the tokens still held, or
    // false in *ok when the database did not answer (the leases then run out
    // by themselves, see isCurrent()).
    QSet<QString> renew(bool *ok);
    // Tenants whose lease ran out, oldest first.
    QStringList orphans(unsigned limit);
    void release(const QString &token);
    void releaseAll();

    // Whether work done now is still covered by the leases: false once the
    // last successful take or renewal is older than the lease less a safety
    // margin, so a host cut off from the database stops before another one
    // may take its tenants over.
    bool isCurrent() const;

private:
    void confirmed();

    DBManager *manager = nullptr;
    QString plugin;
    QString holderId;
    int seconds = 60;
    bool enabled = false;
    std::atomic<qint64> validUntilMs { 0 };
};
