#include "SelfUpdate.h"

#include "core/DataModule.h"
#include "core/Prompts.h"
#include "core/SqlOps.h"

#include "db/Error.h"
#include "db/Query.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

namespace {

void repaint() { QApplication::processEvents(QEventLoop::ExcludeUserInputEvents); }

void showError(const QString& message) { prompts().message(SelfUpdateText::Error + message, Prompts::Icon::Error); }

void showRegenerate(const QString& location)
{
    prompts().message(SelfUpdateText::Regenerate.arg(location), Prompts::Icon::Error);
}

// The history table is created piece by piece, each piece committed on its own; a piece found
// in the catalogue is not made again, so a check stopped half-way completes it next time.
// Returns false when the table could not be made.
bool CreateSelfUpdatesTable(TDM& dm, const QString& location)
{
    if (!dm.db_Sys.tableNames().contains(QStringLiteral("SelfUpdates"), Qt::CaseInsensitive)) {
        // A creation killed in its commit would stop this one for good; a release that fails
        // shows itself in the creation below.
        try {
            ReleaseAbandonedTablePages(dm.db_Sys);
        } catch (const std::exception&) {
        }
        if (!ExecSqlText(dm.WQ, QStringLiteral("Create Table SelfUpdates(SU_ID integer not null primary key,SU_Date Date,"
                                               "SU_Descr Varchar(100),SU_Blob Blob)"),
                         true)) {
            showError(LastSqlError());
            if (NeedsRegeneration(LastSqlError()))
                showRegenerate(location);
            return false;
        }
    }
    if (!CatalogueHas(dm.db_Sys, {CatalogueObject::Trigger, QStringLiteral("SETSUDATE"), {}})) {
        ExecSqlOrReport(dm.WQ, QStringLiteral("Create Trigger SetSUDate for SelfUpdates before Insert as Begin "
                                              "New.SU_Date = \"Now\"; End "),
                        true);
        ExecSqlOrReport(dm.WQ, QStringLiteral("Grant All on SelfUpdates to syscreat"), true);
    }
    return true;
}

} // namespace

bool NeedsRegeneration(const QString& error) { return error.contains(QLatin1String("cannot create index"), Qt::CaseInsensitive); }

int SystemSchemaVersion(db::Database& database)
{
    if (!database.tableNames().contains(QStringLiteral("SELFUPDATES"), Qt::CaseInsensitive))
        return 0;
    db::Query q(&database);
    q.setSql(QStringLiteral("Select max(SU_ID) from SelfUpdates"));
    q.open();
    return q.field(0).asInteger();
}

bool SelfUpdateCheck(TDM& dm, const QString& location)
{
    try {
        if (!CreateSelfUpdatesTable(dm, location))
            return false;
        if (!ExecSqlText(dm.WQ, QStringLiteral("Select max(SU_ID) from SelfUpdates"), false)) {
            prompts().message(SelfUpdateText::NoVersion, Prompts::Icon::Error);
            return false;
        }
        const int n = dm.WQ.eof() ? 0 : dm.WQ.field(0).asInteger();
        dm.WQ.close();
        if (n >= kSelfUpdateLastStep)
            return true;
        if (!prompts().confirm(SelfUpdateText::Consent, Prompts::Icon::Warning))
            return false;
        TfrmSelfUpdate window(dm);
        window.show();
        repaint();
        const SelfUpdateResult result = window.Run(location, n);
        window.close();
        // After a failed step the database is whole at the step before it, and the window
        // may work with it.
        return result == SelfUpdateResult::Done || result == SelfUpdateResult::StepFailed;
    } catch (const std::exception& e) {
        showError(db::errorMessage(e));
    }
    return false;
}

TfrmSelfUpdate::TfrmSelfUpdate(TDM& dm, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint), m_dm(dm), m_progress(new QProgressBar(this))
{
    setWindowTitle(QStringLiteral("Обновяване"));
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(SelfUpdateText::Wait, this);
    label->setMargin(24);
    layout->addWidget(label);
    m_progress->setRange(0, kSelfUpdateLastStep);
    layout->addWidget(m_progress);
}

SelfUpdateResult TfrmSelfUpdate::Run(const QString& location, int after)
{
    SelfUpdateResult result = SelfUpdateResult::Failed;
    SetSelfUpdateConnection(su_db, location);
    m_dm.db_Sys.disconnect();
    try {
        su_db.connect();
        SelfUpdater updater(su_db);
        connect(&updater, &SelfUpdater::stepStarted, this, [this](const SelfUpdateStep& step) {
            m_progress->setValue(step.number - 1);
            repaint();
        });
        connect(&updater, &SelfUpdater::stepFailed, this, [&location](const SelfUpdateStep&, const QString& error) {
            showError(error);
            if (NeedsRegeneration(error))
                showRegenerate(location);
            else
                prompts().message(SelfUpdateText::StepFailed, Prompts::Icon::Error);
        });
        m_progress->setValue(after);
        result = updater.run(after);
        if (result == SelfUpdateResult::Busy)
            prompts().message(SelfUpdateText::Busy, Prompts::Icon::Warning);
    } catch (const std::exception& e) {
        showError(db::errorMessage(e));
        result = SelfUpdateResult::Failed;
    }
    // The shared connection comes back whatever happened above.
    try {
        su_db.disconnect();
    } catch (const std::exception&) {
    }
    try {
        m_dm.db_Sys.connect();
    } catch (const std::exception& e) {
        showError(db::errorMessage(e));
        result = SelfUpdateResult::Failed;
    }
    return result;
}
