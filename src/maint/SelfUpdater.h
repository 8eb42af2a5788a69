#pragma once

#include "SelfUpdateSteps.h"

#include <QObject>

namespace db {
class Database;
}

// How a run of the steps ended.
enum class SelfUpdateResult {
    Done,       // every step up to the last is recorded
    StepFailed, // a step failed and left nothing behind; the ones before it stay recorded
    Busy,       // another connection holds the update or a table a step needs; nothing changed
    Failed,     // a failure outside any step (a connection, for one)
};

// The engine of the self-update: applies the built-in steps on a connection of its own. Each
// step's work and its SelfUpdates row are one transaction that reserves SelfUpdates (and the
// tables the step writes) for protected write, so one program at a time updates, and a failure
// or a kill anywhere leaves the database as the step found it. Knows no windows: its owner
// subscribes to the signals.
class SelfUpdater : public QObject {
    Q_OBJECT
public:
    explicit SelfUpdater(db::Database& database, QObject* parent = nullptr);

    // Applies the steps after `after` up to `last`. `after` is the version the caller saw; a
    // different one found under the reservation means that another program has been updating.
    // Throws for failures outside a step.
    SelfUpdateResult run(int after, int last = kSelfUpdateLastStep);

signals:
    void stepStarted(const SelfUpdateStep& step);
    void stepFailed(const SelfUpdateStep& step, const QString& error);

private:
    int version();
    bool alreadyApplied(const SelfUpdateStep& step);
    void apply(const SelfUpdateStep& step);
    void record(const SelfUpdateStep& step);

    db::Database& m_db;
};
