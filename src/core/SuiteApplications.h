#pragma once

#include <QString>
#include <QStringView>

#include <array>

// One application of the suite.
struct SuiteApplication {
    QStringView key;      // key name, matched by the automatic rights' database lists
    QStringView iniFile;  // the application's ini file (may be empty)
    QStringView aplName;  // its APL_NAME in the system database (decoded); the lookup column
    QStringView number;   // a numeric text kept for the suite's other programs
    QStringView caption;  // shown to the user
    QStringView section;  // its section in ZorCfg.ini
};

constexpr int kSuiteApplicationCount = 27;
extern const std::array<SuiteApplication, kSuiteApplicationCount> SuiteApplicationTable;

// The first row whose APL_NAME equals name without regard to case, or -1.
int FindSuiteApplication(const QString& name);
// Whether name is this program's own application (row 0): its classes are how administrators log in.
bool IsOwnApplication(const QString& name);
