#pragma once

#include "core/Prompts.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <deque>

// Prompts for tests: records what the program showed or asked, answers questions from a
// queue, and remembers every question that had no scripted answer. Installs itself while alive.
class ScriptedPrompts final : public Prompts {
public:
    struct Shown {
        QString kind;   // "message", "confirm", "yesNoCancel", "input", "openFile", "openFiles", "saveFile", "folder"
        QString text;
        Icon icon = Icon::Question;
        Answer defaultAnswer = Answer::Yes; // of a confirm
    };

    ScriptedPrompts();
    ~ScriptedPrompts() override;

    ScriptedPrompts& answerConfirm(bool yes);
    ScriptedPrompts& answerYesNoCancel(Answer a);
    ScriptedPrompts& answerText(const QString& text);  // accepted input
    ScriptedPrompts& cancelInput();
    ScriptedPrompts& answerFile(const QString& path);  // open, save or folder; empty cancels
    ScriptedPrompts& answerFiles(const QStringList& paths);

    QList<Shown> shown;
    QStringList unexpected;
    QStringList messages() const; // texts of plain messages, in order
    bool allAnswered() const { return m_replies.empty(); }

    void message(const QString& text, Icon icon) override;
    bool confirm(const QString& text, Icon icon, Answer defaultAnswer) override;
    Answer askYesNoCancel(const QString& text, Icon icon) override;
    bool inputText(const QString& caption, const QString& prompt, QString& value) override;
    QString openFile(const FileDialogOptions& options) override;
    QStringList openFiles(const FileDialogOptions& options) override;
    QString saveFile(const FileDialogOptions& options) override;
    QString chooseFolder(const QString& title, const QString& initialDir) override;

private:
    enum class Kind { Confirm, YesNoCancel, Text, File, Files };
    struct Reply {
        explicit Reply(Kind k, bool y = false) : kind(k), yes(y) {}
        Kind kind;
        bool yes = false;
        Answer answer = Answer::Cancel;
        bool accepted = false;
        QString text;
        QStringList files;
    };
    bool take(Kind kind, const QString& what, Reply& out);

    std::deque<Reply> m_replies;
    Prompts* m_previous = nullptr;
};
