#pragma once

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

// Reads an .icr file; throws db::Error when it is not one.
InstallDescription ReadInstallDescription(const QString& path);
// Writes an .icr file from a plain INI description (see the README); throws db::Error.
void WriteInstallDescription(const QString& iniPath, const QString& icrPath);
