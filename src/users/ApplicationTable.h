#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>

// One class of an application as the rights list offers it.
struct ClassEntry {
    QString ClassName; // decoded CLASS_NM, cut to kClassNameLength characters
    int ClassIdx = 0;
    QString FullName;  // the whole decoded name, for the hint of a cut one
};

constexpr int kMaxClasses = 11;
constexpr int kMaxApplications = 27;
constexpr int kClassNameLength = 20;

// One row of the rights list: an installed application of the suite with its classes.
struct ApplicationEntry {
    int AplId = 0;
    QString AliasName;
    QString AliasUser;
    QString AliasPassword;
    QString AliasProc;
    std::array<ClassEntry, kMaxClasses> Classes;
    int ClassCount = 0;
    int SuiteIndex = -1;
    // Classes past the eleventh: not offered, but a right in one of them is kept as it is.
    QList<int> SurplusClasses;

    QString caption() const;
    QString section() const;
    QString suiteAplName() const;
    // The class with that index among the offered ones, or nullptr.
    const ClassEntry* classByIdx(int classIdx) const;
};

// The applications of the rights list, at most kMaxApplications, in the order the system
// database gives them.
struct ApplicationTable {
    std::array<ApplicationEntry, kMaxApplications> entries;
    int count = 0;
    // What did not fit: the captions of applications past the last entry, and the applications
    // that have more classes than an entry holds.
    QStringList refusedApplications;
    QStringList appsWithSurplusClasses;

    const ApplicationEntry* byAplId(int aplId) const;
    int indexOfAplId(int aplId) const;
};

// The right of one application as the list holds it: ticked or not, and the chosen class.
struct RightChoice {
    int aplId = 0;
    bool ticked = false;
    std::optional<int> classIdx;
};
