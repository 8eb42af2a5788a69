#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace db {
class Database;
}

// An object of the database catalogue that a step creates.
struct CatalogueObject {
    enum Kind { Table, Column, Generator, Trigger, PrimaryKey };
    Kind kind;
    QString name;   // the table (also of a column or a primary key), generator or trigger
    QString column; // of a Column
};

// Whether the catalogue of database holds object (names compare in upper case).
bool CatalogueHas(db::Database& database, const CatalogueObject& object);

// A table whose creation was killed in its commit leaves its pages listed under a relation
// number that no table has, and the next table created takes that number and cannot build its
// key's index there ("cannot create index RDB$PRIMARYn"), for good. Takes every such number
// with a spare table and drops the spares, which releases the pages. Works outside any
// transaction, each statement committed. Throws db::Error.
void ReleaseAbandonedTablePages(db::Database& database);

// One built-in schema step of the system database.
struct SelfUpdateStep {
    enum Kind { Sql = 0, Operation = 2 };
    int number;
    QString description; // stored as SU_Descr
    QString sql;         // stored as SU_Blob; empty for operations and for steps without a statement
    int kind;
    // What the step creates. When all of it is there already (the work of a run that was
    // stopped before its row was written), the step only records itself.
    QList<CatalogueObject> creates = {};
    // Tables the step writes besides SelfUpdates: reserved for its whole transaction, so that
    // no other connection changes them half-way.
    QStringList reserves = {};
    // The work of an Operation, inside the step's transaction. Throws on any failure.
    void (*operation)(db::Database&) = nullptr;
};

constexpr int kSelfUpdateLastStep = 27;

// Steps 1 to 27, in order.
const QList<SelfUpdateStep>& SelfUpdateSteps();
