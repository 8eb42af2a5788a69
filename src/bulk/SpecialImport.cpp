#include "bulk/SpecialImport.h"

#include "db/Error.h"

// Placeholder until the matching lands.
void RunSpecialImport(db::Database&, const QStringList&, const std::function<void(const QString&)>&)
{
    throw db::Error(QStringLiteral("not built yet"));
}
