#include "ManFixtures.h"

#include "db/Error.h"

#include <QDateTime>
#include <QFile>

namespace {

// dd.MM.yyyy hh:mm:ss.zzz, a space, the two tags with a space between, "-".
const QRegularExpression kPrefix(QStringLiteral("^(\\d{2})\\.(\\d{2})\\.(\\d{4}) (\\d{2}):(\\d{2}):(\\d{2})\\.(\\d{3}) (.*)-"));

} // namespace

TEST(DBLogTest, OffByDefaultAndWithoutASinkNothingIsWritten)
{
    DBLogState::reset();
    QStringList lines;
    DBLogState::setSink([&](const QString& l) { lines << l; });
    DBLog(QStringLiteral("x"));
    DBLogValue(QStringLiteral("x"), QStringLiteral("y"));
    DBLogMark(QStringLiteral("x"), lkEnter);
    DBLogException(QStringLiteral("x"), db::Error(QStringLiteral("e")));
    DBLogSqlParams(QStringLiteral("select 1"), nullptr);
    {
        TPGDBXMan man(QString(), QStringLiteral("none"), QString(), QStringLiteral("u"), QString());
        QString cond;
        TParams params;
        man.addprmval(params, QStringLiteral("f"), TFieldType::ftString, QStringLiteral("v"), 0, cond);
    }
    EXPECT_TRUE(lines.isEmpty());
    DBLogState::reset();
    DBLogState::setEnabled(true); // on, but no sink: nothing to write to, and no failure
    DBLog(QStringLiteral("x"));
    DBLogState::reset();
}

TEST(DBLogTest, TheFiveWritersAndTheirLineFormats)
{
    LogCapture log;
    DBLogState::setTags(QStringLiteral("T1"), QStringLiteral("T2"));
    const QDateTime before = QDateTime::currentDateTime();
    DBLog(QStringLiteral("m"));
    const QDateTime after = QDateTime::currentDateTime();
    DBLogValue(QStringLiteral("m"), QStringLiteral("v"));
    DBLogException(QStringLiteral("m"), db::Error(QStringLiteral("boom")));
    DBLogMark(QStringLiteral("m"), lkDestroyed);
    TParams params;
    params.CreateParam(TFieldType::ftInteger, QStringLiteral("U_Id"), TParamType::ptInput).SetValue(7);
    params.CreateParam(TFieldType::ftString, QStringLiteral("U_RNm"), TParamType::ptInputOutput).SetValue(QStringLiteral("Иван"));
    params.CreateParam(TFieldType::ftBlob, QStringLiteral("B"), TParamType::ptOutput).SetValue(QByteArray("raw"));
    DBLogSqlParams(QStringLiteral("select 1"), &params);

    ASSERT_EQ(log.lines.size(), 8);
    const QRegularExpressionMatch m = kPrefix.match(log.lines[0]);
    ASSERT_TRUE(m.hasMatch()) << log.lines[0].toStdString();
    EXPECT_EQ(m.captured(8), QStringLiteral("T1 T2"));
    // Day, month and minutes in their places: the time is the writing's own.
    const QDate day(m.captured(3).toInt(), m.captured(2).toInt(), m.captured(1).toInt());
    EXPECT_TRUE(day == before.date() || day == after.date());
    const int minute = m.captured(5).toInt();
    EXPECT_TRUE(minute == before.time().minute() || minute == after.time().minute()) << log.lines[0].toStdString();
    const int hour = m.captured(4).toInt();
    EXPECT_TRUE(hour == before.time().hour() || hour == after.time().hour());

    const QString p = m.captured(0);
    EXPECT_EQ(log.lines[0], p + QStringLiteral(" : m"));
    EXPECT_TRUE(log.lines[1].endsWith(QStringLiteral("- : m : v")));
    EXPECT_TRUE(log.lines[2].endsWith(QStringLiteral("- : m exception : boom")));
    EXPECT_TRUE(log.lines[3].endsWith(QStringLiteral("- : m :  Destroed")));
    for (int i = 1; i < 4; ++i)
        EXPECT_TRUE(kPrefix.match(log.lines[i]).hasMatch());
    // The SQL dump carries no prefix.
    EXPECT_EQ(log.lines[4], QStringLiteral("SQL > select 1\r\nPrms :"));
    EXPECT_EQ(log.lines[5], QStringLiteral("[ftInteger:Input] : U_Id = 7"));
    EXPECT_EQ(log.lines[6], QStringLiteral("[ftString:InOut] : U_RNm = Иван"));
    EXPECT_EQ(log.lines[7], QStringLiteral("[ftBlob:Output] : B = <blob>"));
}

TEST(DBLogTest, MarkerTexts)
{
    const QStringList texts{QStringLiteral(" Unknown Action"), QStringLiteral(" Enter In"), QStringLiteral(" Exit"),
                            QStringLiteral(" Finish Successfully"), QStringLiteral(" Finish with error"), QStringLiteral(" Created"),
                            QStringLiteral(" Destroed")};
    for (int kind = 0; kind < 7; ++kind)
        EXPECT_EQ(DBLogMarkText(kind), texts[kind]);
    EXPECT_EQ(DBLogMarkText(7), texts[0]);
    EXPECT_EQ(DBLogMarkText(-1), texts[0]);
}

// A name=value list holding a password is withheld whole; a password parameter's value too.
TEST(DBLogTest, PasswordsNeverReachTheLog)
{
    LogCapture log;
    DBLogValue(QStringLiteral("params"), QStringLiteral("USER NAME=admin\nPASSWORD=Sekret1"));
    DBLog(QStringLiteral("host=h password=Sekret2 dbname=d"));
    TParams params;
    params.CreateParam(TFieldType::ftString, QStringLiteral("new_password"), TParamType::ptInput).SetValue(QStringLiteral("Sekret3"));
    DBLogSqlParams(QStringLiteral("update u set pw = :new_password"), &params);
    ASSERT_EQ(log.lines.size(), 4);
    for (const QString& l : log.lines)
        EXPECT_FALSE(l.contains(QStringLiteral("Sekret"))) << l.toStdString();
    EXPECT_TRUE(log.lines[0].endsWith(QStringLiteral(" : params : <withheld: holds a password>")));
    EXPECT_EQ(log.lines[3], QStringLiteral("[ftString:Input] : new_password = <hidden>"));
}

// The documented switch: GATEKEEP_DBLOG names the file. After a failing statement the file
// holds the manager's lines in the fixed format, the error, and no password.
TEST(DBLogTest, EnvironmentFileAfterAFailingStatement)
{
    TempDir tmp;
    const QString file = tmp.path(QStringLiteral("db.log"));
    DBLogState::reset();
    qputenv("GATEKEEP_DBLOG", file.toUtf8());
    DBLogState::openFromEnvironment();
    qunsetenv("GATEKEEP_DBLOG");

    FbAppDatabase app(QStringLiteral("dblog"));
    {
        auto man = app.man();
        TParams* params = new TParams;
        params->CreateParam(TFieldType::ftString, QStringLiteral("v"), TParamType::ptInput).SetValue(QStringLiteral("x"));
        EXPECT_THROW(man->ExecSql(QStringLiteral("update NO_SUCH_TABLE set a = :v"), params, true), db::Error);
        EXPECT_FALSE(man->LastError.isEmpty());
    }
    DBLogState::reset();

    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(f.readAll());
    EXPECT_FALSE(text.contains(app.password())) << text.toStdString();
    const QStringList lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_FALSE(lines.isEmpty());
    const QRegularExpressionMatch m = kPrefix.match(lines.first());
    ASSERT_TRUE(m.hasMatch()) << lines.first().toStdString();
    EXPECT_LT(m.captured(5).toInt(), 60); // minutes, not a month
    EXPECT_LE(m.captured(2).toInt(), 12);
    EXPECT_TRUE(lines.first().endsWith(QStringLiteral(" : tDBXMan.create dbPath = : ") + app.path()));
    EXPECT_TRUE(text.contains(QStringLiteral("SQL > tDBXMan.ExecSql \rupdate NO_SUCH_TABLE set a = :v\r\nPrms :\n[ftString:Input] : v = x\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("- : Exception in :   : ")));
    EXPECT_TRUE(text.contains(QStringLiteral("- : Грешка в DBManager exception : ")));
    EXPECT_TRUE(text.contains(QStringLiteral("NO_SUCH_TABLE")));
    EXPECT_TRUE(text.contains(QStringLiteral("- : tDBXMan.destroy :  Exit")));
}
