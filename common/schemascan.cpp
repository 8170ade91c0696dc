#include "schemascan.h"

#include "dbmanager.h"

SchemaScan SchemaScan::run(DBManager *manager, unsigned pageSize, const std::function<void(const QString &)> &visit)
{
    SchemaScan scan;
    if (!manager)
        return scan;
    scan.total = manager->tokensCount(true);
    if (scan.total == 0)
        return scan;
    unsigned offset = 0;
    do {
        const QStringList page = manager->loadTokens(pageSize, offset);
        for (const QString &token : page)
            visit(token);
        offset += pageSize;
        scan.seen += unsigned(page.size());
        if (page.isEmpty())
            break;
    } while (scan.seen < scan.total);
    return scan;
}
