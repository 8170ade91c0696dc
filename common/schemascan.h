#pragma once

#include <QSqlDatabase>
#include <QString>
#include <functional>

class DBManager;

// One pass over the enabled schemas of the information database, page by
// page, as both plug-ins scan for tenants that need a worker.
struct SchemaScan
{
    unsigned total = 0; // enabled schemas counted when the pass began
    unsigned seen = 0; // tokens actually read

    // Calls visit(token) for every enabled token. Reads pages of pageSize
    // until as many tokens as counted have been read; schemas disabled in the
    // meantime make pages come back short, so an empty page ends the pass too.
    // Reads nothing when no schema is enabled (total stays 0).
    static SchemaScan run(DBManager *manager, unsigned pageSize, const std::function<void(const QString &)> &visit);

    // The same pass, with the schemas that skip() leaves over tested side by
    // side on up to `parallel` threads of its own. Each test gets a connection
    // of the schema, configured but not opened, within the host's budget; it
    // must open and close it itself and may run in any thread. accept(token)
    // is called on the calling thread, in scan order, for every schema whose
    // test passed.
    static SchemaScan runTested(DBManager *manager, unsigned pageSize, int parallel,
                                const std::function<bool(const QString &)> &skip,
                                const std::function<bool(QSqlDatabase &)> &test,
                                const std::function<void(const QString &)> &accept);
};
