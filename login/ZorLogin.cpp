// The default login library of the suite: authenticates a suite user against the system
// database named by an alias and fills the login record with the database account of the
// user's class in the calling application.
#include "core/Aliases.h"
#include "core/LogInfo.h"
#include "core/Login.h"
#include "core/StoredText.h"

#include "db/Database.h"
#include "db/Error.h"
#include "db/Query.h"
#include "db/StoredProc.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QSysInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include <cstdio>
#include <cstring>

#define ZOR_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr int kTries = 3;

QStringList g_rights; // "application: class" of the last successful login

struct Session {
    QString serverName;  // SERVER NAME of the alias
    QString dbUser;      // the class's database account
    QString dbPassword;
    QString fullName;
    int userId = 0;
};

// Looks the user up with GET_LUNPW; throws db::Error with a reason the user may read.
Session Authenticate(const QString& alias, const QString& app, const QString& login, const QString& password)
{
    const QString driver = AliasDriver(alias);
    if (driver.isEmpty())
        throw db::Error(QStringLiteral("Няма настроен алиас \"%1\" (%2)").arg(alias, AliasFilePath()));
    db::Database d;
    d.setDriverName(driver);
    d.params() = AliasParams(alias);
    d.connect();

    db::StoredProc proc(&d, QStringLiteral("GET_LUNPW"));
    proc.setParam(QStringLiteral("FUNM"), EncodeStoredText(login));
    proc.setParam(QStringLiteral("FPW"), EncodeStoredText(password));
    proc.setParam(QStringLiteral("APPL_NM"), EncodeStoredText(app));
    proc.setParam(QStringLiteral("CDESCR"), LoginLogComment(app, qEnvironmentVariable("USER"), QSysInfo::machineHostName()));
    proc.execProc();
    // Stored forms are taken as they come: many of them begin with a space.
    const QString lun = proc.param(QStringLiteral("LUN")).toString();
    if (lun.isEmpty())
        throw db::Error(QStringLiteral("Грешно потребителско име или парола, или потребителят няма права в %1").arg(app));

    Session s;
    s.serverName = d.params().value(QStringLiteral("SERVER NAME"));
    s.dbUser = DecodeStoredText(lun);
    s.dbPassword = DecodeStoredText(proc.param(QStringLiteral("LPW")).toString());
    s.fullName = DecodeStoredText(proc.param(QStringLiteral("FURNM")).toString());
    s.userId = proc.param(QStringLiteral("USRID")).toInt();

    g_rights.clear();
    db::Query q(&d);
    q.setSql(QStringLiteral("select a.APL_NAME, c.CLASS_NM from LINKS l "
                            "join APPLICATIONS a on a.APL_ID = l.LNK_APLID "
                            "join CLASS c on c.CLASS_IDX = l.LNK_CLASS where l.LNK_USR = :u order by a.APL_ID"));
    q.setParam(QStringLiteral("u"), s.userId);
    for (q.open(); !q.eof(); q.next())
        g_rights << DecodeStoredText(q.field(0).asString()) + QStringLiteral(": ") + DecodeStoredText(q.field(1).asString());
    return s;
}

void Fill(TLogInfoRec& rec, const Session& s, const QString& login, const QString& password)
{
    SetShortString(rec.ServerName, s.serverName);
    SetShortString(rec.Location, s.serverName);
    SetShortString(rec.LoginName, s.dbUser);
    SetShortString(rec.Password, s.dbPassword);
    SetShortString(rec.Credential1, login);
    SetShortString(rec.Credential2, password);
    rec.RightsCount = static_cast<std::int32_t>(g_rights.size());
}

bool AskCredentials(const QString& app, QString& login, QString& password, const QString& error)
{
    QDialog dlg;
    dlg.setWindowTitle(QStringLiteral("Вход - %1").arg(app));
    auto* form = new QFormLayout(&dlg);
    if (!error.isEmpty()) {
        auto* message = new QLabel(error, &dlg);
        message->setWordWrap(true);
        message->setStyleSheet(QStringLiteral("color: #b00000"));
        form->addRow(message);
    }
    auto* name = new QLineEdit(login, &dlg);
    name->setObjectName(QStringLiteral("edLogin"));
    name->setMaxLength(25);
    auto* pass = new QLineEdit(&dlg);
    pass->setObjectName(QStringLiteral("edPassword"));
    pass->setEchoMode(QLineEdit::Password);
    pass->setMaxLength(25);
    form->addRow(QStringLiteral("Потребител:"), name);
    form->addRow(QStringLiteral("Парола:"), pass);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dlg);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Вход"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Отказ"));
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
    form->addRow(buttons);
    (login.isEmpty() ? name : pass)->setFocus();
    if (dlg.exec() != QDialog::Accepted)
        return false;
    login = name->text();
    password = pass->text();
    return true;
}

} // namespace

ZOR_EXPORT unsigned char ExternalLogin(void* /*owner*/, const char* appName, const char* aliasName, unsigned char flagA,
                                       unsigned char flagB, TLogInfoRec* rec)
{
    if (!rec || !appName || !aliasName)
        return 0;
    const QString app = QString::fromLocal8Bit(appName);
    const QString alias = QString::fromLocal8Bit(aliasName);
    QString login = ShortString(rec->LoginName);
    QString password = ShortString(rec->Password);
    const bool interactive = flagA || flagB;

    if (!interactive) {
        try {
            Fill(*rec, Authenticate(alias, app, login, password), login, password);
            return 1;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", db::errorMessage(e).toLocal8Bit().constData());
            return 0;
        }
    }
    QString error;
    for (int attempt = 0; attempt < kTries; ++attempt) {
        if (!AskCredentials(app, login, password, error))
            return 0;
        try {
            Fill(*rec, Authenticate(alias, app, login, password), login, password);
            return 1;
        } catch (const std::exception& e) {
            error = db::errorMessage(e);
        }
    }
    QMessageBox::critical(nullptr, app, error);
    return 0;
}

ZOR_EXPORT void GetUserRights(std::uint32_t* rightsList)
{
    if (!rightsList || !*rightsList)
        return;
    auto* entries = reinterpret_cast<unsigned char*>(static_cast<std::uintptr_t>(*rightsList));
    const auto count = *reinterpret_cast<const std::int32_t*>(entries - 4);
    for (int i = 0; i < count && i < g_rights.size(); ++i)
        SetShortStringAt(entries + static_cast<std::ptrdiff_t>(i) * kRightsEntrySize, kRightsEntrySize - 1, g_rights[i]);
}

ZOR_EXPORT void GetAppUsersList(std::uint32_t* /*usersList*/)
{
    // This library reports no application users (its count stays 0).
}

ZOR_EXPORT void SetClientNames(const char* /*name1*/, const char* /*name2*/) {}
