// The command line of unattended script runs: what is an option and what a login.
#include "core/CommandLine.h"

#include <gtest/gtest.h>

using Action = CommandLine::Action;

namespace {
struct Case {
    const char* name;
    QStringList args;
    Action action;
    QStringList scripts = {};
    QString server = {};
    QString alias = {};
    QString database = {};
    QStringList login = {};
    bool refused = false;
};
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }
} // namespace

class ScriptCommandLineTest : public testing::TestWithParam<Case> {};

TEST_P(ScriptCommandLineTest, ParsesTheScriptsTheTargetAndTheLogin)
{
    const Case& c = GetParam();
    const CommandLine cl = ParseCommandLine(c.args);
    EXPECT_EQ(!cl.error.isEmpty(), c.refused) << cl.error.toStdString();
    if (c.refused)
        return;
    EXPECT_EQ(cl.action, c.action);
    EXPECT_EQ(cl.scripts, c.scripts);
    EXPECT_EQ(cl.server, c.server);
    EXPECT_EQ(cl.alias, c.alias);
    EXPECT_EQ(cl.database, c.database);
    EXPECT_EQ(cl.login, c.login);
    EXPECT_EQ(cl.needsWindows(), c.action == Action::Login);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, ScriptCommandLineTest,
    testing::Values(
        Case{"apply_one", {"--apply", "upd001.sql"}, Action::Apply, {"upd001.sql"}},
        Case{"apply_several_in_given_order", {"--apply", "b.sql", "--apply", "A.sql"}, Action::Apply, {"b.sql", "A.sql"}},
        Case{"apply_to_server", {"--apply", "u.sql", "--server", "db:/x.fdb"}, Action::Apply, {"u.sql"}, "db:/x.fdb"},
        Case{"apply_to_alias", {"--apply=u.sql", "--alias", "data_db"}, Action::Apply, {"u.sql"}, {}, "data_db"},
        Case{"apply_named_database_with_login", {"--apply", "u.sql", "--database", "pay", "admin", "-pw"}, Action::Apply,
             {"u.sql"}, {}, {}, "pay", {"admin", "-pw"}},
        Case{"preview", {"--preview", "u.sql", "--server", "/db/x.fdb"}, Action::Preview, {"u.sql"}, "/db/x.fdb"},
        Case{"login_that_looks_like_an_option", {"--apply", "u.sql", "--", "--server", "x"}, Action::Apply, {"u.sql"}, {}, {}, {},
             {"--server", "x"}},
        Case{"apply_and_preview", {"--apply", "u.sql", "--preview", "u.sql"}, Action::Apply, {}, {}, {}, {}, {}, true},
        Case{"two_targets", {"--apply", "u.sql", "--server", "x", "--alias", "y"}, Action::Apply, {}, {}, {}, {}, {}, true},
        Case{"target_without_scripts", {"--create-demo", "d", "--server", "x"}, Action::CreateDemo, {}, {}, {}, {}, {}, true},
        Case{"half_a_login", {"--apply", "u.sql", "admin"}, Action::Apply, {}, {}, {}, {}, {}, true},
        Case{"scripts_after_one_apply", {"--apply", "a.sql", "b.sql", "C.SQL"}, Action::Apply, {}, {}, {}, {}, {}, true},
        Case{"a_script_as_the_password", {"--preview", "a.sql", "admin", "b.sql"}, Action::Preview, {}, {}, {}, {}, {}, true},
        Case{"three_words_of_login", {"--apply", "u.sql", "admin", "secret", "more"}, Action::Apply, {}, {}, {}, {}, {}, true},
        Case{"target_as_a_login_is_no_option", {"ivan", "--server"}, Action::Login, {}, {}, {}, {}, {"ivan", "--server"}}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });
