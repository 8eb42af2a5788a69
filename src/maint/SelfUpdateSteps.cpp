#include "SelfUpdateSteps.h"

namespace {

const QString kChngPwEmpty = QStringLiteral(
    " create or alter procedure CHNG_PW (UNM varchar(72),OPW varchar(72),NPW varchar(72))  returns (    RES integer) as  BEGIN END");

// Step 14: the application is looked up by name; an existing one returns its own key.
const QString kAddApplByName = QStringLiteral(
    "alter procedure ADD_APPL (ANM varchar(72), G_ALIAS varchar(72), G_UNAME varchar(72),\n"
    "  G_PASW varchar(72), G_PROC varchar(72))\n"
    "returns (RES integer)\n"
    "as\n"
    "declare variable AID integer;\n"
    "begin\n"
    "  AID = null;\n"
    "  select first 1 APL_ID from APPLICATIONS where APL_NAME = :ANM into :AID;\n"
    "  if (AID is not null) then\n"
    "    RES = AID;\n"
    "  else\n"
    "  begin\n"
    "    insert into APPLICATIONS (APL_NAME, APL_STATE, GDB_ALIAS, GDB_UNAME, GDB_PASW, GDB_PROC)\n"
    "      values (:ANM, \"Active\", :G_ALIAS, :G_UNAME, :G_PASW, :G_PROC);\n"
    "    RES = gen_id(Apl_ID_GEN, 0);\n"
    "  end\n"
    "end");

// Steps 15 and 16: an existing application answers with its key plus 1000 and is left as it is.
const QString kAddAppl = QStringLiteral(
    "alter procedure ADD_APPL (ANM varchar(72), G_ALIAS varchar(72), G_UNAME varchar(72),\n"
    "  G_PASW varchar(72), G_PROC varchar(72))\n"
    "returns (RES integer)\n"
    "as\n"
    "declare variable AID integer;\n"
    "begin\n"
    "  AID = null;\n"
    "  select first 1 APL_ID from APPLICATIONS where APL_NAME = :ANM into :AID;\n"
    "  if (AID is null) then\n"
    "  begin\n"
    "    insert into APPLICATIONS (APL_NAME, APL_STATE, GDB_ALIAS, GDB_UNAME, GDB_PASW, GDB_PROC)\n"
    "      values (:ANM, \"Active\", :G_ALIAS, :G_UNAME, :G_PASW, :G_PROC);\n"
    "    RES = gen_id(Apl_ID_GEN, 0);\n"
    "  end\n"
    "  else\n"
    "    RES = AID + 1000;\n"
    "end");

// Step 24: a successful lookup is written to the login log.
const QString kGetLunpw = QStringLiteral(
    "create or alter procedure GET_LUNPW (FUNM varchar(72), FPW varchar(72), APPL_NM char(72),\n"
    "  CDESCR varchar(240))\n"
    "returns (LUN varchar(72), LPW varchar(72), FURNM varchar(72) character set none, USRID smallint)\n"
    "as\n"
    "declare variable AID integer;\n"
    "declare variable UID integer;\n"
    "declare variable CID integer;\n"
    "begin\n"
    "  LUN = \"\";\n"
    "  LPW = \"\";\n"
    "  FURNM = \"\";\n"
    "  AID = null;\n"
    "  select first 1 APL_ID from APPLICATIONS where APL_NAME = :APPL_NM into :AID;\n"
    "  if (AID is null) then exit;\n"
    "  UID = null;\n"
    "  select first 1 USER_ID, USER_RNM from USERS where USER_FNM = :FUNM and USER_FPW = :FPW\n"
    "    into :UID, :FURNM;\n"
    "  if (UID is null) then\n"
    "  begin\n"
    "    FURNM = \"\";\n"
    "    exit;\n"
    "  end\n"
    "  CID = null;\n"
    "  select first 1 LNK_CLASS from LINKS where LNK_USR = :UID and LNK_APLID = :AID into :CID;\n"
    "  if (CID is null) then exit;\n"
    "  insert into LOGS (LOGS_UID, LOGS_AID, LOGS_COMMENT) values (:UID, :AID, :CDESCR);\n"
    "  select CLASS_NM, CLASS_PW from CLASS where CLASS_IDX = :CID into :LUN, :LPW;\n"
    "  USRID = UID;\n"
    "end");

// Step 25: 2 wrong name or password, 5 the new password is the old one, 3 another user has
// that name and password, 0 changed (and no change is required any more).
const QString kChngPw = QStringLiteral(
    "create or alter procedure CHNG_PW (UNM varchar(72), OPW varchar(72), NPW varchar(72))\n"
    "returns (RES integer)\n"
    "as\n"
    "declare variable OLD_ID integer;\n"
    "declare variable NEW_ID integer;\n"
    "begin\n"
    "  OLD_ID = null;\n"
    "  select first 1 USER_ID from USERS where USER_FNM = :UNM and USER_FPW = :OPW into :OLD_ID;\n"
    "  if (OLD_ID is null) then\n"
    "  begin\n"
    "    RES = 2;\n"
    "    exit;\n"
    "  end\n"
    "  NEW_ID = null;\n"
    "  select first 1 USER_ID from USERS where USER_FNM = :UNM and USER_FPW = :NPW into :NEW_ID;\n"
    "  if (NEW_ID = OLD_ID) then\n"
    "    RES = 5;\n"
    "  else if (NEW_ID is not null) then\n"
    "    RES = 3;\n"
    "  else\n"
    "  begin\n"
    "    update USERS set USER_FPW = :NPW, USER_PWDMUSTCHANGE = 0 where USER_ID = :OLD_ID;\n"
    "    RES = 0;\n"
    "  end\n"
    "end");

} // namespace

const QList<SelfUpdateStep>& SelfUpdateSteps()
{
    using K = SelfUpdateStep;
    static const QList<SelfUpdateStep> steps = {
        {1, QStringLiteral("Change of  CHNG_PWD"), kChngPwEmpty, K::Sql},
        {2, QStringLiteral("Change of AddUser"), kChngPwEmpty, K::Sql},
        {3, QStringLiteral("Recreate  Links"), QString(), K::Operation},
        {4, QStringLiteral("Add table logs"),
         QStringLiteral("create table logs( logs_id       integer not null primary key, logs_date     timestamp,   "
                        "logs_ip       varchar(15), logs_uid      integer,     logs_un       varchar(72), "
                        "logs_pw       varchar(72), logs_flags    varchar(20), logs_comment  varchar(250));"),
         K::Sql},
        {5, QStringLiteral("Logs generator "), QStringLiteral("create generator logs_id_gen"), K::Sql},
        {6, QStringLiteral("Logs Trigger"),
         QStringLiteral("CREATE TRIGGER SET_LOGS_ID FOR LOGS BEFORE INSERT POSITION 0 AS BEGIN "
                        "NEW.Logs_ID=GEN_ID(Logs_ID_GEN,1); New.Logs_date =\"now\"; END "),
         K::Sql},
        {7, QStringLiteral("Logs grants "), QStringLiteral(" grant select,insert on table logs to SYSACCESS,AdminAccount"), K::Sql},
        {8, QStringLiteral("alter users "),
         QStringLiteral("alter table users add user_flags varchar(20) default \"00000000000000000000\", add user_expdate timestamp "),
         K::Sql},
        {9, QStringLiteral("Update users "), QStringLiteral("Update users set user_flags =\"00000000000000000000\""), K::Sql},
        {10, QStringLiteral("Alter Logs"), QStringLiteral("alter table logs add LOGS_REFRESH date"), K::Sql},
        {11, QStringLiteral("Alter Applications "), QString(), K::Sql},
        {12, QStringLiteral("Alter  Applications "), QString(), K::Sql},
        {13, QStringLiteral("Set Appl Dates"), QString(), K::Operation},
        {14, QStringLiteral("Alter  Add_Appl "), kAddApplByName, K::Sql},
        {15, QStringLiteral("Alter add applications"), kAddAppl, K::Sql},
        {16, QStringLiteral("Alter add applications"), kAddAppl, K::Sql},
        {17, QStringLiteral("Change of  CHNG_PWD"), kChngPwEmpty, K::Sql},
        {18, QStringLiteral("Add usercert field"), QStringLiteral("alter table users add User_Cert blob"), K::Sql},
        {19, QStringLiteral("Grant of alises"), QStringLiteral("grant all on alises to syscreat,admnaccount,sysaccess"), K::Sql},
        {20, QStringLiteral("Add few fields for domain logon"),
         QStringLiteral("ALTER TABLE USERS ADD USER_DOMAINNAME VARCHAR(240), ADD USER_DOMAINUSER VARCHAR(240), "
                        "ADD USER_DOMAINSID VARCHAR(240)"),
         K::Sql},
        {21, QStringLiteral("Add fields for user paswd"),
         QStringLiteral("ALTER TABLE USERS ADD USER_DTpwdchange  date, ADD USER_pwdmustchange integer default 0 "), K::Sql},
        {22, QStringLiteral("set new fields for users"),
         QStringLiteral("update  USERS set USER_DTpwdchange=\"now\",USER_pwdmustchange=0  "), K::Sql},
        {23, QStringLiteral("alter logs table  "), QStringLiteral("alter table logs add logs_AID integer"), K::Sql},
        {24, QStringLiteral("change getpwd proc "), kGetLunpw, K::Sql},
        {25, QStringLiteral("Change of  CHNG_PWD"), kChngPw, K::Sql},
        {26, QStringLiteral("Change of  CHNG_PWD"),
         QStringLiteral("create or alter trigger users_bu0 for users before update  AS  begin    new.user_dtpwdchange =\"now\" ;  end "),
         K::Sql},
        {27, QStringLiteral("alter alises to store minpasslen & passage"),
         QStringLiteral("alter table alises add als_minpasslen integer,add als_passage integer"), K::Sql},
    };
    return steps;
}
