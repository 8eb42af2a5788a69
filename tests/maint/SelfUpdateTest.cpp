#include "support/SystemDbFixture.h"

#include "core/StoredText.h"
#include "maint/SelfUpdate.h"

namespace {
const QString kStepFailed = QStringLiteral(
    "Грешка при обновяване  ! \rИзвадете базата данни от архива и сe свържете с екипа на Квелта");

QString enc(const QString& s) { return EncodeStoredText(s); }
// A stored form as an SQL literal: stored forms may hold both kinds of quote.
QString lit(const QString& s) { return QLatin1Char('\'') + EncodeStoredText(s).replace(QLatin1Char('\''), QStringLiteral("''")) + QLatin1Char('\''); }
} // namespace

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
    EXPECT_EQ(scalar(QStringLiteral("select count(*) from rdb$relation_constraints where rdb$relation_name = 'LINKS' "
                                    "and rdb$constraint_type = 'PRIMARY KEY'")).toInt(), 1);

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
    EXPECT_TRUE(m_prompts.shown[0].text.startsWith(QStringLiteral("Необходимо е да бъдат направени промени")));
    EXPECT_EQ(version(), 0);
    EXPECT_FALSE(m_dm.db_Sys.tableNames().contains(QStringLiteral("LOGS")));
}

TEST_F(SelfUpdateTest, FailedStepIsReportedAndTheNextCheckResumesThere)
{
    exec(QStringLiteral("alter table USERS add USER_DOMAINSID varchar(240)"));
    EXPECT_TRUE(update(true));
    const QStringList messages = m_prompts.messages();
    ASSERT_EQ(messages.size(), 2);
    EXPECT_TRUE(messages[0].startsWith(QStringLiteral("Грешка : ")));
    EXPECT_TRUE(messages[0].contains(QStringLiteral("USER_DOMAINSID")));
    EXPECT_EQ(messages[1], kStepFailed);
    EXPECT_TRUE(m_dm.db_Sys.connected());
    EXPECT_EQ(version(), 19);

    exec(QStringLiteral("alter table USERS drop USER_DOMAINSID"));
    EXPECT_TRUE(update(true));
    EXPECT_EQ(m_prompts.messages().size(), 2);
    EXPECT_EQ(version(), 27);
    EXPECT_TRUE(m_prompts.allAnswered());
}

TEST_F(SelfUpdateTest, LinksAreRebuiltWithTheirKey)
{
    for (const char* row : {"(1,1,1)", "(1,1,1)", "(2,1,1)"})
        exec(QStringLiteral("insert into LINKS values ") + QLatin1String(row));
    EXPECT_TRUE(update(true));
    EXPECT_EQ(scalar(QStringLiteral("select count(*) from LINKS")).toInt(), 2);
    EXPECT_THROW(exec(QStringLiteral("insert into LINKS values (2,1,1)")), db::Error);
}

// Classes of Mod03 whose fifth character is above '2' move, with their rights, into a new
// application Mod05; the others stay. A stored value may hold a double quote.
TEST_F(SelfUpdateTest, Mod03ClassesAboveLevelTwoMoveToMod05)
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
