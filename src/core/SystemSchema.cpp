#include "SystemSchema.h"

#include "db/Database.h"
#include "db/Query.h"

#include <QFile>
#include <QFileInfo>

namespace {

// Present from the first statement of a creation until it is complete: a database that has it
// was left by a creation that did not finish.
const QString kUnfinished = QStringLiteral("GK_UNFINISHED");

db::ParamList ownerParams(const QString& serverName, const QString& owner, const QString& password)
{
    return db::ParamList{{QStringLiteral("SERVER NAME"), serverName}, {QStringLiteral("USER NAME"), owner}, {QStringLiteral("PASSWORD"), password}};
}

bool hasTable(db::Database& d, const QString& name)
{
    db::Query q(&d);
    q.setSql(QStringLiteral("select 1 from rdb$relations where rdb$relation_name = :name"));
    q.setParam(QStringLiteral("name"), name);
    q.open();
    return !q.eof();
}

// Keys come from the generators; a key taken by hand (maximum plus one) is stepped over so
// that the generator never hands out a key that exists.
const char* const kVersion0[] = {
    "create table USERS (USER_ID integer not null primary key, USER_FNM varchar(72), "
    "USER_FPW varchar(72), USER_RNM varchar(72))",
    "create generator USERS_ID_GEN",
    "create trigger USERS_BI0 for USERS before insert position 0 as begin "
    "if (new.USER_ID is null) then begin "
    "new.USER_ID = gen_id(USERS_ID_GEN, 1); "
    "while (exists(select 1 from USERS where USER_ID = new.USER_ID)) do new.USER_ID = gen_id(USERS_ID_GEN, 1); "
    "end end",

    "create table APPLICATIONS (APL_ID smallint not null primary key, APL_NAME varchar(72) not null unique, "
    "APL_STATE varchar(20), GDB_ALIAS varchar(72), GDB_UNAME varchar(72), GDB_PASW varchar(72), GDB_PROC varchar(72))",
    "create generator Apl_ID_GEN",
    "create trigger APPLICATIONS_BI0 for APPLICATIONS before insert position 0 as begin "
    "if (new.APL_ID is null) then begin "
    "new.APL_ID = gen_id(Apl_ID_GEN, 1); "
    "while (exists(select 1 from APPLICATIONS where APL_ID = new.APL_ID)) do new.APL_ID = gen_id(Apl_ID_GEN, 1); "
    "end end",

    "create table CLASS (CLASS_IDX integer not null primary key, CLASS_APLIDX integer, "
    "CLASS_NM varchar(72), CLASS_PW varchar(72))",
    "create table LINKS (LNK_USR integer not null, LNK_APLID integer not null, LNK_CLASS integer not null)",
    "create table ALISES (ALS_APLID integer, ALS_TXT varchar(100), ALS_APLNUM integer)",

    // Early form: always inserts. New keys here and in ADD_USER come from the insert itself:
    // the generator's current value may already be another writer's.
    "create procedure ADD_APPL (ANM varchar(72), G_ALIAS varchar(72), G_UNAME varchar(72), "
    "G_PASW varchar(72), G_PROC varchar(72)) returns (RES integer) as begin "
    "insert into APPLICATIONS (APL_NAME, APL_STATE, GDB_ALIAS, GDB_UNAME, GDB_PASW, GDB_PROC) "
    "values (:ANM, \"Active\", :G_ALIAS, :G_UNAME, :G_PASW, :G_PROC) returning APL_ID into :RES; end",

    // RES: 0 added, 1 no such application, 2 the application has a class of that name.
    "create procedure ADD_CLASS (ANM varchar(72), CLNM varchar(72), CLPW varchar(72)) returns (RES integer) as "
    "declare variable AID integer; declare variable CID integer; begin "
    "AID = null; select first 1 APL_ID from APPLICATIONS where APL_NAME = :ANM into :AID; "
    "if (AID is null) then begin RES = 1; exit; end "
    "if (exists(select 1 from CLASS where CLASS_APLIDX = :AID and CLASS_NM = :CLNM)) then begin RES = 2; exit; end "
    "select coalesce(max(CLASS_IDX), 0) + 1 from CLASS into :CID; "
    "insert into CLASS (CLASS_IDX, CLASS_APLIDX, CLASS_NM, CLASS_PW) values (:CID, :AID, :CLNM, :CLPW); "
    "RES = 0; end",

    // Removes the application's classes and every right in it; the application row stays with
    // its database alias and account, which nothing could restore. RES: 0 done, 1 no such application.
    "create procedure DEL_APL (AIDX smallint) returns (RES integer) as begin "
    "if (not exists(select 1 from APPLICATIONS where APL_ID = :AIDX)) then begin RES = 1; exit; end "
    "delete from LINKS where LNK_APLID = :AIDX; "
    "delete from CLASS where CLASS_APLIDX = :AIDX; "
    "RES = 0; end",

    "create procedure ADD_USER (ANM varchar(72), CLNM varchar(72), UNM varchar(72), UPW varchar(72), "
    "URNM varchar(72)) returns (RES integer, USERID integer) as "
    "declare variable AID integer; declare variable CID integer; begin "
    "USERID = null; "
    "AID = null; select first 1 APL_ID from APPLICATIONS where APL_NAME = :ANM into :AID; "
    "if (AID is null) then begin RES = 1; exit; end "
    "CID = null; select first 1 CLASS_IDX from CLASS where CLASS_APLIDX = :AID and CLASS_NM = :CLNM into :CID; "
    "if (CID is null) then begin RES = 2; exit; end "
    "if (exists(select 1 from USERS where USER_FNM = :UNM and USER_FPW = :UPW)) then begin RES = 3; exit; end "
    "insert into USERS (USER_FNM, USER_FPW, USER_RNM) values (:UNM, :UPW, :URNM) returning USER_ID into :USERID; "
    "insert into LINKS (LNK_USR, LNK_APLID, LNK_CLASS) values (:USERID, :AID, :CID); "
    "RES = 0; end",

    // Early form: plain change without the checks.
    "create procedure CHNG_PW (UNM varchar(72), OPW varchar(72), NPW varchar(72)) returns (RES integer) as begin "
    "update USERS set USER_FPW = :NPW where USER_FNM = :UNM and USER_FPW = :OPW; "
    "RES = 0; end",

    // Early form: no login log yet.
    "create procedure GET_LUNPW (FUNM varchar(72), FPW varchar(72), APPL_NM char(72), CDESCR varchar(240)) "
    "returns (LUN varchar(72), LPW varchar(72), FURNM varchar(72) character set none, USRID smallint) as "
    "declare variable AID integer; declare variable UID integer; declare variable CID integer; begin "
    "LUN = \"\"; LPW = \"\"; FURNM = \"\"; "
    "AID = null; select first 1 APL_ID from APPLICATIONS where APL_NAME = :APPL_NM into :AID; "
    "if (AID is null) then exit; "
    "UID = null; select first 1 USER_ID, USER_RNM from USERS where USER_FNM = :FUNM and USER_FPW = :FPW into :UID, :FURNM; "
    "if (UID is null) then begin FURNM = \"\"; exit; end "
    "CID = null; select first 1 LNK_CLASS from LINKS where LNK_USR = :UID and LNK_APLID = :AID into :CID; "
    "if (CID is null) then exit; "
    "select CLASS_NM, CLASS_PW from CLASS where CLASS_IDX = :CID into :LUN, :LPW; "
    "USRID = UID; end",
};

} // namespace

void CreateSystemDatabase(const QString& serverName, const QString& owner, const QString& password, Complete complete)
{
    db::Database::createFirebirdDatabase(serverName, owner, password, false);
    try {
        db::Database d;
        d.setDriverName(QStringLiteral("INTRBASE"));
        d.params() = ownerParams(serverName, owner, password);
        d.connect();
        db::Query q(&d);
        q.setParamCheck(false);
        q.setSql(QStringLiteral("create table %1 (X integer)").arg(kUnfinished));
        q.execSql();
        for (const char* sql : kVersion0) {
            q.setSql(QString::fromUtf8(sql));
            q.execSql();
        }
        d.disconnect();
        if (complete == Complete::Now)
            CompleteSystemDatabase(serverName, owner, password);
    } catch (...) {
        DiscardSystemDatabase(serverName, owner, password);
        throw;
    }
}

void CompleteSystemDatabase(const QString& serverName, const QString& owner, const QString& password)
{
    db::Database::setFirebirdForcedWrites(serverName, owner, password, true);
    db::Database d;
    d.setDriverName(QStringLiteral("INTRBASE"));
    d.params() = ownerParams(serverName, owner, password);
    d.connect();
    if (hasTable(d, kUnfinished)) {
        db::Query q(&d);
        q.setParamCheck(false);
        q.setSql(QStringLiteral("drop table ") + kUnfinished);
        q.execSql();
    }
}

bool DiscardUnfinishedSystemDatabase(const QString& serverName, const QString& owner, const QString& password) noexcept
{
    try {
        {
            db::Database d;
            d.setDriverName(QStringLiteral("INTRBASE"));
            d.params() = ownerParams(serverName, owner, password);
            d.connect();
            if (!hasTable(d, kUnfinished))
                return false;
        }
        db::Database::dropFirebirdDatabase(serverName, owner, password);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void DiscardSystemDatabase(const QString& serverName, const QString& owner, const QString& password) noexcept
{
    try {
        db::Database::dropFirebirdDatabase(serverName, owner, password);
        return;
    } catch (const std::exception&) {
    }
    // A local file the engine could not open any more (damaged before its first page was
    // written) goes as a file. A host:path name is no file here and stays untouched.
    if (QFileInfo(serverName).isAbsolute())
        QFile::remove(serverName);
}
