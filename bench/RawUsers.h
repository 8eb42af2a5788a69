#pragma once

#include <QString>

#include <cstddef>

// The yardstick for the users list: the same query straight on the Firebird OO API, every
// column kept in plain arrays, the two stored names decoded from the fetched bytes, the rows
// ordered by full name without regard to case. No dataset, no QVariant, no QString per row.
struct RawUsers {
    std::size_t rows = 0;
    QString firstName; // of the first and the last row in that order
    QString lastName;
    std::size_t dataBytes = 0; // what the arrays hold (capacity), for comparison with the dataset
    double ms = 0;             // from the open transaction to the sorted rows; attaching is not counted
};

RawUsers LoadUsersRaw(const QString& databasePath, const QString& sql);
