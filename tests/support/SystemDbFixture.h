#pragma once

#include "support/ScriptedPrompts.h"
#include "support/Sql.h"
#include "support/TestEnv.h"

#include "core/DataModule.h"
#include "core/SqlOps.h"
#include "core/SystemSchema.h"

#include "db/Error.h"
#include "db/Query.h"

#include <gtest/gtest.h>

// A new system database at version 0 on the test Firebird server, with dm connected to it and
// other (a second administrator) connected as well. Returns its connection text.
inline QString OpenServerSystemDatabase(const QString& stem, TDM& dm, db::Database& other)
{
    const QString path = serverDatabasePath(stem);
    const db::ParamList p = firebirdParams(path);
    CreateSystemDatabase(path, p.value(QStringLiteral("USER NAME")), p.value(QStringLiteral("PASSWORD")));
    SetStartupConnection(dm.db_Sys, p.value(QStringLiteral("USER NAME")), p.value(QStringLiteral("PASSWORD")), path);
    dm.db_Sys.connect();
    other.setDriverName(QStringLiteral("INTRBASE"));
    other.params() = p;
    other.connect();
    return path;
}

// A new embedded system database at version 0, with the data module connected to it.
class SystemDbFixture : public testing::Test {
protected:
    void SetUp() override
    {
        m_path = m_tmp.path(QStringLiteral("sys.fdb"));
        CreateSystemDatabase(m_path, QStringLiteral("SYSCREAT"), QString());
        SetStartupConnection(m_dm.db_Sys, QStringLiteral("SYSCREAT"), QString(), m_path);
        m_dm.db_Sys.connect();
    }

    void exec(const QString& sql) { execSql(m_dm.db_Sys, sql); }
    QVariant scalar(const QString& sql) { return scalarOf(m_dm.db_Sys, sql); }
    QStringList column(const QString& sql) { return columnOf(m_dm.db_Sys, sql); }

    TempDir m_tmp;
    QString m_path;
    TDM m_dm;
    ScriptedPrompts m_prompts;
};
