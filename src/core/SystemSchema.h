#pragma once

#include <QString>

// Creates a new, empty system database at schema version 0 (SQL dialect 1, WIN1251): the
// tables, generators, triggers and early procedures that the self-update brings to the
// current schema. owner becomes the database's owner, who may do anything in it. An existing
// file is never overwritten. Throws db::Error.
void CreateSystemDatabase(const QString& serverName, const QString& owner, const QString& password);
