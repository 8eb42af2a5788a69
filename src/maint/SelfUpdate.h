#pragma once

#include "SelfUpdateSteps.h"

#include "db/Database.h"
#include "db/Query.h"

#include <QDialog>

class TDM;

// The self-update check: brings the system database at location to the last step with the
// administrator's consent. Returns true when the main window may go on with the database.
bool SelfUpdateCheck(TDM& dm, const QString& location);

// The largest step recorded in SelfUpdates; 0 for a database without the table.
int SystemSchemaVersion(db::Database& database);

// Shown while the steps run. Owns its own connection to the system database, opened with the
// built-in maintenance account, while the shared connection is closed.
class TfrmSelfUpdate : public QDialog {
    Q_OBJECT
public:
    explicit TfrmSelfUpdate(TDM& dm, QWidget* parent = nullptr);

    // Runs the steps after `after`; returns false when a step failed (it was reported).
    // The shared connection is closed meanwhile and reopened afterwards, whatever happened.
    bool RunSteps(const QString& location, int after);

private:
    bool RunStep(const SelfUpdateStep& step);
    bool RecreateLinks();
    bool MoveMod03Classes();
    void Record(const SelfUpdateStep& step);

    TDM& m_dm;
    db::Database su_db{QStringLiteral("_su_")};
    db::Query _Q;
};
