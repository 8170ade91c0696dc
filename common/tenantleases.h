#pragma once

#include <QDeadlineTimer>
#include <QHash>
#include <QMutex>
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
    // to take. Always true while leasing is off. A tenant this host may not
    // take because it already serves its fair share (see canTake()) is left
    // as a free lease row, so that a host with room adopts it at its next look.
    bool take(const QString &token);
    // Whether this host may take one more tenant: below its fair share, or
    // within a small margin above it while no live host is below its share.
    bool canTake() const;
    // Tenants this host serves beyond its fair share while another live host
    // serves fewer than its share: the ones to hand over, a few per look.
    int surplus() const;
    // Extends every lease of this host. Returns the tokens still held, or
    // false in *ok when the database did not answer (the leases then run out
    // by themselves, see isCurrent()).
    QSet<QString> renew(bool *ok);
    // Tenants whose lease ran out, oldest first.
    QStringList orphans(unsigned limit);
    void release(const QString &token);
    void releaseAll();

    // Writes this host's heartbeat and reads how the tenants are spread over
    // the live hosts; done with every renewal. False when the database did
    // not answer (the last picture stays).
    bool refreshShares();
    int liveHosts() const;
    int heldCount() const;
    // The tenants there are to share, divided by the live hosts, rounded up.
    int fairShare() const;

    // Whether work done now is still covered by the leases: false once the
    // last successful take or renewal is older than the lease less a safety
    // margin, so a host cut off from the database stops before another one
    // may take its tenants over.
    bool isCurrent() const;
    // The same for one tenant: also false once a renewal found the tenant
    // taken over, before its worker is retired.
    bool isCurrent(const QString &token) const;

private:
    void confirmed();
    void setHeld(const QSet<QString> &tokens);
    void park(const QString &token);

    DBManager *manager = nullptr;
    QString plugin;
    QString holderId;
    int seconds = 60;
    bool enabled = false;
    std::atomic<qint64> validUntilMs { 0 };
    // The tenants whose lease this host held at the last take or renewal;
    // asked from the workers' threads.
    mutable QMutex heldMutex;
    QSet<QString> heldTokens;
    // The last picture of the hosts: live hosts (heartbeats not expired),
    // leases held per live host, and the tenants there are to share.
    int live = 1;
    int tenants = 0;
    QHash<QString, int> perHost;
};
