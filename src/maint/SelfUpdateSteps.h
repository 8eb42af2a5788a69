#pragma once

#include <QList>
#include <QString>

// One built-in schema step of the system database.
struct SelfUpdateStep {
    enum Kind { Sql = 0, Operation = 2 };
    int number;
    QString description; // stored as SU_Descr
    QString sql;         // stored as SU_Blob; empty for operations and for steps without a statement
    int kind;
};

constexpr int kSelfUpdateLastStep = 27;

// Steps 1 to 27, in order.
const QList<SelfUpdateStep>& SelfUpdateSteps();
