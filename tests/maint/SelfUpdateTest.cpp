#include "support/SystemDbFixture.h"

#include "core/StoredText.h"
#include "maint/SelfUpdate.h"

namespace {
QString enc(const QString& s) { return EncodeStoredText(s); }
// A stored form as an SQL literal: stored forms may hold both kinds of quote.
QString lit(const QString& s) { return QLatin1Char('\'') + EncodeStoredText(s).replace(QLatin1Char('\''), QStringLiteral("''")) + QLatin1Char('\''); }

const QString kLinks = QStringLiteral("select LNK_USR || ':' || LNK_APLID || ':' || LNK_CLASS from LINKS order by 1");
const QString kLinksKey = QStringLiteral("select count(*) from rdb$relation_constraints where rdb$relation_name = 'LINKS' "
                                         "and rdb$constraint_type = 'PRIMARY KEY'");
} // namespace

inline void PrintTo(SelfUpdateResult r, std::ostream* os)
{
    static const char* const names[] = {"Done", "StepFailed", "Busy", "Failed"};
    *os << names[static_cast<int>(r)];
}

class SelfUpdateTest : public SystemDbFixture {
protected:
    int version() { return SystemSchemaVersion(m_dm.db_Sys); }
    bool update(bool consent)
    {
        m_prompts.answerConfirm(consent);
        return SelfUpdateCheck(m_dm, m_path);
    }
    QStringList fields(const QString& table)
    {
        return column(QStringLiteral("select rdb$field_name from rdb$relation_fields where rdb$relation_name = '%1' "
                                     "order by rdb$field_position").arg(table));
    }
    // The messages shown, each with its icon.
    QStringList messagesWithIcons()
    {
        static const char* const icons[] = {"information", "question", "warning", "error"};
        QStringList out;
        for (const auto& s : m_prompts.shown)
            if (s.kind == QLatin1String("message"))
                out << QLatin1String(icons[static_cast<int>(s.icon)]) + QLatin1String(": ") + s.text.left(s.text.indexOf(QLatin1Char('\r')));
        return out;
    }
    // A trigger on table that refuses the n-th row of the given event.
    void refuse(const QString& table, const char* event, int n)
    {
        exec(QStringLiteral("create exception REFUSED 'refused by the test'"));
        exec(QStringLiteral("create generator REFUSAL_COUNT"));
        exec(QStringLiteral("create trigger REFUSE for %1 before %2 as begin "
                            "if (gen_id(REFUSAL_COUNT, 1) = %3) then exception REFUSED; end")
                 .arg(table, QLatin1String(event))
                 .arg(n));
    }
    void stopRefusing() { exec(QStringLiteral("drop trigger REFUSE")); }

    // Applications, classes and rights as one list of text.
    QStringList rightsAndClasses()
    {
        return column(QStringLiteral("select APL_ID || ':' || APL_NAME || ':' || coalesce(GDB_ALIAS, '') from APPLICATIONS order by APL_ID")) +
               column(QStringLiteral("select CLASS_IDX || ':' || CLASS_APLIDX || ':' || CLASS_NM || ':' || CLASS_PW from CLASS order by CLASS_IDX")) +
               column(kLinks);
    }
    // Mod03 with classes of levels 2 to 4 and rights in them, and Mod07 beside it.
    void arrangeMod03()
    {
        exec(QStringLiteral("insert into APPLICATIONS (APL_ID, APL_NAME, APL_STATE, GDB_ALIAS, GDB_PROC) values (3, %1, 'Active', %2, %3)")
                 .arg(lit(QStringLiteral("mod03")), lit(QStringLiteral("mod03_db")), lit(QStringLiteral("ADD_USER"))));
        exec(QStringLiteral("insert into APPLICATIONS (APL_ID, APL_NAME, APL_STATE) values (7, %1, 'Active')").arg(lit(QStringLiteral("Mod07"))));
        struct Cls {
            int idx, app;
            const char* name;
            const char* pw;
        };
        const Cls classes[] = {{10, 3, "user2", "p2"}, {11, 3, "user3", "pa\"ss"}, {12, 3, "adm3", "p"}, {13, 3, "user4", "p4"}, {14, 7, "user3", "x"}};
        for (const Cls& c : classes)
            exec(QStringLiteral("insert into CLASS values (%1, %2, %3, %4)").arg(c.idx).arg(c.app).arg(lit(QString::fromUtf8(c.name)), lit(QString::fromUtf8(c.pw))));
        for (const char* link : {"(1,3,11)", "(2,3,10)", "(3,3,13)", "(4,3,12)", "(5,7,14)"})
            exec(QStringLiteral("insert into LINKS values ") + QLatin1String(link));
    }
};

TEST_F(SelfUpdateTest, FromNothingToTheCurrentSchema)
{
    EXPECT_EQ(version(), 0);
    EXPECT_TRUE(update(true));
    EXPECT_TRUE(m_prompts.messages().isEmpty()) << m_prompts.messages().join('\n').toStdString();
    EXPECT_TRUE(m_dm.db_Sys.connected());
    EXPECT_EQ(version(), 27);

    EXPECT_EQ(fields(QStringLiteral("USERS")),
              (QStringList{"USER_ID", "USER_FNM", "USER_FPW", "USER_RNM", "USER_FLAGS", "USER_EXPDATE", "USER_CERT", "USER_DOMAINNAME",
                           "USER_DOMAINUSER", "USER_DOMAINSID", "USER_DTPWDCHANGE", "USER_PWDMUSTCHANGE"}));
    EXPECT_EQ(fields(QStringLiteral("APPLICATIONS")),
              (QStringList{"APL_ID", "APL_NAME", "APL_STATE", "GDB_ALIAS", "GDB_UNAME", "GDB_PASW", "GDB_PROC"}));
    EXPECT_EQ(fields(QStringLiteral("CLASS")), (QStringList{"CLASS_IDX", "CLASS_APLIDX", "CLASS_NM", "CLASS_PW"}));
    EXPECT_EQ(fields(QStringLiteral("LINKS")), (QStringList{"LNK_USR", "LNK_APLID", "LNK_CLASS"}));
    EXPECT_EQ(fields(QStringLiteral("ALISES")), (QStringList{"ALS_APLID", "ALS_TXT", "ALS_APLNUM", "ALS_MINPASSLEN", "ALS_PASSAGE"}));
    EXPECT_EQ(fields(QStringLiteral("LOGS")), (QStringList{"LOGS_ID", "LOGS_DATE", "LOGS_IP", "LOGS_UID", "LOGS_UN", "LOGS_PW",
                                                           "LOGS_FLAGS", "LOGS_COMMENT", "LOGS_REFRESH", "LOGS_AID"}));
    EXPECT_EQ(fields(QStringLiteral("SELFUPDATES")), (QStringList{"SU_ID", "SU_DATE", "SU_DESCR", "SU_BLOB"}));
    EXPECT_EQ(column(QStringLiteral("select rdb$procedure_name from rdb$procedures order by 1")),
              (QStringList{"ADD_APPL", "ADD_CLASS", "ADD_USER", "CHNG_PW", "DEL_APL", "GET_LUNPW"}));
    const QStringList triggers = column(QStringLiteral("select rdb$trigger_name from rdb$triggers where coalesce(rdb$system_flag, 0) = 0"));
    for (const char* t : {"USERS_BU0", "SET_LOGS_ID", "SETSUDATE"})
        EXPECT_TRUE(triggers.contains(QLatin1String(t))) << t;
    const QStringList generators = column(QStringLiteral("select rdb$generator_name from rdb$generators where coalesce(rdb$system_flag, 0) = 0"));
    for (const char* g : {"USERS_ID_GEN", "APL_ID_GEN", "LOGS_ID_GEN"})
        EXPECT_TRUE(generators.contains(QLatin1String(g))) << g;
    EXPECT_EQ(scalar(kLinksKey).toInt(), 1);

    // Every step is recorded with its description, its statement (none for code and empty
    // steps) and the date the trigger set.
    db::Query q(&m_dm.db_Sys);
    q.setSql(QStringLiteral("select SU_ID, SU_Descr, SU_Blob, SU_Date from SelfUpdates order by SU_ID"));
    int n = 0;
    for (q.open(); !q.eof(); q.next(), ++n) {
        const SelfUpdateStep& step = SelfUpdateSteps()[n];
        EXPECT_EQ(q.field(0).asInteger(), step.number);
        EXPECT_EQ(q.field(1).asString(), step.description);
        EXPECT_EQ(q.field(2).asString(), step.sql);
        EXPECT_EQ(q.field(2).isNull(), QList<int>({3, 11, 12, 13}).contains(step.number)) << step.number;
        EXPECT_FALSE(q.field(3).isNull());
    }
    EXPECT_EQ(n, 27);

    // At the last step nothing is asked.
    const auto shown = m_prompts.shown.size();
    EXPECT_TRUE(SelfUpdateCheck(m_dm, m_path));
    EXPECT_EQ(m_prompts.shown.size(), shown);
}

TEST_F(SelfUpdateTest, DeclinedConfirmationChangesNothing)
{
    EXPECT_FALSE(update(false));
    ASSERT_EQ(m_prompts.shown.size(), 1);
    EXPECT_EQ(m_prompts.shown[0].text, SelfUpdateText::Consent);
    EXPECT_EQ(m_prompts.shown[0].icon, Prompts::Icon::Warning);
    EXPECT_EQ(m_prompts.shown[0].defaultAnswer, Prompts::Answer::Yes);
    EXPECT_EQ(version(), 0);
    EXPECT_FALSE(m_dm.db_Sys.tableNames().contains(QStringLiteral("LOGS")));
}

TEST_F(SelfUpdateTest, FailedStepIsReportedAndTheNextCheckResumesThere)
{
    exec(QStringLiteral("alter table USERS add USER_DOMAINSID varchar(240)"));
    EXPECT_TRUE(update(true));
    const QStringList messages = m_prompts.messages();
    ASSERT_EQ(messages.size(), 2);
    EXPECT_TRUE(messages[0].startsWith(SelfUpdateText::Error));
    EXPECT_TRUE(messages[0].contains(QStringLiteral("USER_DOMAINSID")));
    EXPECT_EQ(messages[1], SelfUpdateText::StepFailed);
    EXPECT_EQ(m_prompts.shown[1].icon, Prompts::Icon::Error);
    EXPECT_EQ(m_prompts.shown[2].icon, Prompts::Icon::Error);
    EXPECT_TRUE(m_dm.db_Sys.connected());
    EXPECT_EQ(version(), 19);
    // The failed step left nothing of its own behind.
    EXPECT_FALSE(fields(QStringLiteral("USERS")).contains(QStringLiteral("USER_DOMAINNAME")));

    exec(QStringLiteral("alter table USERS drop USER_DOMAINSID"));
    EXPECT_TRUE(update(true));
    EXPECT_EQ(m_prompts.messages().size(), 2);
    EXPECT_EQ(version(), 27);
    EXPECT_TRUE(m_prompts.allAnswered());
}

// A check stopped between creating SelfUpdates and its trigger completes the table next time.
TEST_F(SelfUpdateTest, AHistoryTableWithoutItsTriggerIsCompleted)
{
    exec(QStringLiteral("Create Table SelfUpdates(SU_ID integer not null primary key,SU_Date Date,SU_Descr Varchar(100),SU_Blob Blob)"));
    EXPECT_TRUE(update(true));
    EXPECT_TRUE(m_prompts.messages().isEmpty()) << m_prompts.messages().join('\n').toStdString();
    EXPECT_EQ(version(), 27);
    EXPECT_EQ(scalar(QStringLiteral("select count(*) from SelfUpdates where SU_Date is null")).toInt(), 0);
}

// The usual case is a server refusing the maintenance account; here the database is missing.
TEST_F(SelfUpdateTest, FailedConnectionEndsTheCheckWithFalse)
{
    m_prompts.answerConfirm(true);
    EXPECT_FALSE(SelfUpdateCheck(m_dm, m_tmp.path(QStringLiteral("missing.fdb"))));
    const QStringList messages = messagesWithIcons();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].startsWith(QStringLiteral("error: ") + SelfUpdateText::Error)) << messages[0].toStdString();
    EXPECT_TRUE(m_dm.db_Sys.connected());
    EXPECT_EQ(version(), 0);
}

TEST_F(SelfUpdateTest, LinksAreRebuiltWithTheirKey)
{
    for (const char* row : {"(1,1,1)", "(1,1,1)", "(2,1,1)"})
        exec(QStringLiteral("insert into LINKS values ") + QLatin1String(row));
    EXPECT_TRUE(update(true));
    EXPECT_EQ(scalar(QStringLiteral("select count(*) from LINKS")).toInt(), 2);
    EXPECT_THROW(exec(QStringLiteral("insert into LINKS values (2,1,1)")), db::Error);
}

// The rebuild of LINKS fails at its n-th insert: nothing of the step stays, and once the
// cause is gone the next check ends at the last step with every right there once.
class LinksRebuildRefused : public SelfUpdateTest, public testing::WithParamInterface<int> {};

TEST_P(LinksRebuildRefused, LeavesEveryRightAndTheRerunEndsAtTheLastStep)
{
    for (const char* row : {"(1,1,1)", "(1,1,1)", "(2,1,1)", "(3,2,5)"})
        exec(QStringLiteral("insert into LINKS values ") + QLatin1String(row));
    const QStringList before = column(kLinks);
    refuse(QStringLiteral("LINKS"), "insert", GetParam());

    EXPECT_TRUE(update(true));
    const QStringList messages = m_prompts.messages();
    ASSERT_EQ(messages.size(), 2);
    EXPECT_TRUE(messages[0].startsWith(SelfUpdateText::Error) && messages[0].contains(QStringLiteral("refused by the test"))) << messages[0].toStdString();
    EXPECT_EQ(messages[1], SelfUpdateText::StepFailed);
    EXPECT_EQ(version(), 2);
    EXPECT_EQ(column(kLinks), before);
    EXPECT_EQ(scalar(kLinksKey).toInt(), 0);

    stopRefusing();
    EXPECT_TRUE(update(true));
    EXPECT_EQ(version(), 27);
    EXPECT_EQ(column(kLinks), (QStringList{"1:1:1", "2:1:1", "3:2:5"}));
    EXPECT_EQ(scalar(kLinksKey).toInt(), 1);
}

INSTANTIATE_TEST_SUITE_P(AtInsert, LinksRebuildRefused, testing::Values(1, 2, 3),
                         [](const testing::TestParamInfo<int>& i) { return i.param == 3 ? std::string("Last") : "No" + std::to_string(i.param); });

// A run stopped after a step's work was committed but before its row was (an older program
// committed them apart): every step finds its work there and passes again.
TEST_F(SelfUpdateTest, EveryStepPassesWhenItsWorkIsThereButItsRowIsNot)
{
    for (const char* row : {"(1,1,1)", "(1,1,1)"})
        exec(QStringLiteral("insert into LINKS values ") + QLatin1String(row));
    EXPECT_FALSE(update(false)); // only creates SelfUpdates
    SelfUpdater updater(m_dm.db_Sys);
    QStringList failures;
    QObject::connect(&updater, &SelfUpdater::stepFailed, [&](const SelfUpdateStep& s, const QString& e) {
        failures << QString::number(s.number) + QLatin1String(": ") + e;
    });
    for (const SelfUpdateStep& step : SelfUpdateSteps()) {
        SCOPED_TRACE(step.number);
        ASSERT_EQ(updater.run(step.number - 1, step.number), SelfUpdateResult::Done) << failures.join('\n').toStdString();
        exec(QStringLiteral("delete from SelfUpdates where SU_ID = %1").arg(step.number));
        ASSERT_EQ(updater.run(step.number - 1, step.number), SelfUpdateResult::Done) << failures.join('\n').toStdString();
    }
    EXPECT_EQ(version(), 27);
    EXPECT_EQ(scalar(QStringLiteral("select count(*) from SelfUpdates")).toInt(), 27);
    EXPECT_EQ(column(kLinks), (QStringList{"1:1:1"}));
}

// The version the caller saw is read again under the reservation: one that moved on means
// another program has been updating, and this one changes nothing.
TEST_F(SelfUpdateTest, AStaleVersionStopsTheRun)
{
    EXPECT_FALSE(update(false)); // only creates SelfUpdates
    SelfUpdater(m_dm.db_Sys).run(0, 2);

    {
        TfrmSelfUpdate window(m_dm);
        EXPECT_EQ(window.Run(m_path, 0), SelfUpdateResult::Busy);
    }
    EXPECT_EQ(messagesWithIcons(), (QStringList{QStringLiteral("warning: Базата данни sys.gdb в момента се обновява или се използва от друга програма.")}));
    EXPECT_TRUE(m_dm.db_Sys.connected());
    EXPECT_EQ(version(), 2);

    // Another program that finished the work leaves nothing to do and nothing to say.
    SelfUpdater(m_dm.db_Sys).run(2);
    {
        TfrmSelfUpdate window(m_dm);
        EXPECT_EQ(window.Run(m_path, 0), SelfUpdateResult::Done);
    }
    EXPECT_EQ(m_prompts.messages().size(), 1);
}

// Classes of Mod03 whose fifth character is above '2' move, with their rights, into a new
// application Mod05; the others stay. A stored value may hold a double quote.
TEST_F(SelfUpdateTest, Mod03ClassesAboveLevelTwoMoveToMod05)
{
    arrangeMod03();
    EXPECT_TRUE(update(true));
    EXPECT_TRUE(m_prompts.messages().isEmpty()) << m_prompts.messages().join('\n').toStdString();

    EXPECT_EQ(scalar(QStringLiteral("select APL_NAME from APPLICATIONS where APL_ID = 8")).toString(), enc(QStringLiteral("Mod05")));
    EXPECT_EQ(scalar(QStringLiteral("select GDB_ALIAS from APPLICATIONS where APL_ID = 8")).toString(), enc(QStringLiteral("mod03_db")));
    EXPECT_TRUE(scalar(QStringLiteral("select GDB_UNAME from APPLICATIONS where APL_ID = 8")).isNull());
    EXPECT_EQ(column(QStringLiteral("select CLASS_IDX from CLASS order by 1")), (QStringList{"10", "12", "14", "15", "16"}));
    EXPECT_EQ(DecodeStoredText(scalar(QStringLiteral("select CLASS_PW from CLASS where CLASS_IDX = 15")).toString()), QStringLiteral("pa\"ss"));
    EXPECT_EQ(column(QStringLiteral("select LNK_USR || ':' || LNK_APLID || ':' || LNK_CLASS from LINKS order by LNK_USR")),
              (QStringList{"1:8:15", "2:3:10", "3:8:16", "4:3:12", "5:7:14"}));
}

// One refused statement of the move fails the whole step: no class loses its rights or its
// row without its copy taking them over. The rerun moves them.
struct MoveRefusal {
    const char* name;
    const char* table;
    const char* event;
    int n;
};

class Mod03MoveRefused : public SelfUpdateTest, public testing::WithParamInterface<MoveRefusal> {};

TEST_P(Mod03MoveRefused, ChangesNothingAndTheRerunMoves)
{
    arrangeMod03();
    const QStringList before = rightsAndClasses();
    refuse(QLatin1String(GetParam().table), GetParam().event, GetParam().n);

    EXPECT_TRUE(update(true));
    EXPECT_EQ(m_prompts.messages().size(), 2);
    EXPECT_EQ(m_prompts.messages().value(1), SelfUpdateText::StepFailed);
    EXPECT_EQ(version(), 12);
    EXPECT_EQ(rightsAndClasses(), before);

    stopRefusing();
    EXPECT_TRUE(update(true));
    EXPECT_EQ(version(), 27);
    EXPECT_EQ(column(QStringLiteral("select LNK_USR || ':' || LNK_APLID || ':' || LNK_CLASS from LINKS order by LNK_USR")),
              (QStringList{"1:8:15", "2:3:10", "3:8:16", "4:3:12", "5:7:14"}));
}

INSTANTIATE_TEST_SUITE_P(Statements, Mod03MoveRefused,
                         testing::Values(MoveRefusal{"SecondClassCopy", "CLASS", "insert", 2}, MoveRefusal{"FirstRightsMove", "LINKS", "update", 1},
                                         MoveRefusal{"SecondRightsMove", "LINKS", "update", 2}, MoveRefusal{"OldClassDelete", "CLASS", "delete", 1}),
                         [](const testing::TestParamInfo<MoveRefusal>& i) { return std::string(i.param.name); });

// What each step probes before it creates anything; names are compared in upper case.
TEST_F(SelfUpdateTest, CatalogueProbe)
{
    using C = CatalogueObject;
    const struct {
        C object;
        bool there;
    } cases[] = {
        {{C::Table, QStringLiteral("users"), {}}, true},
        {{C::Table, QStringLiteral("LOGS"), {}}, false},
        {{C::Column, QStringLiteral("USERS"), QStringLiteral("user_fnm")}, true},
        {{C::Column, QStringLiteral("USERS"), QStringLiteral("USER_FLAGS")}, false},
        {{C::Column, QStringLiteral("CLASS"), QStringLiteral("USER_FNM")}, false},
        {{C::Generator, QStringLiteral("Apl_ID_GEN"), {}}, true},
        {{C::Generator, QStringLiteral("LOGS_ID_GEN"), {}}, false},
        {{C::Trigger, QStringLiteral("USERS_BI0"), {}}, true},
        {{C::Trigger, QStringLiteral("SET_LOGS_ID"), {}}, false},
        {{C::PrimaryKey, QStringLiteral("USERS"), {}}, true},
        {{C::PrimaryKey, QStringLiteral("LINKS"), {}}, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CatalogueHas(m_dm.db_Sys, c.object), c.there) << c.object.kind << " " << c.object.name.toStdString() << " " << c.object.column.toStdString();
}
