#include "AppDatabases.h"

#include "Sql.h"

#include "core/BuiltIn.h"
#include "core/Config.h"

#include "db/Error.h"
#include "db/Query.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QThread>
#include <QUuid>

#include <gtest/gtest.h>

namespace {

const QString kListFile = QStringLiteral("gatekeep-scram.list");

QString quoted(const QString& text)
{
    QString t = text;
    return QLatin1Char('\'') + t.replace(QLatin1Char('\''), QStringLiteral("''")) + QLatin1Char('\'');
}

QList<RecordedCall> readCalls(db::Database& d, const QString& sql)
{
    QList<RecordedCall> out;
    db::Query q(&d);
    q.setParamCheck(false);
    q.setSql(sql);
    for (q.open(); !q.eof(); q.next())
        out.append({q.field(0).asInteger(), q.field(1).asString(), q.field(2).asString().trimmed()});
    return out;
}

// Firebird (dialect 1) ------------------------------------------------------------------------

const char* const kFbTable = "create table ADD_USER_CALLS (N integer, U_ID integer, U_RNM varchar(100), ACCOUNT varchar(63))";
const char* const kFbInsert =
    "insert into ADD_USER_CALLS (N, U_ID, U_RNM, ACCOUNT) values (gen_id(GEN_CALLS, 1), :U_Id, :U_RNm, current_user)";

QStringList fbProcedure(AppProcedure procedure)
{
    const QString insert = QString::fromLatin1(kFbInsert);
    switch (procedure) {
    case AppProcedure::Recording:
        return {QStringLiteral("create procedure ADD_USER (U_Id integer, U_RNm varchar(100)) as begin %1; end").arg(insert)};
    case AppProcedure::RecordingSmallId:
        return {QStringLiteral("create procedure ADD_USER (U_Id smallint, U_RNm varchar(100)) as begin %1; end").arg(insert)};
    case AppProcedure::WithOutput:
        return {QStringLiteral("create procedure ADD_USER (U_Id integer, U_RNm varchar(100)) returns (DONE integer) as "
                               "begin %1; DONE = 1; end")
                    .arg(insert)};
    case AppProcedure::Raising:
        return {QStringLiteral("create exception E_REFUSED 'Приложението отказа потребителя'"),
                QStringLiteral("create procedure ADD_USER (U_Id integer, U_RNm varchar(100)) as begin %1; exception E_REFUSED; end")
                    .arg(insert)};
    case AppProcedure::MissingParameter:
        return {QStringLiteral("create procedure ADD_USER (U_Id integer) as begin "
                               "insert into ADD_USER_CALLS (N, U_ID, ACCOUNT) values (gen_id(GEN_CALLS, 1), :U_Id, current_user); end")};
    case AppProcedure::Missing:
        break;
    }
    return {};
}

void ensureFirebirdUser(db::Database& sysdba)
{
    const QString count = QStringLiteral("select count(*) from sec$users where sec$user_name = %1")
                              .arg(quoted(ProvisionAccounts::maintenanceUser()));
    if (scalarOf(sysdba, count).toInt() > 0)
        return;
    try {
        execSql(sysdba, QStringLiteral("create user %1 password %2")
                            .arg(ProvisionAccounts::maintenanceUser(), quoted(ProvisionAccounts::maintenancePassword())));
    } catch (const db::Error&) {
        // Another test process may have created it just now.
        if (scalarOf(sysdba, count).toInt() == 0)
            throw;
    }
}

// PostgreSQL ----------------------------------------------------------------------------------

QString adminInfo() { return requireEnv("GATEKEEP_TEST_PG"); }

QString withDatabase(const QString& info, const QString& name)
{
    QString i = info;
    i.replace(QRegularExpression(QStringLiteral("dbname=\\S+")), QString());
    return i.trimmed() + QStringLiteral(" dbname=") + name;
}

std::unique_ptr<db::Database> pgConnect(const QString& info)
{
    auto d = std::make_unique<db::Database>();
    d->setDriverName(QStringLiteral("POSTGRESQL"));
    d->params().setValue(QStringLiteral("SERVER NAME"), info);
    d->connect();
    return d;
}

QStringList pgProcedure(AppProcedure procedure)
{
    const QString insert = QStringLiteral("insert into hub_calls (id, first_name, account) values (hub_user_update.id, %1, current_user);");
    const QString body = QStringLiteral(" language plpgsql as $$ begin %1 %2 end $$");
    switch (procedure) {
    case AppProcedure::RecordingSmallId:
        return {QStringLiteral("create function hub_user_update(id smallint, first_name varchar) returns void") +
                body.arg(insert.arg(QStringLiteral("hub_user_update.first_name")), QString())};
    case AppProcedure::Recording:
        return {QStringLiteral("create function hub_user_update(id integer, first_name varchar) returns void") +
                body.arg(insert.arg(QStringLiteral("hub_user_update.first_name")), QString())};
    case AppProcedure::WithOutput:
        return {QStringLiteral("create function hub_user_update(id integer, first_name varchar, out done integer)") +
                body.arg(insert.arg(QStringLiteral("hub_user_update.first_name")), QStringLiteral("done := 1;"))};
    case AppProcedure::Raising:
        return {QStringLiteral("create function hub_user_update(id integer, first_name varchar) returns void") +
                body.arg(insert.arg(QStringLiteral("hub_user_update.first_name")),
                         QStringLiteral("raise exception 'Приложението отказа потребителя';"))};
    case AppProcedure::MissingParameter:
        return {QStringLiteral("create function hub_user_update(id integer) returns void") + body.arg(insert.arg(QStringLiteral("null")), QString())};
    case AppProcedure::Missing:
        break;
    }
    return {};
}

QString listPath(db::Database& admin)
{
    return QFileInfo(scalarOf(admin, QStringLiteral("show hba_file")).toString()).absolutePath() + QLatin1Char('/') + kListFile;
}

QStringList readList(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw db::Error(QStringLiteral("%1 is missing: the test server was not started by scripts/test-servers").arg(path));
    return QString::fromUtf8(f.readAll()).split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
}

void writeList(const QString& path, const QStringList& names)
{
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        throw db::Error(QStringLiteral("%1 cannot be written").arg(path));
    f.write((names.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8());
    if (!f.commit())
        throw db::Error(QStringLiteral("%1 cannot be written").arg(path));
}

// The server reads pg_hba.conf again when told to, a moment later: a connection made after it
// sees a later load time.
void reloadAndWait(db::Database& admin)
{
    const QString before = scalarOf(admin, QStringLiteral("select pg_conf_load_time()::text")).toString();
    execSql(admin, QStringLiteral("select pg_reload_conf()"));
    for (int i = 0; i < 1000; ++i) {
        auto probe = pgConnect(adminInfo());
        if (scalarOf(*probe, QStringLiteral("select pg_conf_load_time() > %1::timestamptz").arg(quoted(before))).toBool())
            return;
        QThread::msleep(10);
    }
    throw db::Error(QStringLiteral("The test server did not load its configuration again"));
}

} // namespace

void withPgRoleLock(const std::function<void(db::Database& admin)>& f)
{
    auto admin = pgConnect(adminInfo());
    execSql(*admin, QStringLiteral("select pg_advisory_lock(720510)"));
    f(*admin); // closing the connection releases the lock, also after an error
}

// ProvisionAccounts ---------------------------------------------------------------------------

ProvisionAccounts::ProvisionAccounts()
{
    m_oldConfigDir = qgetenv("GATEKEEP_CONFIG_DIR");
    qputenv("GATEKEEP_CONFIG_DIR", m_config.path().toLocal8Bit());
    setMaintenancePassword(maintenancePassword());
}

ProvisionAccounts::~ProvisionAccounts()
{
    if (m_oldConfigDir.isEmpty())
        qunsetenv("GATEKEEP_CONFIG_DIR");
    else
        qputenv("GATEKEEP_CONFIG_DIR", m_oldConfigDir);
}

void ProvisionAccounts::setMaintenancePassword(const QString& password)
{
    const QString path = GatekeepIniPath();
    QFile::remove(path);
    IniFile ini(path);
    ini.setValue(QStringLiteral("Maintenance Account"), QStringLiteral("User"), EncodeBuiltInText(BuiltInKey(), maintenanceUser()));
    ini.setValue(QStringLiteral("Maintenance Account"), QStringLiteral("Password"), EncodeBuiltInText(BuiltInKey(), password));
    ini.save();
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    if (BuiltInPassword() != password)
        ADD_FAILURE() << "the maintenance account of " << path.toStdString() << " is not taken";
}

void ProvisionAccounts::setBuiltInPgPassword(const QString& password)
{
    withPgRoleLock([&](db::Database& admin) {
        execSql(admin, QStringLiteral("alter role %1 login password %2")
                           .arg(builtInPgRole(), password.isEmpty() ? QStringLiteral("null") : quoted(password)));
    });
}

// FbAppDatabase -------------------------------------------------------------------------------

FbAppDatabase::FbAppDatabase(AppProcedure procedure, bool onServer, const QString& localPath) : m_onServer(onServer)
{
    QString user = QStringLiteral("SYSDBA"), password;
    if (onServer) {
        m_serverName = serverDatabasePath(QStringLiteral("provision"));
        const db::ParamList p = firebirdParams(m_serverName);
        user = p.value(QStringLiteral("USER NAME"));
        password = p.value(QStringLiteral("PASSWORD"));
    } else {
        m_serverName = localPath;
    }
    db::Database::createFirebirdDatabase(m_serverName, user, password);
    m_admin = std::make_unique<db::Database>();
    m_admin->setDriverName(QStringLiteral("INTRBASE"));
    m_admin->params() = db::ParamList{{QStringLiteral("SERVER NAME"), m_serverName},
                                      {QStringLiteral("USER NAME"), user},
                                      {QStringLiteral("PASSWORD"), password}};
    m_admin->connect();
    if (onServer)
        ensureFirebirdUser(*m_admin);
    execSql(*m_admin, QString::fromLatin1(kFbTable));
    execSql(*m_admin, QStringLiteral("create generator GEN_CALLS"));
    execSql(*m_admin, QStringLiteral("grant all on ADD_USER_CALLS to public"));
    execSql(*m_admin, QStringLiteral("grant usage on generator GEN_CALLS to public"));
    const QStringList ddl = fbProcedure(procedure);
    for (const QString& statement : ddl)
        execSql(*m_admin, statement);
    if (!ddl.isEmpty())
        execSql(*m_admin, QStringLiteral("grant execute on procedure ADD_USER to public"));
    if (procedure == AppProcedure::Raising)
        execSql(*m_admin, QStringLiteral("grant usage on exception E_REFUSED to public"));
}

FbAppDatabase::~FbAppDatabase()
{
    m_admin.reset();
    try {
        if (m_onServer) {
            const db::ParamList p = firebirdParams(m_serverName);
            db::Database::dropFirebirdDatabase(m_serverName, p.value(QStringLiteral("USER NAME")), p.value(QStringLiteral("PASSWORD")));
        } else {
            QFile::remove(m_serverName);
        }
    } catch (const std::exception&) {
    }
}

QString FbAppDatabase::path() const
{
    return m_onServer ? m_serverName.mid(m_serverName.indexOf(QLatin1Char(':')) + 1) : m_serverName;
}

QList<RecordedCall> FbAppDatabase::calls()
{
    return readCalls(*m_admin, QStringLiteral("select U_ID, U_RNM, ACCOUNT from ADD_USER_CALLS order by N"));
}

int FbAppDatabase::maintenanceAttachments()
{
    return scalarOf(*m_admin, QStringLiteral("select count(*) from mon$attachments where mon$user = %1")
                                  .arg(quoted(ProvisionAccounts::maintenanceUser())))
        .toInt();
}

// PgAppDatabase -------------------------------------------------------------------------------

PgAppDatabase::PgAppDatabase(AppProcedure procedure)
{
    const QString info = adminInfo();
    m_port = QRegularExpression(QStringLiteral("port=(\\d+)")).match(info).captured(1);
    m_name = QStringLiteral("gk_prov_") + QUuid::createUuid().toString(QUuid::Id128).left(16);
    withPgRoleLock([&](db::Database& admin) {
        const auto roleExists = [&](const QString& role) {
            return scalarOf(admin, QStringLiteral("select count(*) from pg_roles where rolname = %1").arg(quoted(role))).toInt() > 0;
        };
        if (!roleExists(QStringLiteral("syscreat")))
            execSql(admin, QStringLiteral("create role syscreat login"));
        execSql(admin, QStringLiteral("alter role syscreat password %1").arg(quoted(ProvisionAccounts::maintenancePassword())));
        if (!roleExists(ProvisionAccounts::builtInPgRole()))
            execSql(admin, QStringLiteral("create role %1 login").arg(ProvisionAccounts::builtInPgRole()));
        execSql(admin, QStringLiteral("create database %1").arg(m_name));
    });
    {
        auto d = pgConnect(withDatabase(info, m_name));
        execSql(*d, QStringLiteral("create table hub_calls (n serial, id integer, first_name varchar(100), account text)"));
        execSql(*d, QStringLiteral("grant all on hub_calls, hub_calls_n_seq to public"));
        for (const QString& statement : pgProcedure(procedure))
            execSql(*d, statement);
    }
    withPgRoleLock([&](db::Database& admin) {
        const QString path = listPath(admin);
        QStringList names = readList(path);
        names.append(m_name);
        writeList(path, names);
        reloadAndWait(admin);
    });
}

PgAppDatabase::~PgAppDatabase()
{
    try {
        withPgRoleLock([&](db::Database& admin) {
            const QString path = listPath(admin);
            QStringList names = readList(path);
            names.removeAll(m_name);
            writeList(path, names);
            execSql(admin, QStringLiteral("drop database if exists %1 with (force)").arg(m_name));
        });
    } catch (const std::exception&) {
    }
}

QString PgAppDatabase::connText() const { return QStringLiteral("127.0.0.1/%1:%2").arg(m_port, m_name); }

QList<RecordedCall> PgAppDatabase::calls()
{
    auto d = pgConnect(withDatabase(adminInfo(), m_name));
    return readCalls(*d, QStringLiteral("select id, first_name, account from hub_calls order by n"));
}

bool PgAppDatabase::allLoginsReleased()
{
    auto admin = pgConnect(adminInfo());
    const QString sql = QStringLiteral("select count(*) from pg_stat_activity where datname = %1 and usename <> 'postgres'").arg(quoted(m_name));
    for (int i = 0; i < 1000; ++i) {
        if (scalarOf(*admin, sql).toInt() == 0)
            return true;
        QThread::msleep(10);
    }
    return false;
}
