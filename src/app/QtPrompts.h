#pragma once

#include "core/Prompts.h"

namespace QtPromptsText {
inline const QString Yes = QStringLiteral("Да");
inline const QString No = QStringLiteral("Не");
inline const QString Cancel = QStringLiteral("Отказ");
inline const QString Accept = Yes; // the input box's OK
} // namespace QtPromptsText

class QtPrompts final : public Prompts {
public:
    void message(const QString& text, Icon icon) override;
    bool confirm(const QString& text, Icon icon, Answer defaultAnswer) override;
    Answer askYesNoCancel(const QString& text, Icon icon) override;
    bool inputText(const QString& caption, const QString& prompt, QString& value) override;
    QString openFile(const FileDialogOptions& options) override;
    QStringList openFiles(const FileDialogOptions& options) override;
    QString saveFile(const FileDialogOptions& options) override;
    QString chooseFolder(const QString& title, const QString& initialDir) override;
};
