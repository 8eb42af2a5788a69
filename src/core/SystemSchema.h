#pragma once

#include <QString>

// Creates a new, empty system database at schema version 0 (SQL dialect 1, WIN1251): the
// tables, generators, triggers and early procedures that the self-update brings to the
// current schema. owner becomes the database's owner, who may do anything in it. An existing
// file is never overwritten; a creation that fails part-way leaves nothing behind. Throws
// db::Error.
// A caller that goes on building the database passes Complete::Later and calls
// CompleteSystemDatabase when it is done: until then pages are written without waiting for the
// disk (a failed build is discarded anyway).
enum class Complete { Now, Later };
void CreateSystemDatabase(const QString& serverName, const QString& owner, const QString& password,
                          Complete complete = Complete::Now);
// Turns the synchronous page writes on, once the database is whole, and then marks it finished:
// until then it carries the mark of an unfinished creation. Throws db::Error.
void CompleteSystemDatabase(const QString& serverName, const QString& owner, const QString& password);

// Removes a system database this process has just created and could not finish: drops it
// (the file of a local path, the database on a server). Never throws: it runs while another
// error is on its way to the user.
void DiscardSystemDatabase(const QString& serverName, const QString& owner, const QString& password) noexcept;

// Drops the database at serverName if a creation that did not finish left it there (it carries
// that creation's mark); returns whether it did. A finished database, one the owner cannot open
// and a missing one stay as they are. Never throws.
bool DiscardUnfinishedSystemDatabase(const QString& serverName, const QString& owner, const QString& password) noexcept;
