#include "QtPrompts.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>

#include <algorithm>

namespace {

QWidget* owner() { return QApplication::activeWindow(); }

QString selectedFilter(const FileDialogOptions& o)
{
    const QStringList qt = QtFileFilter(o.filter).split(QStringLiteral(";;"));
    return o.filterIndex >= 1 && o.filterIndex <= qt.size() ? qt[o.filterIndex - 1] : QString();
}

QString startPath(const FileDialogOptions& o)
{
    if (o.fileName.isEmpty())
        return o.initialDir;
    return o.initialDir.isEmpty() ? o.fileName : o.initialDir + QLatin1Char('/') + o.fileName;
}

QMessageBox::Icon boxIcon(Prompts::Icon icon)
{
    switch (icon) {
    case Prompts::Icon::Error: return QMessageBox::Critical;
    case Prompts::Icon::Warning: return QMessageBox::Warning;
    case Prompts::Icon::Question: return QMessageBox::Question;
    default: return QMessageBox::Information;
    }
}

QMessageBox::StandardButton ask(const QString& text, QMessageBox::StandardButtons buttons, Prompts::Icon icon,
                                Prompts::Answer defaultAnswer)
{
    QMessageBox box(boxIcon(icon), QApplication::applicationDisplayName(), text, buttons, owner());
    if (auto* b = box.button(QMessageBox::Yes))
        b->setText(QtPromptsText::Yes);
    if (auto* b = box.button(QMessageBox::No))
        b->setText(QtPromptsText::No);
    if (auto* b = box.button(QMessageBox::Cancel))
        b->setText(QtPromptsText::Cancel);
    const auto def = defaultAnswer == Prompts::Answer::No       ? QMessageBox::No
                      : defaultAnswer == Prompts::Answer::Cancel ? QMessageBox::Cancel
                                                                 : QMessageBox::Yes;
    // Enter presses the button that has the focus: the default answer must hold it, or Enter
    // on a destructive question destroys.
    if (auto* b = qobject_cast<QPushButton*>(box.button(def))) {
        box.setDefaultButton(b);
        b->setFocus(Qt::OtherFocusReason);
    }
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

// Wide enough for its whole caption (window frames cut a long title) and its prompt, yet never
// wider than the screen. The box sizes itself to its contents, so the width goes to its field.
void fitInputBox(QInputDialog& dlg, const QString& caption, const QString& prompt)
{
    const QFontMetrics fm(dlg.font());
    // The title bar's own buttons and margins take roughly this much beside the caption.
    constexpr int kTitleBarExtra = 160;
    int wanted = fm.horizontalAdvance(caption) + kTitleBarExtra;
    for (const QString& line : prompt.split(QLatin1Char('\n')))
        wanted = std::max(wanted, fm.horizontalAdvance(line) + 40);
    wanted = std::max(wanted, 320);
    if (const QScreen* screen = dlg.screen())
        wanted = std::min(wanted, screen->availableGeometry().width());
    auto* field = dlg.findChild<QLineEdit*>();
    if (!field)
        return;
    const QMargins m = dlg.layout() ? dlg.layout()->contentsMargins() : QMargins();
    field->setMinimumWidth(std::max(0, wanted - m.left() - m.right()));
}

} // namespace

void QtPrompts::message(const QString& text, Icon icon)
{
    QMessageBox box(boxIcon(icon), QApplication::applicationDisplayName(), text, QMessageBox::Ok, owner());
    box.exec();
}

bool QtPrompts::confirm(const QString& text, Icon icon, Answer defaultAnswer)
{
    return ask(text, QMessageBox::Yes | QMessageBox::No, icon, defaultAnswer) == QMessageBox::Yes;
}

Prompts::Answer QtPrompts::askYesNoCancel(const QString& text, Icon icon)
{
    // With a Cancel button, Esc and the box's close button give Cancel.
    switch (ask(text, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, icon, Answer::Yes)) {
    case QMessageBox::Yes: return Answer::Yes;
    case QMessageBox::No: return Answer::No;
    default: return Answer::Cancel;
    }
}

bool QtPrompts::inputText(const QString& caption, const QString& prompt, QString& value)
{
    QInputDialog dlg(owner());
    dlg.setWindowTitle(caption);
    dlg.setLabelText(prompt);
    dlg.setTextValue(value);
    // The same words as the question boxes.
    dlg.setOkButtonText(QtPromptsText::Accept);
    dlg.setCancelButtonText(QtPromptsText::Cancel);
    fitInputBox(dlg, caption, prompt);
    if (dlg.exec() != QDialog::Accepted)
        return false;
    value = dlg.textValue();
    return true;
}

QString QtPrompts::openFile(const FileDialogOptions& o)
{
    QString selected = selectedFilter(o);
    return QFileDialog::getOpenFileName(owner(), o.title, startPath(o), QtFileFilter(o.filter), &selected);
}

QStringList QtPrompts::openFiles(const FileDialogOptions& o)
{
    QString selected = selectedFilter(o);
    return QFileDialog::getOpenFileNames(owner(), o.title, startPath(o), QtFileFilter(o.filter), &selected);
}

QString QtPrompts::saveFile(const FileDialogOptions& o)
{
    QFileDialog dlg(owner(), o.title, startPath(o), QtFileFilter(o.filter));
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setDefaultSuffix(o.defaultExt);
    if (!o.confirmOverwrite)
        dlg.setOption(QFileDialog::DontConfirmOverwrite);
    const QString sel = selectedFilter(o);
    if (!sel.isEmpty())
        dlg.selectNameFilter(sel);
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return {};
    return dlg.selectedFiles().first();
}

QString QtPrompts::chooseFolder(const QString& title, const QString& initialDir)
{
    return QFileDialog::getExistingDirectory(owner(), title, initialDir);
}
