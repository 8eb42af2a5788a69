#include "NewUser.h"

#include "core/Prompts.h"

#include "db/Cp1251.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRegularExpression>

#include <utility>

QString CollapseSpaces(const QString& text)
{
    static const QRegularExpression runs(QStringLiteral(" {2,}"));
    QString t = text;
    while (t.startsWith(QLatin1Char(' ')))
        t.remove(0, 1);
    while (t.endsWith(QLatin1Char(' ')))
        t.chop(1);
    return t.replace(runs, QStringLiteral(" "));
}

QString ProposeLoginName(const QString& fullName, const QString& current)
{
    const QStringList words = CollapseSpaces(fullName).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const QLocale locale;
    auto initial = [&](const QString& w) { return locale.toUpper(w.left(1)); };
    if (words.size() == 2)
        return initial(words[0]) + initial(words[1]) + locale.toLower(words[1].mid(1, 100));
    if (words.size() >= 3)
        return initial(words[0]) + initial(words[1]) + initial(words.last()) + locale.toLower(words.last().mid(1, 100));
    return current;
}

QString& TfrmNewUser::RememberedPassword()
{
    static QString password;
    return password;
}

std::function<int(TfrmNewUser&)>& TfrmNewUser::Runner()
{
    static std::function<int(TfrmNewUser&)> runner;
    return runner;
}

TfrmNewUser::TfrmNewUser(Mode mode, QWidget* parent, const QString& fullName, const QString& loginName)
    : QDialog(parent), m_mode(mode)
{
    setWindowTitle(QStringLiteral("Нов потребител"));
    auto field = [this](const char* name) {
        auto* e = new QLineEdit(this);
        e->setObjectName(QLatin1String(name));
        e->setMaxLength(25);
        e->setMinimumWidth(e->fontMetrics().averageCharWidth() * 30);
        e->installEventFilter(this);
        return e;
    };
    edRealName = field("edRealName");
    edUname = field("edUname");
    edPWD = field("edPWD");
    edPWD->setEchoMode(QLineEdit::Password);
    edPWD->setToolTip(QStringLiteral("Парола за достъп - минимум 3 символа"));
    edchkPwd = field("edchkPwd");
    edchkPwd->setEchoMode(QLineEdit::Password);
    edchkPwd->setToolTip(QStringLiteral("повтерние на паролата за проверка"));
    cbox_DoNotClearPassword = new QCheckBox(QStringLiteral("Не изчиствай паролата"), this);
    cbox_DoNotClearPassword->setChecked(true);
    sbOk = new QPushButton(QStringLiteral("Оk"), this);
    sbcancel = new QPushButton(QStringLiteral("Отказ"), this);
    sbOk->setAutoDefault(false);
    sbcancel->setAutoDefault(false);

    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("Истинско име :"), edRealName);
    form->addRow(QStringLiteral("Потребителско име :"), edUname);
    form->addRow(QStringLiteral("Парола :"), edPWD);
    form->addRow(QStringLiteral("Потвърждение"), edchkPwd);
    form->addRow(cbox_DoNotClearPassword);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(sbOk);
    buttons->addWidget(sbcancel);
    form->addRow(buttons);

    connect(sbOk, &QPushButton::clicked, this, &TfrmNewUser::Confirm);
    connect(sbcancel, &QPushButton::clicked, this, &QDialog::reject);

    if (mode == Mode::Password) {
        // The 25 characters are for new users; an existing name is shown whole, from its start.
        for (auto [e, text] : {std::pair{edRealName, fullName}, std::pair{edUname, loginName}}) {
            e->setMaxLength(32767);
            e->setText(text);
            e->setCursorPosition(0);
        }
        edRealName->setEnabled(false);
        edUname->setEnabled(false);
        edPWD->setFocus();
    } else {
        if (!RememberedPassword().isEmpty()) {
            edPWD->setText(RememberedPassword());
            edchkPwd->setText(RememberedPassword());
        }
        connect(edRealName, &QLineEdit::textChanged, this, [this](const QString& text) {
            edUname->setText(ProposeLoginName(text, edUname->text()));
        });
        edRealName->setFocus();
    }
}

QString TfrmNewUser::RealName() const { return CollapseSpaces(edRealName->text()); }
QString TfrmNewUser::LoginName() const { return CollapseSpaces(edUname->text()); }
QString TfrmNewUser::Password() const { return edPWD->text(); }

bool TfrmNewUser::Refuse(const QString& message, QLineEdit* field)
{
    prompts().message(message, Prompts::Icon::Warning);
    if (field->isEnabled())
        field->setFocus();
    return false;
}

bool TfrmNewUser::Confirm()
{
    if (edRealName->text().trimmed().size() <= 3)
        return Refuse(QStringLiteral("Късо истинско име!"), edRealName);
    if (edUname->text().trimmed().size() <= 2)
        return Refuse(QStringLiteral("Късо потребителско име!"), edUname);
    if (edPWD->text().trimmed().size() <= 2)
        return Refuse(QStringLiteral("Къса парола!"), edPWD);
    if (edPWD->text().trimmed() != edchkPwd->text().trimmed())
        return Refuse(QStringLiteral("разлика в паролите!"), edchkPwd);
    // A character the database's code page cannot hold would be stored as something else.
    for (QLineEdit* e : {edRealName, edUname, edPWD}) {
        QByteArray bytes;
        QChar bad;
        if (!cp1251::tryEncode(e->text(), bytes, &bad))
            return Refuse(QStringLiteral("Знакът \"%1\" не може да бъде записан в базата данни!").arg(bad), e);
    }
    RememberedPassword() = cbox_DoNotClearPassword->isChecked() ? edPWD->text() : QString();
    accept();
    return true;
}

bool TfrmNewUser::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress)
        return QDialog::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Escape) {
        reject();
        return true;
    }
    if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter)
        return QDialog::eventFilter(watched, event);
    if (watched == edchkPwd) {
        Confirm();
        return true;
    }
    const bool allFilled = !edRealName->text().isEmpty() && !edUname->text().isEmpty() && !edPWD->text().isEmpty() &&
                           !edchkPwd->text().isEmpty();
    if (allFilled)
        Confirm();
    else
        focusNextChild();
    return true;
}
