// Runs the self-update check on a system database as the program does at login, with consent,
// printing every message it shows and how it ended. The tests kill it in the middle.
// Arguments: server path, user, password.
#include "core/DataModule.h"
#include "core/Prompts.h"
#include "core/SqlOps.h"
#include "maint/SelfUpdate.h"

#include <QApplication>

#include <cstdio>

namespace {

class ConsentingPrompts final : public Prompts {
public:
    void message(const QString& text, Icon) override { std::printf("message %s\n", text.toUtf8().constData()), std::fflush(stdout); }
    bool confirm(const QString&, Icon, Answer) override { return true; }
    Answer askYesNoCancel(const QString&, Icon) override { return Answer::Cancel; }
    bool inputText(const QString&, const QString&, QString&) override { return false; }
    QString openFile(const FileDialogOptions&) override { return {}; }
    QStringList openFiles(const FileDialogOptions&) override { return {}; }
    QString saveFile(const FileDialogOptions&) override { return {}; }
    QString chooseFolder(const QString&, const QString&) override { return {}; }
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4) {
        std::fprintf(stderr, "usage: selfupdate_runner SERVER USER PASSWORD\n");
        return 2;
    }
    ConsentingPrompts consent;
    setPrompts(&consent);
    try {
        TDM dm;
        SetStartupConnection(dm.db_Sys, args[2], args[3], args[1]);
        dm.db_Sys.connect();
        std::printf("connected\n"), std::fflush(stdout);
        const bool ok = SelfUpdateCheck(dm, args[1]);
        std::printf("%s\n", ok ? "done" : "failed"), std::fflush(stdout);
        return ok ? 0 : 1;
    } catch (const std::exception& e) {
        std::printf("message %s\n", e.what()), std::fflush(stdout);
        return 1;
    }
}
