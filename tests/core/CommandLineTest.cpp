#include "core/CommandLine.h"

#include <gtest/gtest.h>

using Action = CommandLine::Action;

namespace {

struct Case {
    const char* name;
    QStringList args;
    Action action;
    QStringList login;
    QString value = {};
    bool refused = false;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

} // namespace

class CommandLineTest : public testing::TestWithParam<Case> {};

TEST_P(CommandLineTest, SplitsActionsFromTheLogin)
{
    const Case& c = GetParam();
    const CommandLine cl = ParseCommandLine(c.args);
    EXPECT_EQ(!cl.error.isEmpty(), c.refused) << cl.error.toStdString();
    if (c.refused)
        return;
    EXPECT_EQ(cl.action, c.action);
    EXPECT_EQ(cl.login, c.login);
    EXPECT_EQ(cl.value, c.value);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, CommandLineTest,
    testing::Values(
        Case{"none", {}, Action::Login, {}},
        Case{"plain_login", {"ivan", "secret"}, Action::Login, {"ivan", "secret"}},
        Case{"one_argument_is_none", {"ivan"}, Action::Login, {}},
        Case{"extra_arguments_ignored", {"ivan", "secret", "more"}, Action::Login, {"ivan", "secret"}},
        Case{"password_with_dash", {"ivan", "-s3cret"}, Action::Login, {"ivan", "-s3cret"}},
        Case{"password_is_an_action_name", {"ivan", "--help"}, Action::Login, {"ivan", "--help"}},
        Case{"login_is_an_option_name", {"--owner", "x"}, Action::Login, {"--owner", "x"}},
        Case{"login_is_a_qt_option", {"-style", "x"}, Action::Login, {"-style", "x"}},
        Case{"login_with_equals", {"--create-demox", "pw"}, Action::Login, {"--create-demox", "pw"}},
        Case{"cyrillic_login", {"Иван", "Парола1"}, Action::Login, {"Иван", "Парола1"}},
        Case{"help", {"--help"}, Action::Help, {}},
        Case{"version", {"--version"}, Action::Version, {}},
        Case{"scramble", {"--scramble", "-abc"}, Action::Scramble, {}, "-abc"},
        Case{"demo", {"--create-demo", "/tmp/d"}, Action::CreateDemo, {}, "/tmp/d"},
        Case{"demo_equals_form", {"--create-demo=/tmp/d"}, Action::CreateDemo, {}, "/tmp/d"},
        Case{"install_description", {"--write-install-description", "a.ini,a.icr"}, Action::WriteInstallDescription, {}, "a.ini,a.icr"},
        Case{"screenshot_with_login", {"--screenshot", "x.png", "admin", "gatekeep"}, Action::Screenshot, {"admin", "gatekeep"}, "x.png"},
        Case{"screenshot_dash_password", {"--screenshot", "x.png", "admin", "-pw"}, Action::Screenshot, {"admin", "-pw"}, "x.png"},
        Case{"screenshot_dash_login", {"--screenshot", "x.png", "--", "-u", "-pw"}, Action::Screenshot, {"-u", "-pw"}, "x.png"},
        Case{"screenshot_window", {"--screenshot", "x.png", "--window", "users", "a", "b"}, Action::Screenshot, {"a", "b"}, "x.png"},
        Case{"system_db", {"--create-system-db", "s.fdb", "--admin", "boss", "--admin-password", "-pw"}, Action::CreateSystemDb, {}, "s.fdb"},
        Case{"system_db_without_admin", {"--create-system-db", "s.fdb"}, Action::CreateSystemDb, {}, {}, true},
        Case{"two_actions", {"--create-demo", "d", "--scramble", "x"}, Action::CreateDemo, {}, {}, true},
        Case{"unknown_option", {"--create-demo", "d", "--bogus"}, Action::CreateDemo, {}, {}, true},
        Case{"missing_value", {"--create-demo"}, Action::CreateDemo, {}, {}, true},
        Case{"stray_argument", {"--create-demo", "d", "extra"}, Action::CreateDemo, {}, {}, true},
        Case{"option_of_another_action", {"--create-demo", "d", "--admin", "x"}, Action::CreateDemo, {}, {}, true},
        Case{"unknown_window", {"--screenshot", "x.png", "--window", "other"}, Action::Screenshot, {}, {}, true}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(CommandLine, CreateSystemDbCarriesItsAccounts)
{
    const CommandLine cl = ParseCommandLine({"--create-system-db", "h:/s.fdb", "--owner", "OWNER", "--password", "-o pw",
                                             "--admin", "boss", "--admin-password", "Парола1"});
    ASSERT_TRUE(cl.error.isEmpty()) << cl.error.toStdString();
    EXPECT_EQ(cl.owner, "OWNER");
    EXPECT_EQ(cl.ownerPassword, "-o pw");
    EXPECT_EQ(cl.adminLogin, "boss");
    EXPECT_EQ(cl.adminPassword, "Парола1");
    EXPECT_FALSE(cl.needsWindows());

    const CommandLine defaults = ParseCommandLine({"--create-system-db", "s.fdb", "--admin", "a", "--admin-password", "b"});
    EXPECT_EQ(defaults.owner, "SYSCREAT");
    EXPECT_EQ(ParseCommandLine({"--screenshot", "x.png"}).window, "main");
}

// An unknown option after an action may be a mistyped password: the refusal does not repeat it.
TEST(CommandLine, RefusalsDoNotRepeatTheirArguments)
{
    const CommandLine cl = ParseCommandLine({"--screenshot", "x.png", "--s3cret-pw", "admin"});
    ASSERT_FALSE(cl.error.isEmpty());
    EXPECT_FALSE(cl.error.contains("s3cret"));
}

TEST(CommandLine, ArgumentsAreCopiedWithoutTheProgramName)
{
    const char* argv[] = {"gatekeep", "-style", "Парола", nullptr};
    EXPECT_EQ(CopyArguments(3, argv), (QStringList{"-style", "Парола"}));
    EXPECT_TRUE(CommandLineHelp().contains("--create-system-db"));
}
