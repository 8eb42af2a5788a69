#include "SelfUpdater.h"

#include "db/Database.h"
#include "db/Error.h"
#include "db/Query.h"

#include <algorithm>
#include <optional>
#include <stdexcept>

namespace {

// The server's words when another connection's lock refuses a reservation.
bool isLockConflict(const std::exception& e)
{
    const QString message = db::errorMessage(e);
    return message.contains(QLatin1String("lock conflict"), Qt::CaseInsensitive) ||
           message.contains(QLatin1String("lock time-out"), Qt::CaseInsensitive);
}

} // namespace

SelfUpdater::SelfUpdater(db::Database& database, QObject* parent) : QObject(parent), m_db(database) {}

SelfUpdateResult SelfUpdater::run(int after, int last)
{
    // What a run killed in a commit left would stop this one for good. A release that fails
    // (another program creating tables at this moment) changes nothing: the step that cannot go
    // on says so itself.
    try {
        ReleaseAbandonedTablePages(m_db);
    } catch (const std::exception&) {
    }
    for (const SelfUpdateStep& step : SelfUpdateSteps()) {
        if (step.number <= after || step.number > last)
            continue;
        emit stepStarted(step);

        db::TransactionOptions options;
        options.protectedWrite = QStringList{QStringLiteral("SELFUPDATES")} + step.reserves;
        std::optional<db::Transaction> t;
        try {
            t.emplace(m_db, options);
        } catch (const db::Error& e) {
            if (isLockConflict(e))
                return SelfUpdateResult::Busy;
            throw;
        }
        // Under the reservation the version can no longer move: anything but the step before
        // this one is the work of another program.
        const int found = version();
        if (found != step.number - 1)
            return found >= last ? SelfUpdateResult::Done : SelfUpdateResult::Busy;

        try {
            if (!alreadyApplied(step))
                apply(step);
            record(step);
            t->commit();
        } catch (const std::exception& e) {
            const QString error = db::errorMessage(e);
            t.reset();
            emit stepFailed(step, error);
            return SelfUpdateResult::StepFailed;
        }
    }
    return SelfUpdateResult::Done;
}

int SelfUpdater::version()
{
    db::Query q(&m_db);
    q.setSql(QStringLiteral("Select max(SU_ID) from SelfUpdates"));
    q.open();
    return q.eof() ? 0 : q.field(0).asInteger();
}

bool SelfUpdater::alreadyApplied(const SelfUpdateStep& step)
{
    return !step.creates.isEmpty() &&
           std::all_of(step.creates.begin(), step.creates.end(), [&](const CatalogueObject& o) { return CatalogueHas(m_db, o); });
}

void SelfUpdater::apply(const SelfUpdateStep& step)
{
    switch (step.kind) {
    case SelfUpdateStep::Sql:
        if (!step.sql.isEmpty()) {
            db::Query q(&m_db);
            q.setParamCheck(false);
            q.setSql(step.sql);
            q.execSql();
        }
        return;
    case SelfUpdateStep::Operation:
        if (step.operation) {
            step.operation(m_db);
            return;
        }
        break;
    }
    throw std::logic_error(QStringLiteral("Стъпка %1 е от непознат вид %2").arg(step.number).arg(step.kind).toStdString());
}

void SelfUpdater::record(const SelfUpdateStep& step)
{
    db::Query q(&m_db);
    q.setSql(QStringLiteral("insert into SelfUpdates (SU_ID, SU_Descr, SU_Blob) values (:id, :descr, :blob)"));
    q.setParam(QStringLiteral("id"), step.number);
    q.setParam(QStringLiteral("descr"), step.description);
    q.setParam(QStringLiteral("blob"), step.sql.isEmpty() ? QVariant() : QVariant(step.sql));
    q.execSql();
}
