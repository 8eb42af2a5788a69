#pragma once

#include "core/Prompts.h"

// For runs without anyone at the screen (--screenshot, set-up actions): messages go to
// standard error and every question is declined.
class ConsolePrompts final : public Prompts {
public:
    void message(const QString& text, Icon icon) override;
    bool confirm(const QString& text, Icon icon, Answer defaultAnswer) override;
    Answer askYesNoCancel(const QString& text, Icon icon) override;
    bool inputText(const QString& caption, const QString& prompt, QString& value) override;
    QString openFile(const FileDialogOptions&) override { return {}; }
    QStringList openFiles(const FileDialogOptions&) override { return {}; }
    QString saveFile(const FileDialogOptions&) override { return {}; }
    QString chooseFolder(const QString&, const QString&) override { return {}; }
};
