#pragma once

#include "SelfUpdater.h"

#include "db/Database.h"

#include <QDialog>

class QProgressBar;
class TDM;

namespace SelfUpdateText {
inline const QString Consent = QStringLiteral(
    "Необходимо е да бъдат направени промени за нормалната работа на програмата.\r"
    "Сигурни ли сте че, имате актуален архив на базата SYS_DB(sys.gdb) ?\r"
    "За да протече нормално обновяването не трябва да има потребители работещи с програмите!");
inline const QString NoVersion = QStringLiteral("Грешка при обновяване на база sys.gdb\rСвържете се с Орвена");
inline const QString Error = QStringLiteral("Грешка : ");
inline const QString StepFailed = QStringLiteral(
    "Грешка при обновяване  ! \rИзвадете базата данни от архива и сe свържете с екипа на Квелта");
inline const QString Busy = QStringLiteral(
    "Базата данни sys.gdb в момента се обновява или се използва от друга програма.\r"
    "Опитайте отново, когато тя приключи.");
inline const QString Wait = QStringLiteral("Моля Изчакайте докато приключи обновяването");
// %1 the database
inline const QString Regenerate = QStringLiteral(
    "Базата данни %1 е останала с недовършена промяна от прекъснато обновяване, която само "
    "регенерирането (архив и възстановяване с gbak) премахва.\r"
    "Регенерирайте я, докато никоя програма не я използва (например от прозореца „Регенериране“ "
    "на Gatekeep, свързан с друга системна база), и стартирайте програмата отново.");
} // namespace SelfUpdateText

// The self-update check: brings the system database at location to the last step with the
// administrator's consent. Returns true when the main window may go on with the database.
bool SelfUpdateCheck(TDM& dm, const QString& location);

// The words of the engine for the state that only a backup and restore clears: a table number
// whose pages a creation killed in its commit left behind.
bool NeedsRegeneration(const QString& error);

// The largest step recorded in SelfUpdates; 0 for a database without the table.
int SystemSchemaVersion(db::Database& database);

// Shown while the steps run: progress and messages only, the work is SelfUpdater's. Owns the
// connection to the system database opened with the built-in maintenance account, while the
// shared connection is closed.
class TfrmSelfUpdate : public QDialog {
    Q_OBJECT
public:
    explicit TfrmSelfUpdate(TDM& dm, QWidget* parent = nullptr);

    // Runs the steps after `after` and shows what went wrong. The shared connection is closed
    // meanwhile and reopened afterwards, whatever happened.
    SelfUpdateResult Run(const QString& location, int after);
    // Whether Run brought the database to the last step.
    bool RunSteps(const QString& location, int after) { return Run(location, after) == SelfUpdateResult::Done; }

private:
    TDM& m_dm;
    db::Database su_db{QStringLiteral("_su_")};
    QProgressBar* m_progress;
};
