// Transactions and connections as two administrators and a restarting server meet them.
#include "support/Sql.h"
#include "support/TestEnv.h"

#include "db/Database.h"
#include "db/Error.h"
#include "db/Query.h"

#include <QDir>

#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

using db::Database;
using db::Query;
using db::Transaction;

namespace {

void connectServer(Database& db, const QString& path)
{
    db.setDriverName(QStringLiteral("IntrBase"));
    db.params() = firebirdParams(path);
    db.connect();
}

int attachmentId(Database& db) { return scalarOf(db, QStringLiteral("select current_connection from rdb$database")).toInt(); }

// What an administrator of the server does to a session, and what a server restart does to all.
void killAttachment(Database& admin, int id)
{
    execSql(admin, QStringLiteral("delete from mon$attachments where mon$attachment_id = %1").arg(id));
}

} // namespace

class ServerTransactionTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_path = serverDatabasePath(QStringLiteral("tx"));
        Database::createFirebirdDatabase(m_path, requireEnv("GATEKEEP_TEST_FB_USER"), requireEnv("GATEKEEP_TEST_FB_PASSWORD"));
        connectServer(m_a, m_path);
        connectServer(m_b, m_path);
        execSql(m_a, QStringLiteral("create table t (id integer not null primary key, v varchar(20))"));
        execSql(m_a, QStringLiteral("insert into t values (1, \"one\")"));
        execSql(m_a, QStringLiteral("insert into t values (2, \"two\")"));
    }
    QString m_path;
    Database m_a;
    Database m_b;
};

TEST_F(ServerTransactionTest, UncommittedTransactionRollsBackWhenItGoesOutOfScope)
{
    {
        Transaction t(m_a);
        execSql(m_a, QStringLiteral("delete from t where id = 1"));
        execSql(m_a, QStringLiteral("insert into t values (3, \"three\")"));
        // No commit: as if the code between had thrown.
    }
    EXPECT_EQ(columnOf(m_b, QStringLiteral("select id from t order by id")), (QStringList{"1", "2"}));
    EXPECT_FALSE(m_a.inTransaction());
}

TEST_F(ServerTransactionTest, ProtectedWriteReservationWaitsForTheHolderOrFailsAtOnce)
{
    Transaction holder(m_a, db::TransactionOptions{{QStringLiteral("T")}, 0});
    // Readers go on.
    EXPECT_EQ(scalarOf(m_b, QStringLiteral("select count(*) from t")).toInt(), 2);
    // A second reservation without a wait fails at once; with a short wait it fails after it.
    EXPECT_THROW(Transaction(m_b, db::TransactionOptions{{QStringLiteral("T")}, 0}), db::Error);
    EXPECT_THROW(Transaction(m_b, db::TransactionOptions{{QStringLiteral("T")}, 1}), db::Error);
    EXPECT_FALSE(m_b.inTransaction());
    holder.commit();
    Transaction second(m_b, db::TransactionOptions{{QStringLiteral("T")}, 1});
    execSql(m_b, QStringLiteral("insert into t values (3, \"three\")"));
    second.commit();
    EXPECT_EQ(scalarOf(m_a, QStringLiteral("select count(*) from t")).toInt(), 3);
}

TEST_F(ServerTransactionTest, EndingATransactionLeavesResultsOfOtherTransactionsOpen)
{
    // A result read row by row while each row is handled in a transaction of its own.
    Query rows(&m_a);
    rows.setSql(QStringLiteral("select id from t order by id"));
    QStringList handled;
    for (rows.open(); !rows.eof(); rows.next()) {
        Transaction t(m_a);
        execSql(m_a, QStringLiteral("update t set v = \"seen\" where id = %1").arg(rows.field(0).asInteger()));
        t.commit();
        handled << rows.field(0).asString();
    }
    EXPECT_EQ(handled, (QStringList{"1", "2"}));
    EXPECT_EQ(scalarOf(m_b, QStringLiteral("select count(*) from t where v = \"seen\"")).toInt(), 2);
}

TEST_F(ServerTransactionTest, LostConnectionIsReportedAndTheNextUseReconnects)
{
    Query open(&m_a);
    open.setSql(QStringLiteral("select id from t"));
    open.open();
    killAttachment(m_b, attachmentId(m_a));

    // The result's own transaction cannot commit: that is a failure, not a quiet success.
    try {
        open.close();
        FAIL() << "a failed commit was reported as success";
    } catch (const db::Error& e) {
        EXPECT_TRUE(e.connectionLost()) << e.message().toStdString();
        EXPECT_TRUE(e.message().startsWith(db::lostConnectionText()));
    }
    EXPECT_TRUE(m_a.lost());
    // The next statement runs on a new attachment.
    EXPECT_EQ(scalarOf(m_a, QStringLiteral("select count(*) from t")).toInt(), 2);
    EXPECT_FALSE(m_a.lost());
}

TEST_F(ServerTransactionTest, LostConnectionInsideATransactionNeverContinuesInAutocommit)
{
    Transaction t(m_a);
    execSql(m_a, QStringLiteral("delete from t where id = 1"));
    killAttachment(m_b, attachmentId(m_a));
    EXPECT_THROW(execSql(m_a, QStringLiteral("delete from t where id = 2")), db::Error);
    // Still inside the broken transaction: nothing may run on a new connection by itself.
    EXPECT_THROW(execSql(m_a, QStringLiteral("delete from t where id = 2")), db::Error);
    EXPECT_THROW(t.commit(), db::Error);
    EXPECT_EQ(columnOf(m_a, QStringLiteral("select id from t order by id")), (QStringList{"1", "2"}));
}

struct Folder {
    const char* label;
    const char* name; // UTF-8
};

class EmbeddedPathsTest : public testing::TestWithParam<Folder> {};

TEST_P(EmbeddedPathsTest, DatabasesInFoldersWithNonAsciiNamesCanBeCreatedAndOpened)
{
    TempDir tmp;
    const QString folder = tmp.path(QString::fromUtf8(GetParam().name));
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString path = folder + QStringLiteral("/sys.fdb");
    Database::createFirebirdDatabase(path, QStringLiteral("SYSDBA"), QString());
    Database db;
    db.setDriverName(QStringLiteral("IntrBase"));
    db.params() = db::ParamList{{QStringLiteral("Server Name"), path}, {QStringLiteral("User Name"), QStringLiteral("SYSDBA")}};
    db.connect();
    EXPECT_EQ(scalarOf(db, QStringLiteral("select 1 from rdb$database")).toInt(), 1);
}

INSTANTIATE_TEST_SUITE_P(Folders, EmbeddedPathsTest,
                         testing::Values(Folder{"Cyrillic", "база"}, Folder{"Latin1", "jürgen"}, Folder{"OutsideCp1251", "日本"}),
                         [](const testing::TestParamInfo<Folder>& info) { return std::string(info.param.label); });

TEST(SqlTextTest, NulInsideAValueIsPartOfTheStatement)
{
    TempDir tmp;
    const QString path = tmp.path(QStringLiteral("nul.fdb"));
    Database::createFirebirdDatabase(path, QStringLiteral("SYSDBA"), QString());
    Database db;
    db.setDriverName(QStringLiteral("IntrBase"));
    db.params() = db::ParamList{{QStringLiteral("Server Name"), path}, {QStringLiteral("User Name"), QStringLiteral("SYSDBA")}};
    db.connect();
    execSql(db, QStringLiteral("create table t (v varchar(10))"));
    // Cut at the NUL, the statement would end inside the literal and fail.
    execSql(db, QStringLiteral("insert into t values (\"a") + QChar(0) + QStringLiteral("b\")"));
    EXPECT_EQ(scalarOf(db, QStringLiteral("select char_length(v) from t")).toInt(), 3);
}

TEST_F(ServerTransactionTest, AFailedCommitEndsTheTransactionAndWritesNothing)
{
    // A commit trigger refuses the commit when the transaction asks it to: a commit that fails on
    // the server, as deferred work or a lost connection makes it fail.
    execSql(m_a, QStringLiteral("create exception e_refused \"refused\""));
    execSql(m_a, QStringLiteral("create trigger refuse_commit on transaction commit as begin "
                                "if (rdb$get_context('USER_TRANSACTION', 'refuse') = '1') then exception e_refused; end"));
    {
        Transaction t(m_a);
        execSql(m_a, QStringLiteral("insert into t values (3, \"three\")"));
        execSql(m_a, QStringLiteral("select rdb$set_context('USER_TRANSACTION', 'refuse', '1') from rdb$database"));
        EXPECT_THROW(t.commit(), db::Error);
        EXPECT_FALSE(t.active());
        EXPECT_FALSE(m_a.inTransaction()) << "the failed transaction stays open on the connection";
    }
    // The row is not there for anyone, and the connection takes the next transaction.
    EXPECT_EQ(scalarOf(m_b, QStringLiteral("select count(*) from t where id = 3")).toInt(), 0);
    Transaction next(m_a);
    execSql(m_a, QStringLiteral("insert into t values (4, \"four\")"));
    next.commit();
    EXPECT_EQ(scalarOf(m_b, QStringLiteral("select count(*) from t")).toInt(), 3);
}

TEST_F(ServerTransactionTest, CancelFromAnotherThreadStopsTheRunningStatementAndLeavesTheConnectionUsable)
{
    // Nothing runs: nothing to cancel, and nothing is harmed.
    m_a.cancel();
    EXPECT_EQ(scalarOf(m_a, QStringLiteral("select count(*) from t")).toInt(), 2);

    const auto started = std::chrono::steady_clock::now();
    std::atomic<bool> done = false;
    const int a = attachmentId(m_a);
    std::thread canceller([&] {
        // Once the loop is seen running on the server.
        while (!done && scalarOf(m_b, QStringLiteral("select count(*) from mon$statements where mon$state = 1 "
                                                     "and mon$attachment_id = %1").arg(a)).toInt() == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        m_a.cancel();
    });
    {
        Transaction t(m_a);
        execSql(m_a, QStringLiteral("insert into t values (3, \"three\")"));
        execSql(m_a, QStringLiteral("create sequence spin"));
        QString message;
        try {
            // About a minute of work unless it is cancelled.
            execSql(m_a, QStringLiteral("execute block as declare i integer = 0; begin "
                                        "while (i < 100000000) do i = i + 1 + gen_id(spin, 0); end"));
        } catch (const db::Error& e) {
            message = e.message();
        }
        EXPECT_TRUE(message.contains(QStringLiteral("cancelled"))) << message.toStdString();
        done = true;
    }
    canceller.join();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
    // The transaction rolled back; the connection goes on.
    EXPECT_EQ(scalarOf(m_a, QStringLiteral("select count(*) from t")).toInt(), 2);
}

TEST_F(ServerTransactionTest, DisconnectingAConnectionTheServerEndedDoesNotThrow)
{
    Transaction t(m_a);
    killAttachment(m_b, attachmentId(m_a));
    EXPECT_THROW(execSql(m_a, QStringLiteral("insert into t values (3, \"three\")")), db::Error);
    EXPECT_NO_THROW(m_a.disconnect());
    EXPECT_FALSE(m_a.connected());
}
