#pragma once

#include <QDialog>

#include <functional>

class QCheckBox;
class QLineEdit;
class QPushButton;

// CollapseSpaces: no spaces at either end, one space between words.
QString CollapseSpaces(const QString& text);
// The login name a full name suggests: initials and the rest of the family name.
QString ProposeLoginName(const QString& fullName, const QString& current);

// "Нов потребител": a new user's full name, login name and password, or (password mode) a
// new password for a given user.
class TfrmNewUser : public QDialog {
    Q_OBJECT
public:
    enum class Mode { NewUser, Password };
    TfrmNewUser(Mode mode, QWidget* parent = nullptr, const QString& fullName = {}, const QString& loginName = {});

    // The results after OK.
    QString RealName() const;
    QString LoginName() const;
    QString Password() const; // exactly as typed

    // Runs the checks; on success remembers the password as asked and closes with OK.
    bool Confirm();

    // The password remembered between uses of the dialog, for the whole run of the program.
    static QString& RememberedPassword();
    // How the dialog is run: exec() unless a test drives it.
    static std::function<int(TfrmNewUser&)>& Runner();
    int run() { return Runner() ? Runner()(*this) : exec(); }

    QLineEdit* edRealName;
    QLineEdit* edUname;
    QLineEdit* edPWD;
    QLineEdit* edchkPwd;
    QCheckBox* cbox_DoNotClearPassword;
    QPushButton* sbOk;
    QPushButton* sbcancel;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool Refuse(const QString& message, QLineEdit* field);
    Mode m_mode;
};
