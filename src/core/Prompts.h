#pragma once

#include <QString>
#include <QStringList>

// The file dialogs' settings. filter uses the "Description|*.ext|Other|*.*" form.
struct FileDialogOptions {
    QString title;
    QString filter;
    int filterIndex = 1;     // counts from 1
    QString defaultExt;      // without the dot
    QString initialDir;
    QString fileName;
    bool confirmOverwrite = true;
};

// Every message box, question, text input and file dialog of the program goes through here,
// so that windows can be driven by tests.
class Prompts {
public:
    enum class Icon { Information, Question, Warning, Error };
    enum class Answer { Yes, No, Cancel };

    virtual ~Prompts() = default;
    virtual void message(const QString& text, Icon icon = Icon::Information) = 0;
    // Yes / No. Destructive questions pass Answer::No, so that Enter does not destroy.
    virtual bool confirm(const QString& text, Icon icon = Icon::Question, Answer defaultAnswer = Answer::Yes) = 0;
    // Save / Discard / Cancel about edits that would be lost: Yes saves, No discards, Cancel (and
    // Esc) keeps everything as it is.
    virtual Answer askYesNoCancel(const QString& text, Icon icon = Icon::Question) = 0;
    // Returns false when cancelled; value holds the initial text and receives the answer.
    virtual bool inputText(const QString& caption, const QString& prompt, QString& value) = 0;
    virtual QString openFile(const FileDialogOptions& options) = 0;     // empty when cancelled
    virtual QStringList openFiles(const FileDialogOptions& options) = 0;
    virtual QString saveFile(const FileDialogOptions& options) = 0;
    virtual QString chooseFolder(const QString& title, const QString& initialDir) = 0;
};

// The program-wide instance: the one installed (the Qt prompts in the program, scripted ones in
// tests); without any, messages go to standard error and questions are declined.
Prompts& prompts();
// Installs p (not owned) and returns the previous one; nullptr restores the console fallback.
Prompts* setPrompts(Prompts* p);

// "Description|*.a;*.b|..." to Qt's "Description (*.a *.b);;..." form.
QString QtFileFilter(const QString& filter);
