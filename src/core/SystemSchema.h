#pragma once

#include <QString>

// Creates a new, empty system database at schema version 0 (SQL dialect 1, WIN1251): the
// tables, generators, triggers and early procedures that the self-update brings to the
// current schema. owner becomes the database's owner, who may do anything in it. An existing
// file is never overwritten; a creation that fails part-way leaves nothing behind. Throws
// db::Error.
void CreateSystemDatabase(const QString& serverName, const QString& owner, const QString& password);

// Removes a system database this process has just created and could not finish: drops it
// (the file of a local path, the database on a server). Never throws: it runs while another
// error is on its way to the user.
void DiscardSystemDatabase(const QString& serverName, const QString& owner, const QString& password) noexcept;
