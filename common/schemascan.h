#pragma once

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
};
