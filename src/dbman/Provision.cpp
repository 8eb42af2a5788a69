#include "Provision.h"

#include "IBDBXMan.h"
#include "PGDBXMan.h"

#include "core/BuiltIn.h"
#include "db/Error.h"
#include "db/ParamList.h"

#include <atomic>

namespace {

constexpr int kFirebirdPort = 3050;
constexpr int kPostgresPort = 5432;

bool namesFirebirdFile(const QString& text)
{
    const QString upper = text.toUpper();
    return upper.contains(QLatin1String(".GDB")) || upper.contains(QLatin1String(".FDB"));
}

struct PgLogin {
    QString user;
    QString password;
};

std::atomic<int> g_pgLoginDecodes{0};

// Written once, on first use, for the life of the process.
const PgLogin& pgLogin()
{
    static const PgLogin login = [] {
        ++g_pgLoginDecodes;
        const QString scrambled = BuiltInPgLoginScrambled();
        return PgLogin{tdbmCreator::Unscramble(scrambled), tdbmCreator::Unscramble(scrambled)};
    }();
    return login;
}

void setParam(TParams& params, const QString& name, const QVariant& value)
{
    params.ParamByName(name).SetValue(value);
}

std::unique_ptr<TParams> procedureParams(TDBBaseMan& man, const QString& procName)
{
    std::unique_ptr<TParams> params = man.GetParamList(procName);
    if (!params)
        throw db::Error(QStringLiteral("В базата данни %1 няма процедура %2 с параметри").arg(man.ConnDescr, procName));
    return params;
}

void provisionFirebird(const QString& host, int port, const QString& database, qint32 userId, const QString& fullName)
{
    QString user, password;
    {
        db::ParamList credentials;
        AddBuiltInCredentials(credentials);
        user = credentials.value(QStringLiteral("USER NAME"));
        password = credentials.value(QStringLiteral("password"));
    }
    const std::unique_ptr<TDBBaseMan> man = tdbmCreator::CreateMan(tdbmCreator::InterBase, host, port, database, user, password);
    const std::unique_ptr<TParams> params = procedureParams(*man, QStringLiteral("ADD_USER"));
    setParam(*params, QStringLiteral("U_Id"), userId);
    setParam(*params, QStringLiteral("U_RNm"), fullName);
    // The dialect absorbs a failed call; here it must reach the administrator.
    if (!man->ExecSProc(QStringLiteral("add_user"), params.get()))
        throw db::Error(man->LastError.isEmpty() ? QStringLiteral("Процедурата add_user не беше изпълнена") : man->LastError);
}

void provisionPostgres(const QString& host, int port, const QString& database, qint32 userId, const QString& fullName)
{
    const PgLogin& login = pgLogin();
    std::unique_ptr<TDBBaseMan> man;
    try {
        man = tdbmCreator::CreateMan(tdbmCreator::PostgreSQL, host, port, database, login.user, login.password);
        man->OpenDB();
    } catch (const std::exception&) {
        man.reset();
        man = tdbmCreator::CreateMan(tdbmCreator::PostgreSQL, host, port, database, QStringLiteral("syscreat"),
                                     BuiltInPassword());
    }
    const std::unique_ptr<TParams> params = procedureParams(*man, QStringLiteral("hub_user_update"));
    setParam(*params, QStringLiteral("Id"), userId);
    setParam(*params, QStringLiteral("first_name"), fullName);
    man->ExecSProc(QStringLiteral("hub_user_update"), params.get());
}

} // namespace

void tdbmCreator::ParseConnStr(const QString& text, QString& host, int& port, QString& database)
{
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    if (colon < 0) {
        database = text;
        if (namesFirebirdFile(text)) {
            host.clear();
            port = 0;
        } else {
            host = QStringLiteral("127.0.0.1");
            port = kPostgresPort;
        }
        return;
    }
    host = text.left(colon);
    database = text.mid(colon + 1, 999);
    if (const qsizetype slash = host.indexOf(QLatin1Char('/')); slash >= 0) {
        bool ok = false;
        const int p = host.mid(slash + 1, 9).toInt(&ok, 10);
        port = ok ? p : kPostgresPort;
        host.truncate(slash);
    } else {
        port = namesFirebirdFile(database) ? kFirebirdPort : kPostgresPort;
    }
}

std::unique_ptr<TDBBaseMan> tdbmCreator::CreateMan(int kind, const QString& host, int port, const QString& database,
                                                   const QString& userName, const QString& password)
{
    switch (kind) {
    case InterBase: {
        // No host: a local file, which the db layer opens in-process.
        QString path = host;
        if (!host.isEmpty()) {
            if (port > 0)
                path += QLatin1Char('/') + QString::number(port);
            if (!database.isEmpty())
                path += QLatin1Char(':') + database;
        } else {
            path = database;
        }
        return std::make_unique<TIBDBXMan>(path, userName, password);
    }
    case PostgreSQL:
        return std::make_unique<TPGDBXMan>(host, database, QString::number(port > 0 ? port : kPostgresPort), userName,
                                           password);
    default:
        throw db::Error(QStringLiteral("Unsupported DB"));
    }
}

QString tdbmCreator::Unscramble(const QString& text)
{
    return text.isEmpty() ? QString() : DecodeBuiltInText(BuiltInKey(), text);
}

void ProvisionUser(const QString& connText, qint32 userId, const QString& fullName)
{
    QString host, database;
    int port = 0;
    tdbmCreator::ParseConnStr(connText, host, port, database);
    if (namesFirebirdFile(connText))
        provisionFirebird(host, port, database, userId, fullName);
    else
        provisionPostgres(host, port, database, userId, fullName);
}

int PgLoginDecodeCount() { return g_pgLoginDecodes.load(); }
