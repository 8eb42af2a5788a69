#pragma once

#include "support/Sql.h"
#include "support/TestEnv.h"

#include "update/SQLUpdater.h"

#include "db/Cp1251.h"
#include "db/Database.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringList>

#include <gtest/gtest.h>

// The history table as a suite database has it: SU_ID from a generator.
inline void createHistoryTable(db::Database& d, const QString& name = QStringLiteral("SQL_UPDATES"))
{
    execSql(d, QStringLiteral("create table %1 (SU_ID integer not null primary key, SU_NO integer, SU_DATE date, "
                              "SU_FILENAME varchar(255), SU_FILEDATE date, SU_COMPNAME varchar(200), "
                              "SU_USERNAME varchar(200), SU_TEXT blob sub_type 1)").arg(name));
    execSql(d, QStringLiteral("create generator GEN_%1").arg(name));
    execSql(d, QStringLiteral("create trigger BI_%1 for %1 before insert as begin "
                              "if (new.SU_ID is null) then new.SU_ID = gen_id(GEN_%1, 1); end").arg(name));
}

// What a runner reported, one line per event.
struct EventLog {
    QStringList lines;
    void bind(TSQLUpdater& u)
    {
        u.OnStepStart = [this](TSQLUpdater& s) { lines << QStringLiteral("start %1").arg(s.CurrentStepNo()); };
        u.OnStepDone = [this](TSQLUpdater& s) { lines << QStringLiteral("done %1").arg(s.CurrentStepNo()); };
        u.OnAlreadyApplied = [this](int n, const QDateTime& at) {
            lines << QStringLiteral("applied %1%2").arg(n).arg(at.isValid() ? QString() : QStringLiteral(" no date"));
        };
        u.OnError = [this](const QString& m) { lines << QStringLiteral("error ") + m; };
    }
    QStringList errors() const { return lines.filter(QRegularExpression(QStringLiteral("^error "))); }
};

// A target database (embedded file, or on the test server) with a table T (K integer, N integer),
// a folder for scripts, and a runner that logs its events.
class UpdateFixture : public testing::Test {
protected:
    void openTarget(bool onServer)
    {
        m_server = onServer ? serverDatabasePath(QStringLiteral("upd")) : m_dir.path(QStringLiteral("target.fdb"));
        const db::ParamList p = firebirdParams(m_server);
        db::Database::createFirebirdDatabase(m_server, p.value("USER NAME"), p.value("PASSWORD"), false);
        m_db.setDriverName(QStringLiteral("INTRBASE"));
        m_db.params() = p;
        m_db.connect();
        execSql(m_db, QStringLiteral("create table T (K integer, N integer)"));
        execSql(m_db, QStringLiteral("create table LIB_LOG (N integer)"));
    }
    void TearDown() override
    {
        m_runner.reset();
        if (!m_server.isEmpty() && m_server.contains(QLatin1Char(':'))) {
            m_db.disconnect();
            const db::ParamList p = firebirdParams(m_server);
            try {
                db::Database::dropFirebirdDatabase(m_server, p.value("USER NAME"), p.value("PASSWORD"));
            } catch (const std::exception&) {
            }
        }
    }

    QString writeScript(const QString& name, const QString& text)
    {
        const QString path = m_dir.path(name);
        QFile f(path);
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(cp1251::encode(text));
        return path;
    }

    TSQLUpdater& runner()
    {
        if (!m_runner) {
            m_runner = std::make_unique<TSQLUpdater>(QStringLiteral("_test"));
            const db::ParamList p = firebirdParams(m_server);
            m_runner->SetLoginParams(QStringLiteral("USER NAME=") + p.value("USER NAME"), QStringLiteral("PASSWORD=") + p.value("PASSWORD"));
            m_runner->PumpMessages = false;
            m_events.bind(*m_runner);
        }
        return *m_runner;
    }

    // Loads, connects and runs every step; returns the events of this run.
    QStringList run(const QString& path)
    {
        m_events.lines.clear();
        TSQLUpdater& u = runner();
        u.LoadScript(path);
        u.ServerName = m_server;
        u.Connect();
        while (u.RunNextStep()) {
        }
        u.CloseAll();
        return m_events.lines;
    }

    QStringList column(const QString& sql) { return columnOf(m_db, sql); }

    TempDir m_dir;
    QString m_server;
    db::Database m_db;
    std::unique_ptr<TSQLUpdater> m_runner;
    EventLog m_events;
};
