// The import by name matching against a real system database.
#include "support/SystemDbFixture.h"

#include "bulk/ImportText.h"
#include "bulk/SpecialImport.h"
#include "core/StoredText.h"
#include "db/Error.h"

#include <gtest/gtest.h>

namespace Text = ImportText;

namespace {

QString lit(const QString& text) { return QLatin1Char('\'') + QString(text).replace(QLatin1Char('\''), QStringLiteral("''")) + QLatin1Char('\''); }

struct Person {
    QString login, name;
    bool operator==(const Person&) const = default;
};
void PrintTo(const Person& p, std::ostream* os) { *os << "(" << p.login.toStdString() << ", " << p.name.toStdString() << ")"; }

} // namespace

class SpecialImportTest : public SystemDbFixture {
protected:
    void addUser(const QString& login, const QString& name, int id = 0)
    {
        exec(QStringLiteral("insert into users (user_id, user_fnm, user_fpw, user_rnm) values (%1, %2, %3, %4)")
                 .arg(id ? QString::number(id) : QStringLiteral("null"), lit(EncodeStoredText(login)),
                      lit(EncodeStoredText(QStringLiteral("pw"))), lit(EncodeStoredText(name))));
    }
    QList<Person> people()
    {
        QList<Person> out;
        db::Query q(&m_dm.db_Sys);
        q.setSql(QStringLiteral("select user_fnm, user_rnm from users order by user_id"));
        for (q.open(); !q.eof(); q.next())
            out.append({DecodeStoredText(q.field(0).asString()), DecodeStoredText(q.field(1).asString())});
        return out;
    }
    QStringList run(const QStringList& lines)
    {
        QStringList log;
        RunSpecialImport(m_dm.db_Sys, lines, [&log](const QString& l) { log << l; });
        return log;
    }
};

TEST(SplitNameWordsTest, CutsAtSpaces)
{
    const struct {
        QString text;
        QStringList words;
    } cases[] = {
        {QStringLiteral("Иван  Георгиев   Петров"), {QStringLiteral("Иван"), QStringLiteral("Георгиев"), QStringLiteral("Петров")}},
        {QStringLiteral(" Иван Петров "), {QStringLiteral("Иван"), {}, QStringLiteral("Петров")}},
        {QStringLiteral("Иван"), {QStringLiteral("Иван"), {}, {}}},
        {QStringLiteral("А  Б В Г"), {QStringLiteral("А Б В Г"), {}, {}}},
        {QString(), {{}, {}, {}}},
    };
    for (const auto& c : cases) {
        const NameWords w = SplitNameWords(c.text);
        EXPECT_EQ((QStringList{w.first, w.middle, w.last}), c.words) << c.text.toStdString();
    }
}

// The cases of the matching, each on a database of its own users.
TEST_F(SpecialImportTest, NamesMatchOrBecomeUsers)
{
    const QString ivan = QStringLiteral("Иван Петров");
    const QString ivanG = QStringLiteral("Иван Георгиев Петров");
    const struct {
        const char* name;
        QList<Person> before;
        QStringList lines;
        QList<Person> after;
        QStringList log;
    } cases[] = {
        {"a new name: initials and family name",
         {},
         {ivan},
         {{QStringLiteral("ИПетров"), ivan}},
         {Text::SpecialCreated.arg(ivan)}},
        {"login taken: the middle initial too",
         {{QStringLiteral("ИПетров"), QStringLiteral("Илия Петров")}},
         {ivanG},
         {{QStringLiteral("ИПетров"), QStringLiteral("Илия Петров")}, {QStringLiteral("ИГПетров"), ivanG}},
         {Text::SpecialCreated.arg(ivanG)}},
        {"login taken, no middle name",
         {{QStringLiteral("ИПетров"), QStringLiteral("Илия Петров")}},
         {ivan},
         {{QStringLiteral("ИПетров"), QStringLiteral("Илия Петров")}},
         {Text::SpecialNoLogin.arg(ivan)}},
        {"partial match completes the middle name",
         {{QStringLiteral("ivan"), ivan}},
         {ivanG},
         {{QStringLiteral("ivan"), ivanG}},
         {Text::SpecialMiddleAdded.arg(ivanG)}},
        {"partial match the other way writes nothing",
         {{QStringLiteral("ivan"), ivanG}},
         {ivan},
         {{QStringLiteral("ivan"), ivanG}},
         {}},
        {"full match; a second line is a namesake",
         {{QStringLiteral("ivan"), ivan}},
         {ivan, QStringLiteral("  ") + ivan},
         {{QStringLiteral("ivan"), ivan}, {QStringLiteral("ИПетров"), ivan}},
         {Text::SpecialFullMatch.arg(ivan, ivan, QStringLiteral("ivan")), Text::SpecialCreated.arg(ivan)}},
        {"a person named twice: the second gets the middle initial",
         {},
         {ivanG, ivanG},
         {{QStringLiteral("ИПетров"), ivanG}, {QStringLiteral("ИГПетров"), ivanG}},
         {Text::SpecialCreated.arg(ivanG), Text::SpecialCreated.arg(ivanG)}},
        {"a person named twice without a middle name",
         {},
         {ivan, ivan},
         {{QStringLiteral("ИПетров"), ivan}},
         {Text::SpecialCreated.arg(ivan), Text::SpecialNoLogin.arg(ivan)}},
        {"Latin case ignored, Cyrillic case not",
         {{QStringLiteral("ip"), QStringLiteral("Ivan Petrov")}, {QStringLiteral("ivan"), ivan}},
         {QStringLiteral("IVAN petrov"), QStringLiteral("иван петров")},
         {{QStringLiteral("ip"), QStringLiteral("Ivan Petrov")}, {QStringLiteral("ivan"), ivan}, {QStringLiteral("ИПетров"), QStringLiteral("иван петров")}},
         {Text::SpecialFullMatch.arg(QStringLiteral("IVAN petrov"), QStringLiteral("Ivan Petrov"), QStringLiteral("ip")),
          Text::SpecialCreated.arg(QStringLiteral("иван петров"))}},
        {"one word, four words and blank lines skipped",
         {},
         {QStringLiteral("Иван"), QStringLiteral("Иван Иванов Петров Стоянов"), QString(), QStringLiteral("   ")},
         {},
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        exec(QStringLiteral("delete from users"));
        for (const Person& p : c.before)
            addUser(p.login, p.name);
        EXPECT_EQ(run(c.lines), c.log);
        EXPECT_EQ(people(), c.after);
    }
}

// A name that cannot be stored is said and the run goes on; ids stay whole; the new user's id
// comes from the insert even when an existing id lies above the generator.
TEST_F(SpecialImportTest, BadNamesAndHighIds)
{
    addUser(QStringLiteral("far"), QStringLiteral("Далечен Номер"), 70000);
    const QString longName = QStringLiteral("Александър Константинов Христозовски");
    ASSERT_GT(longName.size(), 34);
    const QStringList log = run({longName, QStringLiteral("Далечен Пети Номер"), QStringLiteral("Нов Човек")});
    ASSERT_EQ(log.size(), 3);
    EXPECT_TRUE(log[0].startsWith(longName + QStringLiteral(": "))) << log[0].toStdString();
    EXPECT_EQ(log[1], Text::SpecialMiddleAdded.arg(QStringLiteral("Далечен Пети Номер")));
    EXPECT_EQ(scalar(QStringLiteral("select count(*) from users where user_id = 70000")).toInt(), 1);
    EXPECT_EQ(people(), (QList<Person>{{QStringLiteral("НЧовек"), QStringLiteral("Нов Човек")},
                                       {QStringLiteral("far"), QStringLiteral("Далечен Пети Номер")}}));
}

// A database error ends the run at its line, naming it; the lines before it stay done.
TEST_F(SpecialImportTest, ADatabaseErrorEndsTheRunAtItsLine)
{
    exec(QStringLiteral("create exception E_NO 'refused'"));
    exec(QStringLiteral("create trigger USERS_REFUSE for USERS before insert as begin "
                        "if (new.USER_RNM = %1) then exception E_NO; end").arg(lit(EncodeStoredText(QStringLiteral("Втори Човек")))));
    try {
        run({QStringLiteral("Първи Човек"), QStringLiteral("Втори Човек"), QStringLiteral("Трети Човек")});
        ADD_FAILURE() << "no error";
    } catch (const db::Error& e) {
        EXPECT_TRUE(e.message().startsWith(QStringLiteral("Ред 2: "))) << e.message().toStdString();
    }
    EXPECT_EQ(people(), (QList<Person>{{QStringLiteral("ПЧовек"), QStringLiteral("Първи Човек")}}));
}

// Matching stays linear: many namesakes are claimed one by one without rescanning the list.
TEST(ExistingUserListTest, NamesakesAreClaimedInListOrder)
{
    TExistingUserList list;
    for (int i = 0; i < 5; ++i)
        list.append(i + 1, QStringLiteral("l%1").arg(i), i % 2 ? QStringLiteral("Ана Иванова") : QStringLiteral("Ана Петрова Иванова"), false);
    const NameWords words = SplitNameWords(QStringLiteral("Ана Иванова"));
    QList<int> order;
    bool partial = false;
    for (int i = 0; i < 6; ++i) {
        const int m = list.MatchExisting(QStringLiteral("Ана Иванова"), words, partial);
        order << m;
        if (m >= 0)
            list[m].matched = true;
    }
    // The full matches first (indexes 1 and 3), then the partial ones in list order.
    EXPECT_EQ(order, (QList<int>{1, 3, 0, 2, 4, -1}));
    EXPECT_EQ(list.LoginInUse(QStringLiteral("l3")), 3);
    EXPECT_EQ(list.LoginInUse(QStringLiteral("L3")), -1);
}
