// The import's command line: what is taken, and what is refused.
#include "core/CommandLine.h"

#include <gtest/gtest.h>

TEST(ImportCommandLineTest, ArgumentsAreParsedOrRefused)
{
    const auto parse = [](const QStringList& args) { return ParseCommandLine(args); };

    const CommandLine full = parse({QStringLiteral("import"), QStringLiteral("users.txt"), QStringLiteral("--application"),
                                    QStringLiteral("Деловодство"), QStringLiteral("--class"), QStringLiteral("Писар"),
                                    QStringLiteral("--password"), QStringLiteral("x1"), QStringLiteral("--separator"), QStringLiteral(","),
                                    QStringLiteral("--update-existing"), QStringLiteral("--domain-user"), QStringLiteral("--change-login-name"),
                                    QStringLiteral("--database"), QStringLiteral("db2"), QStringLiteral("--preview"), QStringLiteral("--"),
                                    QStringLiteral("admin"), QStringLiteral("-secret")});
    ASSERT_TRUE(full.error.isEmpty()) << full.error.toStdString();
    EXPECT_EQ(full.action, CommandLine::Action::Import);
    EXPECT_EQ(full.import.file, QStringLiteral("users.txt"));
    EXPECT_EQ(full.import.application, QStringLiteral("Деловодство"));
    EXPECT_EQ(full.import.className, QStringLiteral("Писар"));
    EXPECT_EQ(full.import.password, QStringLiteral("x1"));
    EXPECT_EQ(full.import.separator, QStringLiteral(","));
    EXPECT_EQ(full.import.database, QStringLiteral("db2"));
    EXPECT_TRUE(full.import.preview && full.import.updateExisting && full.import.domainUser && full.import.changeLoginName);
    EXPECT_EQ(full.login, (QStringList{QStringLiteral("admin"), QStringLiteral("-secret")}));

    const CommandLine plain = parse({QStringLiteral("import"), QStringLiteral("users.txt"), QStringLiteral("admin"), QStringLiteral("pw")});
    ASSERT_TRUE(plain.error.isEmpty());
    EXPECT_EQ(plain.import.password, QStringLiteral("579"));
    EXPECT_EQ(plain.import.separator, QStringLiteral(";"));
    EXPECT_FALSE(plain.import.preview || plain.import.updateExisting || plain.import.domainUser);

    // Two words are a login named "import".
    const CommandLine login = parse({QStringLiteral("import"), QStringLiteral("pw")});
    EXPECT_EQ(login.action, CommandLine::Action::Login);
    EXPECT_EQ(login.login, (QStringList{QStringLiteral("import"), QStringLiteral("pw")}));

    const QList<QStringList> refused = {
        {QStringLiteral("import"), QStringLiteral("users.txt"), QStringLiteral("admin")},
        {QStringLiteral("import"), QStringLiteral("users.txt"), QStringLiteral("admin"), QStringLiteral("-secret")},
        {QStringLiteral("import"), QStringLiteral("f"), QStringLiteral("--separator"), QStringLiteral(";;"), QStringLiteral("a"), QStringLiteral("p")},
        {QStringLiteral("import"), QStringLiteral("f"), QStringLiteral("--change-login-name"), QStringLiteral("a"), QStringLiteral("p")},
        {QStringLiteral("import"), QStringLiteral("f"), QStringLiteral("--class"), QStringLiteral("Писар"), QStringLiteral("a"), QStringLiteral("p")},
        {QStringLiteral("import"), QStringLiteral("f"), QStringLiteral("a"), QStringLiteral("p"), QStringLiteral("extra")},
    };
    for (const QStringList& args : refused) {
        const CommandLine c = parse(args);
        EXPECT_FALSE(c.error.isEmpty()) << args.join(QLatin1Char(' ')).toStdString();
        EXPECT_FALSE(c.error.contains(QStringLiteral("secret")));
    }
    EXPECT_TRUE(CommandLineHelp().contains(QStringLiteral("gatekeep import FILE")));
}
