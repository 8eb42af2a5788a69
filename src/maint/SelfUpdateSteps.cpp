#include "SelfUpdateSteps.h"

#include "core/StoredText.h"

#include "db/Database.h"
#include "db/Query.h"

#include <QCoreApplication>

namespace {

const QString kChngPwEmpty = QStringLiteral(
    " create or alter procedure CHNG_PW (UNM varchar(72),OPW varchar(72),NPW varchar(72))  returns (    RES integer) as  BEGIN END");

// Step 14: the application is looked up by name; an existing one returns its own key. A new
// key comes from the insert itself: the generator's current value may be another writer's.
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
    "      values (:ANM, \"Active\", :G_ALIAS, :G_UNAME, :G_PASW, :G_PROC)\n"
    "      returning APL_ID into :RES;\n"
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
    "      values (:ANM, \"Active\", :G_ALIAS, :G_UNAME, :G_PASW, :G_PROC)\n"
    "      returning APL_ID into :RES;\n"
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

void exec(db::Database& database, const QString& sql)
{
    db::Query q(&database);
    q.setParamCheck(false);
    q.setSql(sql);
    q.execSql();
}

int integerOf(db::Database& database, const QString& sql)
{
    db::Query q(&database);
    q.setParamCheck(false);
    q.setSql(sql);
    q.open();
    return q.eof() ? 0 : q.field(0).asInteger();
}

// "(" + keys each followed by "," + "0)"; "(0)" for none.
QString keyList(const QList<int>& keys)
{
    QString s = QStringLiteral("(");
    for (int k : keys)
        s += QString::number(k) + QLatin1Char(',');
    return s + QStringLiteral("0)");
}

// Step 3. The copy, the delete and the re-insert share the step's transaction, so the rights
// are all there after a failure or a kill at any point; the key's index is built at commit.
void RecreateLinks(db::Database& database)
{
    struct Link {
        int usr, apl, cls;
    };
    QList<Link> rows;
    {
        db::Query q(&database);
        q.setSql(QStringLiteral("Select distinct LNK_USR,LNK_APLID,LNK_CLASS from Links"));
        for (q.open(); !q.eof(); q.next())
            rows.append({q.field(0).asInteger(), q.field(1).asInteger(), q.field(2).asInteger()});
    }
    exec(database, QStringLiteral("Delete from Links"));
    exec(database, QStringLiteral("alter table links add  primary key(lnk_usr,lnk_aplid,lnk_class)"));
    for (const Link& l : rows)
        exec(database, QStringLiteral("Insert into Links(LNK_USR,LNK_APLID,LNK_CLASS) Values(%1,%2,%3)").arg(l.usr).arg(l.apl).arg(l.cls));
}

// Step 13: classes of MOD03 whose fifth character is above '2' move with their rights into a
// new application Mod05. Any failed statement fails the whole step, so a class loses its old
// row and rights only together with its copy taking them over.
void MoveMod03Classes(db::Database& database)
{
    struct App {
        int id;
        QString name;
        QVariant alias, uname, pasw, proc;
    };
    QList<App> apps;
    {
        db::Query q(&database);
        q.setSql(QStringLiteral("select APL_ID, APL_NAME, GDB_ALIAS, GDB_UNAME, GDB_PASW, GDB_PROC from Applications order by APL_ID"));
        for (q.open(); !q.eof(); q.next())
            apps.append({q.field(0).asInteger(), q.field(1).asString(), q.field(2).value(), q.field(3).value(), q.field(4).value(),
                         q.field(5).value()});
    }

    for (const App& app : apps) {
        if (DecodeStoredText(app.name).toUpper() != QLatin1String("MOD03"))
            continue;
        const QString key = QString::number(app.id);

        QList<int> moving;
        {
            db::Query q(&database);
            q.setParamCheck(false);
            q.setSql(QStringLiteral("select * from class where class_aplidx= ") + key);
            for (q.open(); !q.eof(); q.next()) {
                const QString name = DecodeStoredText(q.fieldByName(QStringLiteral("CLASS_NM")).asString());
                if (name.size() >= 5 && name[4].unicode() > u'2')
                    moving << q.fieldByName(QStringLiteral("CLASS_IDX")).asInteger();
            }
        }
        const QString list = keyList(moving);
        {
            db::Query q(&database);
            q.setParamCheck(false);
            q.setSql(QStringLiteral("Select lnk_usr from links where (lnk_aplid=") + key + QStringLiteral(")AND lnk_class in ") + list);
            q.open();
            if (q.eof())
                continue;
        }

        // The database settings are copied as they are, nulls included.
        const int newApp = integerOf(database, QStringLiteral("Select max(apl_id) from applications")) + 1;
        {
            db::Query ins(&database);
            ins.setSql(QStringLiteral("insert into applications (apl_id, apl_name, apl_state, GDB_ALIAS, GDB_UNAME, GDB_PASW, GDB_PROC) "
                                      "values (:id, :name, \"Active\", :alias, :uname, :pasw, :proc)"));
            ins.setParam(QStringLiteral("id"), newApp);
            ins.setParam(QStringLiteral("name"), EncodeStoredText(QStringLiteral("Mod05")));
            ins.setParam(QStringLiteral("alias"), app.alias);
            ins.setParam(QStringLiteral("uname"), app.uname);
            ins.setParam(QStringLiteral("pasw"), app.pasw);
            ins.setParam(QStringLiteral("proc"), app.proc);
            ins.execSql();
        }

        int nextClass = integerOf(database, QStringLiteral("Select max(CLASS_IDX) from Class")) + 1;
        struct Cls {
            QString name, pw;
            int idx;
        };
        QList<Cls> classes;
        {
            db::Query q(&database);
            q.setParamCheck(false);
            q.setSql(QStringLiteral("Select CLASS_NM,CLASS_PW,CLASS_IDX from Class where CLASS_IDX in") + list);
            for (q.open(); !q.eof(); q.next())
                classes.append({q.field(0).asString(), q.field(1).asString(), q.field(2).asInteger()});
        }
        for (const Cls& c : classes) {
            db::Query ins(&database);
            ins.setSql(QStringLiteral("Insert into Class(CLASS_IDX, CLASS_APLIDX,CLASS_NM,CLASS_PW) Values(:idx,:apl,:nm,:pw)"));
            ins.setParam(QStringLiteral("idx"), nextClass);
            ins.setParam(QStringLiteral("apl"), newApp);
            ins.setParam(QStringLiteral("nm"), c.name);
            ins.setParam(QStringLiteral("pw"), c.pw);
            ins.execSql();
            exec(database, QStringLiteral("update links set lnk_aplid=%1,lnk_class=%2 where lnk_aplid=%3 and lnk_class=%4")
                               .arg(newApp)
                               .arg(nextClass)
                               .arg(app.id)
                               .arg(c.idx));
            ++nextClass;
        }
        exec(database, QStringLiteral("Delete from links where (lnk_aplid=") + key + QStringLiteral(")AND lnk_class in ") + list);
        exec(database, QStringLiteral("Delete from class where class_idx in ") + list);
    }
}

CatalogueObject table(const char* name) { return {CatalogueObject::Table, QString::fromLatin1(name), {}}; }
CatalogueObject column(const char* table, const char* name)
{
    return {CatalogueObject::Column, QString::fromLatin1(table), QString::fromLatin1(name)};
}

} // namespace

bool CatalogueHas(db::Database& database, const CatalogueObject& object)
{
    QString sql;
    switch (object.kind) {
    case CatalogueObject::Table:
        sql = QStringLiteral("select 1 from rdb$relations where rdb$relation_name = :name");
        break;
    case CatalogueObject::Column:
        sql = QStringLiteral("select 1 from rdb$relation_fields where rdb$relation_name = :name and rdb$field_name = :col");
        break;
    case CatalogueObject::Generator:
        sql = QStringLiteral("select 1 from rdb$generators where rdb$generator_name = :name");
        break;
    case CatalogueObject::Trigger:
        sql = QStringLiteral("select 1 from rdb$triggers where rdb$trigger_name = :name");
        break;
    case CatalogueObject::PrimaryKey:
        sql = QStringLiteral("select 1 from rdb$relation_constraints where rdb$relation_name = :name "
                             "and rdb$constraint_type = 'PRIMARY KEY'");
        break;
    }
    db::Query q(&database);
    q.setSql(sql);
    q.setParam(QStringLiteral("name"), object.name.toUpper());
    if (object.kind == CatalogueObject::Column)
        q.setParam(QStringLiteral("col"), object.column.toUpper());
    q.open();
    return !q.eof();
}

void ReleaseAbandonedTablePages(db::Database& database)
{
    // Spares of a run that was stopped before it dropped them go first; one that another program
    // is using stays.
    const QString spare = QStringLiteral("GK_SPARE_");
    const auto spares = [&] {
        QStringList names;
        db::Query q(&database);
        q.setSql(QStringLiteral("select rdb$relation_name from rdb$relations where rdb$relation_name starting with :p"));
        q.setParam(QStringLiteral("p"), spare);
        for (q.open(); !q.eof(); q.next())
            names << q.field(0).asString().trimmed();
        return names;
    };
    for (const QString& name : spares()) {
        try {
            exec(database, QStringLiteral("drop table ") + name);
        } catch (const std::exception&) {
        }
    }

    // The next table takes the number after the last one given; numbers at or above it with
    // pages but no table are what a killed creation left.
    const QString abandoned = QStringLiteral(
        "select max(p.rdb$relation_id) from rdb$pages p where p.rdb$relation_id >= (select rdb$relation_id from rdb$database) "
        "and not exists (select 1 from rdb$relations r where r.rdb$relation_id = p.rdb$relation_id)");
    const int last = integerOf(database, abandoned);
    if (last == 0)
        return;
    QStringList made;
    const QString prefix = spare + QString::number(QCoreApplication::applicationPid()) + QLatin1Char('_');
    // Each spare takes one number; a few more than there are abandoned numbers is a bound.
    for (int i = 0; i < 16 && integerOf(database, abandoned) != 0; ++i) {
        made << prefix + QString::number(i);
        exec(database, QStringLiteral("create table %1 (X integer)").arg(made.last()));
    }
    for (const QString& name : made)
        exec(database, QStringLiteral("drop table ") + name);
}

const QList<SelfUpdateStep>& SelfUpdateSteps()
{
    using K = SelfUpdateStep;
    using C = CatalogueObject;
    static const QList<SelfUpdateStep> steps = {
        {1, QStringLiteral("Change of  CHNG_PWD"), kChngPwEmpty, K::Sql},
        {2, QStringLiteral("Change of AddUser"), kChngPwEmpty, K::Sql},
        {3, QStringLiteral("Recreate  Links"), QString(), K::Operation, {{C::PrimaryKey, QStringLiteral("LINKS"), {}}},
         {QStringLiteral("LINKS")}, RecreateLinks},
        {4, QStringLiteral("Add table logs"),
         QStringLiteral("create table logs( logs_id       integer not null primary key, logs_date     timestamp,   "
                        "logs_ip       varchar(15), logs_uid      integer,     logs_un       varchar(72), "
                        "logs_pw       varchar(72), logs_flags    varchar(20), logs_comment  varchar(250));"),
         K::Sql, {table("LOGS")}},
        {5, QStringLiteral("Logs generator "), QStringLiteral("create generator logs_id_gen"), K::Sql,
         {{C::Generator, QStringLiteral("LOGS_ID_GEN"), {}}}},
        {6, QStringLiteral("Logs Trigger"),
         QStringLiteral("CREATE TRIGGER SET_LOGS_ID FOR LOGS BEFORE INSERT POSITION 0 AS BEGIN "
                        "NEW.Logs_ID=GEN_ID(Logs_ID_GEN,1); New.Logs_date =\"now\"; END "),
         K::Sql, {{C::Trigger, QStringLiteral("SET_LOGS_ID"), {}}}},
        {7, QStringLiteral("Logs grants "), QStringLiteral(" grant select,insert on table logs to SYSACCESS,AdminAccount"), K::Sql},
        {8, QStringLiteral("alter users "),
         QStringLiteral("alter table users add user_flags varchar(20) default \"00000000000000000000\", add user_expdate timestamp "),
         K::Sql, {column("USERS", "USER_FLAGS"), column("USERS", "USER_EXPDATE")}},
        {9, QStringLiteral("Update users "), QStringLiteral("Update users set user_flags =\"00000000000000000000\""), K::Sql},
        {10, QStringLiteral("Alter Logs"), QStringLiteral("alter table logs add LOGS_REFRESH date"), K::Sql,
         {column("LOGS", "LOGS_REFRESH")}},
        {11, QStringLiteral("Alter Applications "), QString(), K::Sql},
        {12, QStringLiteral("Alter  Applications "), QString(), K::Sql},
        {13, QStringLiteral("Set Appl Dates"), QString(), K::Operation, {},
         {QStringLiteral("APPLICATIONS"), QStringLiteral("CLASS"), QStringLiteral("LINKS")}, MoveMod03Classes},
        {14, QStringLiteral("Alter  Add_Appl "), kAddApplByName, K::Sql},
        {15, QStringLiteral("Alter add applications"), kAddAppl, K::Sql},
        {16, QStringLiteral("Alter add applications"), kAddAppl, K::Sql},
        {17, QStringLiteral("Change of  CHNG_PWD"), kChngPwEmpty, K::Sql},
        {18, QStringLiteral("Add usercert field"), QStringLiteral("alter table users add User_Cert blob"), K::Sql,
         {column("USERS", "USER_CERT")}},
        {19, QStringLiteral("Grant of alises"), QStringLiteral("grant all on alises to syscreat,admnaccount,sysaccess"), K::Sql},
        {20, QStringLiteral("Add few fields for domain logon"),
         QStringLiteral("ALTER TABLE USERS ADD USER_DOMAINNAME VARCHAR(240), ADD USER_DOMAINUSER VARCHAR(240), "
                        "ADD USER_DOMAINSID VARCHAR(240)"),
         K::Sql, {column("USERS", "USER_DOMAINNAME"), column("USERS", "USER_DOMAINUSER"), column("USERS", "USER_DOMAINSID")}},
        {21, QStringLiteral("Add fields for user paswd"),
         QStringLiteral("ALTER TABLE USERS ADD USER_DTpwdchange  date, ADD USER_pwdmustchange integer default 0 "), K::Sql,
         {column("USERS", "USER_DTPWDCHANGE"), column("USERS", "USER_PWDMUSTCHANGE")}},
        {22, QStringLiteral("set new fields for users"),
         QStringLiteral("update  USERS set USER_DTpwdchange=\"now\",USER_pwdmustchange=0  "), K::Sql},
        {23, QStringLiteral("alter logs table  "), QStringLiteral("alter table logs add logs_AID integer"), K::Sql,
         {column("LOGS", "LOGS_AID")}},
        {24, QStringLiteral("change getpwd proc "), kGetLunpw, K::Sql},
        {25, QStringLiteral("Change of  CHNG_PWD"), kChngPw, K::Sql},
        {26, QStringLiteral("Change of  CHNG_PWD"),
         QStringLiteral("create or alter trigger users_bu0 for users before update  AS  begin    new.user_dtpwdchange =\"now\" ;  end "),
         K::Sql},
        {27, QStringLiteral("alter alises to store minpasslen & passage"),
         QStringLiteral("alter table alises add als_minpasslen integer,add als_passage integer"), K::Sql,
         {column("ALISES", "ALS_MINPASSLEN"), column("ALISES", "ALS_PASSAGE")}},
    };
    return steps;
}
