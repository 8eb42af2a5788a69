#pragma once

#include "db/Database.h"
#include "db/Query.h"
#include "db/StoredProc.h"

// The shared database objects of the program: the one connection to the system database,
// its work query, the stored procedures, and the two connections to application databases.
class TDM {
public:
    TDM();
    ~TDM();
    TDM(const TDM&) = delete;
    TDM& operator=(const TDM&) = delete;

    db::Database db_Sys{QStringLiteral("SYSDBase")};
    db::Database db_Data{QStringLiteral("Upd_DB")};
    db::Database db_Upd{QStringLiteral("updated_DB")};

    db::Query WQ;                 // the shared work query; parameter parsing off
    db::StoredProc SQLAdd_apl;    // ADD_APPL
    db::StoredProc SQLAdd_class;  // ADD_CLASS
    db::StoredProc SQL_DELAPPL;   // DEL_APL
    db::StoredProc SQLADD_usr;    // ADD_USER
    db::StoredProc SQLAdd_usr2;   // ADD_USER of an application database, on db_Data

    // Runs a procedure of the system database in a transaction of its own: committed on
    // success; on any failure rolled back without a message. Returns whether it succeeded.
    bool ExecSysProc(db::StoredProc& proc);

    // Lets go of the application database that a window connected db_Data to, with its
    // credentials: an attachment left behind keeps the file locked for gbak and for other
    // programs until this one ends.
    void CloseDataDB();
};

// The data module of the running program (set while one exists).
TDM& DM();
bool HasDM();
