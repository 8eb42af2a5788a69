// The self-update on the Firebird server while another connection holds what it needs: the
// other side is held at a known point by an uncommitted transaction.
#include "support/ScriptedPrompts.h"
#include "support/SystemDbFixture.h"
#include "support/Sql.h"
#include "support/TestEnv.h"

#include "core/DataModule.h"
#include "core/SqlOps.h"
#include "core/SystemSchema.h"
#include "maint/SelfUpdate.h"

#include <gtest/gtest.h>

namespace {

const QString kLinks = QStringLiteral("select LNK_USR || ':' || LNK_APLID || ':' || LNK_CLASS from LINKS order by 1");

} // namespace

class SelfUpdateServerTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_path = OpenServerSystemDatabase(QStringLiteral("selfupdate"), m_dm, m_other);
    }

    bool update()
    {
        m_prompts.answerConfirm(true);
        return SelfUpdateCheck(m_dm, m_path);
    }
    int version() { return SystemSchemaVersion(m_dm.db_Sys); }

    QString m_path;
    TDM m_dm;
    ScriptedPrompts m_prompts;
    db::Database m_other;
};

// The other side: another program in the middle of a step, another program that has written
// a step's row but not yet committed it, and an administrator saving a right while the
// update reaches the rebuild of LINKS (after steps 1 and 2).
struct HeldCase {
    const char* name;
    QStringList reserved;  // by the other transaction for protected write
    const char* statement; // run in the other transaction, if any
    int versionReached;
};

class SelfUpdateHeld : public SelfUpdateServerTest, public testing::WithParamInterface<HeldCase> {};

TEST_P(SelfUpdateHeld, SaysTheDatabaseIsBusyAndChangesNothing)
{
    for (const char* row : {"(1,1,1)", "(1,1,1)", "(2,1,1)"})
        execSql(m_dm.db_Sys, QStringLiteral("insert into LINKS values ") + QLatin1String(row));
    m_prompts.answerConfirm(false);
    ASSERT_FALSE(SelfUpdateCheck(m_dm, m_path)); // only creates SelfUpdates
    const QStringList rights = columnOf(m_dm.db_Sys, kLinks);

    {
        db::TransactionOptions options;
        options.protectedWrite = GetParam().reserved;
        db::Transaction other(m_other, options);
        if (GetParam().statement)
            execSql(m_other, QString::fromLatin1(GetParam().statement));

        EXPECT_FALSE(update());
        ASSERT_EQ(m_prompts.messages(), QStringList{SelfUpdateText::Busy});
        EXPECT_EQ(m_prompts.shown.last().icon, Prompts::Icon::Warning);
        EXPECT_TRUE(m_dm.db_Sys.connected());
        EXPECT_EQ(columnOf(m_dm.db_Sys, kLinks), rights);
    }
    EXPECT_EQ(version(), GetParam().versionReached);
    EXPECT_FALSE(m_dm.db_Sys.tableNames().contains(QStringLiteral("LOGS")));

    // Once the other side is done, the update goes through with every right there once.
    EXPECT_TRUE(update());
    EXPECT_EQ(m_prompts.messages().size(), 1);
    EXPECT_EQ(version(), 27);
    EXPECT_EQ(columnOf(m_dm.db_Sys, kLinks), (QStringList{"1:1:1", "2:1:1"}));
}

INSTANTIATE_TEST_SUITE_P(
    By, SelfUpdateHeld,
    testing::Values(HeldCase{"AnotherUpdatersStep", {QStringLiteral("SELFUPDATES"), QStringLiteral("LINKS")}, nullptr, 0},
                    HeldCase{"AnotherUpdatersUncommittedRow", {}, "insert into SelfUpdates (SU_ID, SU_Descr) values (1, 'other')", 0},
                    HeldCase{"ARightBeingSaved", {}, "update LINKS set LNK_CLASS = LNK_CLASS where LNK_USR = 2", 2}),
    [](const testing::TestParamInfo<HeldCase>& i) { return std::string(i.param.name); });
