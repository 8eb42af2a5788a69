#include "TestEnv.h"

#include "db/Database.h"

#include <QFile>
#include <QRegularExpression>
#include <QUuid>

#include <gtest/gtest.h>

QString requireEnv(const char* name)
{
    const QString v = qEnvironmentVariable(name);
    if (v.isEmpty())
        ADD_FAILURE() << name << " is not set: run the tests through scripts/test, which starts the test servers";
    return v;
}

QString serverDatabasePath(const QString& stem)
{
    const QString server = requireEnv("GATEKEEP_TEST_FB_SERVER");
    const QString dir = requireEnv("GATEKEEP_TEST_FB_DIR");
    return server + QLatin1Char(':') + dir + QLatin1Char('/') + stem + QLatin1Char('-') +
           QUuid::createUuid().toString(QUuid::Id128).left(12) + QStringLiteral(".fdb");
}

db::ParamList firebirdParams(const QString& serverName)
{
    const QString user = qEnvironmentVariable("GATEKEEP_TEST_FB_USER", QStringLiteral("SYSDBA"));
    const QString password = qEnvironmentVariable("GATEKEEP_TEST_FB_PASSWORD", QStringLiteral("masterkey"));
    return {{QStringLiteral("SERVER NAME"), serverName}, {QStringLiteral("USER NAME"), user}, {QStringLiteral("PASSWORD"), password}};
}

namespace {
void runAdmin(const QString& conninfo, const QString& sql)
{
    db::Database admin;
    admin.setDriverName(QStringLiteral("POSTGRESQL"));
    admin.params().setValue(QStringLiteral("SERVER NAME"), conninfo);
    admin.connect();
    admin.connection().execute(sql, {});
}
} // namespace

PgTestDatabase::PgTestDatabase()
{
    m_admin = requireEnv("GATEKEEP_TEST_PG");
    if (m_admin.isEmpty())
        return;
    m_name = QStringLiteral("gk_") + QUuid::createUuid().toString(QUuid::Id128).left(16);
    runAdmin(m_admin, QStringLiteral("create database %1").arg(m_name));
    QString info = m_admin;
    info.replace(QRegularExpression(QStringLiteral("dbname=\\S+")), QString());
    m_conninfo = info.trimmed() + QStringLiteral(" dbname=") + m_name;
}

PgTestDatabase::~PgTestDatabase()
{
    if (m_name.isEmpty())
        return;
    try {
        runAdmin(m_admin, QStringLiteral("drop database if exists %1 with (force)").arg(m_name));
    } catch (const std::exception&) {
    }
}

QString TempDir::write(const QString& name, const QByteArray& bytes) const
{
    const QString file = path(name);
    QFile f(file);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly)) << file.toStdString();
    EXPECT_EQ(f.write(bytes), bytes.size()) << file.toStdString();
    return file;
}
