#include "Provision.h"

#include "IBDBXMan.h"
#include "PGDBXMan.h"

#include "core/BuiltIn.h"
#include "db/Error.h"
#include "db/ParamList.h"

#include <atomic>
#include <limits>

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

const QString kFbProcedure = QStringLiteral("ADD_USER");
const QString kPgProcedure = QStringLiteral("hub_user_update");

// The parameters a route sets: the user's id and full name.
const QString& idParam(bool postgres)
{
    static const QString fb = QStringLiteral("U_Id"), pg = QStringLiteral("Id");
    return postgres ? pg : fb;
}
const QString& nameParam(bool postgres)
{
    static const QString fb = QStringLiteral("U_RNm"), pg = QStringLiteral("first_name");
    return postgres ? pg : fb;
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

TProvisionRoute::TProvisionRoute(const QString& connText, const ProvisionLogin& login)
    : m_connText(connText), m_login(login), m_postgres(!namesFirebirdFile(connText))
{
    tdbmCreator::ParseConnStr(connText, m_host, m_port, m_database);
}

TProvisionRoute::~TProvisionRoute() = default;

bool TProvisionRoute::isOpen() const { return m_man && m_params; }

void TProvisionRoute::Close()
{
    m_params.reset();
    m_man.reset();
}

void TProvisionRoute::Open()
{
    if (isOpen())
        return;
    Close();
    QString procedure;
    if (m_postgres) {
        const PgLogin& login = pgLogin();
        try {
            m_man = tdbmCreator::CreateMan(tdbmCreator::PostgreSQL, m_host, m_port, m_database, login.user, login.password);
            m_man->OpenDB();
        } catch (const std::exception&) {
            // The fallback login is opened by its first use below.
            m_man = tdbmCreator::CreateMan(tdbmCreator::PostgreSQL, m_host, m_port, m_database, QStringLiteral("syscreat"),
                                           BuiltInPassword());
        }
        procedure = kPgProcedure;
    } else {
        QString user = m_login.user, password = m_login.password;
        if (user.isEmpty()) {
            db::ParamList credentials;
            AddBuiltInCredentials(credentials);
            user = credentials.value(QStringLiteral("USER NAME"));
            password = credentials.value(QStringLiteral("password"));
        }
        m_man = tdbmCreator::CreateMan(tdbmCreator::InterBase, m_host, m_port, m_database, user, password);
        procedure = m_login.procedure.isEmpty() ? kFbProcedure : m_login.procedure;
    }
    try {
        m_params = procedureParams(*m_man, procedure);
        // Missing parameters are said now, not once per user.
        m_params->ParamByName(idParam(m_postgres));
        m_params->ParamByName(nameParam(m_postgres));
    } catch (...) {
        Close();
        throw;
    }
}

QString TProvisionRoute::IdDoesNotFit(qint64 userId)
{
    Open();
    const TParam& p = m_params->ParamByName(idParam(m_postgres));
    qint64 low = std::numeric_limits<qint32>::min(), high = std::numeric_limits<qint32>::max();
    QString type = QStringLiteral("INTEGER");
    if (p.DataType == TFieldType::ftSmallint) {
        low = std::numeric_limits<qint16>::min();
        high = std::numeric_limits<qint16>::max();
        type = QStringLiteral("SMALLINT");
    } else if (p.DataType == TFieldType::ftLargeint) {
        return {};
    }
    if (userId < low || userId > high)
        return QStringLiteral("номерът %1 не се побира в параметъра %2 (%3) на процедурата").arg(userId).arg(p.Name, type);
    return {};
}

void TProvisionRoute::Provision(qint32 userId, const QString& fullName)
{
    if (const QString refusal = IdDoesNotFit(userId); !refusal.isEmpty())
        throw db::Error(refusal);
    for (TParam& p : *m_params)
        p.Clear();
    setParam(*m_params, idParam(m_postgres), userId);
    setParam(*m_params, nameParam(m_postgres), fullName);
    const QString procedure = m_postgres ? kPgProcedure : m_login.procedure.isEmpty() ? QStringLiteral("add_user") : m_login.procedure;
    // The Firebird dialect absorbs a failed call; here it must reach the administrator.
    if (!m_man->ExecSProc(procedure, m_params.get()))
        throw db::Error(m_man->LastError.isEmpty() ? QStringLiteral("Процедурата %1 не беше изпълнена").arg(procedure) : m_man->LastError);
}

void ProvisionUser(const QString& connText, qint32 userId, const QString& fullName)
{
    TProvisionRoute route(connText);
    route.Provision(userId, fullName);
}

int PgLoginDecodeCount() { return g_pgLoginDecodes.load(); }
