#pragma once

// The fixture of the bulk windows' tests.
#include "support/AppDatabases.h"
#include "support/ScriptedPrompts.h"
#include "support/Sql.h"
#include "support/TestEnv.h"

#include "bulk/ImportCommand.h"
#include "bulk/ImportText.h"
#include "bulk/Import_u.h"
#include "core/DataModule.h"
#include "core/LogInfo.h"
#include "core/SqlOps.h"
#include "core/StoredText.h"
#include "db/Cp1251.h"
#include "maint/Demo.h"
#include "update/SelectDBPaths.h"
#include "users/UserRights.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTextStream>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace Text = ImportText;

namespace {

const QString kSysLocation = QStringLiteral("srv:/db/sys.fdb");

QString lit(const QString& text) { return QLatin1Char('\'') + QString(text).replace(QLatin1Char('\''), QStringLiteral("''")) + QLatin1Char('\''); }

struct StoredUser {
    int id;
    QString login, password, name, domain;
    bool operator==(const StoredUser&) const = default;
};
[[maybe_unused]] void PrintTo(const StoredUser& u, std::ostream* os)
{
    *os << "(" << u.id << "," << u.login.toStdString() << "," << u.password.toStdString() << "," << u.name.toStdString() << ","
        << u.domain.toStdString() << ")";
}

struct Link {
    int user, apl, cls;
    bool operator==(const Link&) const = default;
};
void PrintTo(const Link& l, std::ostream* os) { *os << "(" << l.user << "," << l.apl << "," << l.cls << ")"; }

} // namespace

// A system database with this program's application and Mod02 ("Деловодство") with two
// classes, whose databases the tests configure on the Firebird server.
class BulkFixture : public testing::Test {
protected:
    void SetUp() override
    {
        qputenv("GATEKEEP_ZORCFG", m_tmp.path(QStringLiteral("ZorCfg.ini")).toUtf8());
        qputenv("GATEKEEP_ALIASES", m_tmp.path(QStringLiteral("aliases.ini")).toUtf8());
        std::memset(&LogInfo(), 0, sizeof(TLogInfoRec));
        SetShortString(LogInfo().Location, kSysLocation);
        const QString path = m_tmp.path(QStringLiteral("sys.fdb"));
        CreateCurrentSystemDatabase(path, QStringLiteral("SYSCREAT"), QString());
        SetStartupConnection(m_dm.db_Sys, QStringLiteral("SYSCREAT"), QString(), path);
        m_dm.db_Sys.connect();
        m_accounts = std::make_unique<ProvisionAccounts>();
        TfrmSelectDBPaths::Runner() = [](TfrmSelectDBPaths&) { return int(QDialog::Accepted); };

        // The first row is this program's own application, which the window does not offer.
        addApp(QStringLiteral("Gatekeep"), QString(), QString());
        // The application logs in to its databases with the server's maintenance account.
        m_mod02 = addApp(QStringLiteral("Mod02"), ProvisionAccounts::maintenanceUser(), ProvisionAccounts::maintenancePassword());
        m_reader = addClass(m_mod02, QStringLiteral("Четец"));
        m_writer = addClass(m_mod02, QStringLiteral("Писар"));
    }
    void TearDown() override
    {
        TfrmSelectDBPaths::Runner() = nullptr;
        qunsetenv("GATEKEEP_ZORCFG");
        qunsetenv("GATEKEEP_ALIASES");
        std::memset(&LogInfo(), 0, sizeof(TLogInfoRec));
    }

    void exec(const QString& sql) { execSql(m_dm.db_Sys, sql); }
    QVariant scalar(const QString& sql) { return scalarOf(m_dm.db_Sys, sql); }

    int addApp(const QString& name, const QString& user, const QString& password)
    {
        exec(QStringLiteral("insert into applications (apl_name, apl_state, gdb_uname, gdb_pasw, gdb_proc) values (%1, 'Active', %2, %3, %4)")
                 .arg(lit(EncodeStoredText(name)), lit(EncodeStoredText(user)), lit(EncodeStoredText(password)),
                      lit(EncodeStoredText(QStringLiteral("ADD_USER")))));
        return scalar(QStringLiteral("select apl_id from applications where apl_name = %1").arg(lit(EncodeStoredText(name)))).toInt();
    }
    int addClass(int aplId, const QString& name)
    {
        const int idx = ++m_lastClass;
        exec(QStringLiteral("insert into class (class_idx, class_aplidx, class_nm, class_pw) values (%1, %2, %3, '')")
                 .arg(idx)
                 .arg(aplId)
                 .arg(lit(EncodeStoredText(name))));
        return idx;
    }
    int addUser(const QString& login, const QString& name, int id = 0, const QString& domain = {})
    {
        exec(QStringLiteral("insert into users (user_id, user_fnm, user_fpw, user_rnm, user_domainuser) values (%1, %2, %3, %4, %5)")
                 .arg(id ? QString::number(id) : QStringLiteral("null"), lit(EncodeStoredText(login)),
                      lit(EncodeStoredText(QStringLiteral("pw"))), lit(EncodeStoredText(name)),
                      domain.isEmpty() ? QStringLiteral("null") : lit(domain)));
        return id ? id : scalar(QStringLiteral("select max(user_id) from users")).toInt();
    }
    void link(int user, int apl, int cls) { exec(QStringLiteral("insert into links values (%1, %2, %3)").arg(user).arg(apl).arg(cls)); }

    QList<StoredUser> users()
    {
        QList<StoredUser> out;
        db::Query q(&m_dm.db_Sys);
        q.setSql(QStringLiteral("select user_id, user_fnm, user_fpw, user_rnm, user_domainuser from users order by 1"));
        for (q.open(); !q.eof(); q.next())
            out.append({q.field(0).asInteger(), DecodeStoredText(q.field(1).asString()), DecodeStoredText(q.field(2).asString()),
                        DecodeStoredText(q.field(3).asString()), q.field(4).asString()});
        return out;
    }
    // The user with that login name, or an empty one.
    StoredUser user(const QString& login)
    {
        for (const StoredUser& u : users())
            if (u.login == login)
                return u;
        return {};
    }
    QList<Link> links()
    {
        QList<Link> out;
        db::Query q(&m_dm.db_Sys);
        q.setSql(QStringLiteral("select lnk_usr, lnk_aplid, lnk_class from links order by 1, 2, 3"));
        for (q.open(); !q.eof(); q.next())
            out.append({q.field(0).asInteger(), q.field(1).asInteger(), q.field(2).asInteger()});
        return out;
    }

    // The section's databases in ZorCfg.ini: host:path on a server, or a local path.
    void configure(const QString& section, const QStringList& connTexts)
    {
        QByteArray ini = "[" + section.toUtf8() + "]\nNumber=" + QByteArray::number(connTexts.size()) + "\n";
        for (int i = 0; i < connTexts.size(); ++i) {
            const QString n = QString::number(i + 1);
            const qsizetype colon = connTexts[i].indexOf(QLatin1Char(':'));
            ini += QStringLiteral("DBN%1=db%1\nCaption%1=База %1\nServIP%1=%2\nBaseName%1=%3\nsysBaseName%1=%4\n")
                       .arg(n, colon < 0 ? QString() : connTexts[i].left(colon), connTexts[i].mid(colon + 1), kSysLocation)
                       .toUtf8();
        }
        QFile f(m_tmp.path(QStringLiteral("ZorCfg.ini")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(ini);
    }
    FbAppDatabase& serverAppDatabase(AppProcedure kind = AppProcedure::Recording)
    {
        m_appDbs.push_back(std::make_unique<FbAppDatabase>(kind));
        configure(QStringLiteral("Mod02"), {m_appDbs.back()->serverName()});
        return *m_appDbs.back();
    }

    QString writeFile(const QString& name, const QByteArray& bytes) { return m_tmp.write(name, bytes); }

    std::unique_ptr<TfrmImport> open()
    {
        m_apps = BuildApplicationTable(m_dm.db_Sys);
        auto w = std::make_unique<TfrmImport>(m_dm, m_apps);
        w->show();
        return w;
    }
    static void chooseApplication(TfrmImport& w, const QString& caption)
    {
        const int i = w.cb_Programs->findText(caption);
        ASSERT_GE(i, 0) << caption.toStdString();
        w.cb_Programs->setCurrentIndex(i);
    }
    static QStringList log(TfrmImport& w) { return w.LogMsg->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts); }

    // Loads the text and imports it, answering the confirmation.
    void importText(TfrmImport& w, const QString& path)
    {
        w.LoadFile(path);
        m_prompts.answerConfirm(true);
        w.btn_SaveClick();
        finishRun(w);
    }
    // The window's run goes on from the event loop: waits for its end.
    static void finishRun(TfrmImport& w) { ASSERT_TRUE(QTest::qWaitFor([&w] { return !w.running(); }, 120000)); }

    TempDir m_tmp;
    TDM m_dm;
    ScriptedPrompts m_prompts;
    std::unique_ptr<ProvisionAccounts> m_accounts;
    ApplicationTable m_apps;
    std::vector<std::unique_ptr<FbAppDatabase>> m_appDbs;
    int m_lastClass = 100;
    int m_mod02 = 0, m_reader = 0, m_writer = 0;
};

