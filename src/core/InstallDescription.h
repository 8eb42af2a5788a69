#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// What a vendor ships to register an application: its name, its database settings and its
// classes. Stored scrambled in an .icr file.
struct InstallDescription {
    struct Class {
        QString name;
        QString password;
    };
    QString name;
    QString alias;      // "--" in the file stands for empty
    QString user;
    QString password;
    QString procedure;
    QList<Class> classes;
};

// Classes one description may hold; Count is one more.
constexpr int kMaxInstallClasses = 999;

// The description in the bytes of an .icr file, checked whole: every key present once, Count
// from 1 to kMaxInstallClasses + 1 with exactly the classes 1 to Count - 1, every value 1 to
// 34 characters without control characters, line ends CRLF or LF. Throws InputError naming
// source and the first fault; values (passwords among them) are never quoted.
InstallDescription ParseInstallDescription(const QByteArray& file, const QString& source);
// Reads and checks an .icr file; throws InputError.
InstallDescription ReadInstallDescription(const QString& path);
// The bytes of an .icr file holding the given "key=value" lines (cp1251), unchecked.
QByteArray ScrambleInstallDescription(const QByteArray& lines);
// Writes an .icr file from a plain INI description (see the README) after checking the result
// as ReadInstallDescription would; throws InputError and then writes nothing.
void WriteInstallDescription(const QString& iniPath, const QString& icrPath);
