#pragma once

#include "UpdateFixture.h"

#include "db/Database.h"

#include <QFile>
#include <QString>

#include <gtest/gtest.h>

// An application database as a local file of the embedded engine, with or without the history
// table the suite's databases keep.
class LocalAppDatabase {
public:
    LocalAppDatabase(const QString& path, bool withHistory, const QString& historyTable = QStringLiteral("SQL_UPDATES"))
        : m_path(path)
    {
        db::Database::createFirebirdDatabase(m_path, QStringLiteral("SYSDBA"), QString());
        db.setDriverName(QStringLiteral("INTRBASE"));
        db.params().setValue(QStringLiteral("SERVER NAME"), m_path);
        db.params().setValue(QStringLiteral("USER NAME"), QStringLiteral("SYSDBA"));
        db.connect();
        if (withHistory)
            createHistory(historyTable);
    }
    ~LocalAppDatabase() { release(); }

    void createHistory(const QString& table) { createHistoryTable(db, table); }
    void addHistory(int stepNo, const QString& file, const QString& date)
    {
        execSql(db, QStringLiteral("insert into SQL_UPDATES (SU_NO, SU_DATE, SU_FILENAME) values (%1, \"%2\", \"%3\")")
                        .arg(stepNo)
                        .arg(date, file));
    }
    // Lets another attachment of this process in: the embedded engine takes the file as a whole.
    void release()
    {
        if (db.connected())
            db.disconnect();
    }
    const QString& path() const { return m_path; }
    db::Database db;

private:
    QString m_path;
};

inline void writeFile(const QString& path, const QByteArray& text)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text);
}
