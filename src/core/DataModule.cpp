#include "DataModule.h"

#include "db/Error.h"

namespace {
TDM* g_dm = nullptr;
} // namespace

TDM::TDM()
    : WQ(&db_Sys),
      SQLAdd_apl(&db_Sys, QStringLiteral("ADD_APPL")),
      SQLAdd_class(&db_Sys, QStringLiteral("ADD_CLASS")),
      SQL_DELAPPL(&db_Sys, QStringLiteral("DEL_APL")),
      SQLADD_usr(&db_Sys, QStringLiteral("ADD_USER")),
      SQLAdd_usr2(&db_Data, QStringLiteral("ADD_USER"))
{
    db_Sys.setAliasName(QStringLiteral("Sys_DB"));
    db_Sys.params().setValue(QStringLiteral("USER NAME"), QStringLiteral("syscreat"));
    db_Data.setAliasName(QStringLiteral("data_db"));
    db_Data.params().setValue(QStringLiteral("USER NAME"), QStringLiteral("syscreat"));
    db_Upd.setAliasName(QStringLiteral("data_db"));
    db_Upd.params().setValue(QStringLiteral("USER NAME"), QStringLiteral("syscreat"));
    WQ.setParamCheck(false);
    g_dm = this;
}

TDM::~TDM()
{
    if (g_dm == this)
        g_dm = nullptr;
}

bool TDM::ExecSysProc(db::StoredProc& proc)
{
    try {
        db::Transaction t(*proc.database());
        proc.execProc();
        t.commit();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void TDM::CloseDataDB()
{
    if (db_Data.connected())
        db_Data.disconnect();
    db_Data.params().clear();
}

TDM& DM()
{
    if (!g_dm)
        throw db::Error(QStringLiteral("Няма модул за данни"));
    return *g_dm;
}

bool HasDM() { return g_dm != nullptr; }
