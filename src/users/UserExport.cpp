#include "UserExport.h"

#include "ExportText.h"
#include "UserRights.h"

#include "core/Aliases.h"
#include "core/BuiltIn.h"
#include "core/DataModule.h"
#include "core/Prompts.h"

#include "db/Error.h"

#include <QAction>
#include <QComboBox>
#include <QHBoxLayout>
#include <QMenu>
#include <QPushButton>

#include <algorithm>

namespace Text = ExportText;

namespace {

// What an item of the database list carries besides a configured entry's position.
constexpr int kNoDatabase = -2;
constexpr int kAlias = -1;

void reportError(const std::exception& e) { prompts().message(Text::ErrorPrefix + db::errorMessage(e), Prompts::Icon::Error); }

// The alias file names the Firebird driver in each of the spellings the connection layer takes.
bool isFirebirdDriver(const QString& driver)
{
    try {
        return db::Database::kindOfDriver(driver) == db::Connection::Kind::Firebird;
    } catch (const db::Error&) {
        return false;
    }
}

// The file to write, or empty when the dialog was cancelled.
QString askFileName(const QString& title, const QString& filter, const QString& defaultExt, bool confirmOverwrite)
{
    FileDialogOptions options;
    options.title = title;
    options.filter = filter;
    options.defaultExt = defaultExt;
    options.confirmOverwrite = confirmOverwrite;
    return prompts().saveFile(options);
}

// The export connection is closed when the export ends, however it ends.
struct Disconnect {
    db::Database& db;
    ~Disconnect() { db.disconnect(); }
};

} // namespace

TUserExport::TUserExport(TfrmUserRights& window, TDM& dm) : QObject(&window), m_window(window), m_dm(dm)
{
    auto* strip = new QHBoxLayout(window.pnlExport);
    strip->setContentsMargins(0, 0, 0, 0);
    cbAliases = new QComboBox(window.pnlExport);
    cbAliases->setObjectName(QStringLiteral("cbAliases"));
    cbAliases->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    cbAliases->setMinimumContentsLength(24);
    sbExport = new QPushButton(Text::Button, window.pnlExport);
    sbExport->setObjectName(QStringLiteral("sbExport"));
    sbExport->setToolTip(Text::ButtonHint);
    sbExport->setAutoDefault(false);
    strip->addWidget(cbAliases, 1);
    strip->addWidget(sbExport);
    miExport = window.gridMenu->addAction(Text::MenuItem);
    miExport->setObjectName(QStringLiteral("miExport"));
    connect(sbExport, &QPushButton::clicked, this, &TUserExport::ExportUsersText);
    connect(miExport, &QAction::triggered, this, &TUserExport::ExportUsersXml);
    FillDatabaseList();
}

void TUserExport::FillDatabaseList()
{
    QList<QPair<QString, int>> items; // text, and the entry's position or kAlias
    try {
        for (const QString& alias : AliasNames())
            if (isFirebirdDriver(AliasDriver(alias)))
                items.append({Text::AliasPrefix + alias, kAlias});
    } catch (const std::exception& e) {
        prompts().message(Text::AliasesFailed + db::errorMessage(e), Prompts::Icon::Error);
    }
    try {
        ClearDBEntries(m_entries);
        LoadAllDBEntries(m_entries);
    } catch (const std::exception& e) {
        ClearDBEntries(m_entries);
        reportError(e);
    }
    for (qsizetype i = 0; i < m_entries.size(); ++i)
        items.append({QStringLiteral("%1 (%2)").arg(m_entries[i].Caption, m_entries[i].DBN), static_cast<int>(i)});
    std::stable_sort(items.begin(), items.end(), [](const auto& a, const auto& b) { return a.first.compare(b.first, Qt::CaseInsensitive) < 0; });
    cbAliases->clear();
    cbAliases->addItem(QString(), kNoDatabase); // blank, first: an export without resolver data
    for (const auto& [text, entry] : items)
        cbAliases->addItem(text, entry);
    cbAliases->setCurrentIndex(0);
}

void TUserExport::ExportUsersXml()
{
    if (m_window.tblUsers.isEmpty())
        return;
    const QString path = askFileName(Text::XmlTitle, Text::XmlFilter, QStringLiteral("xml"), true);
    if (path.isEmpty())
        return;
    const bool forHub = prompts().confirm(Text::ForHub, Prompts::Icon::Question, Prompts::Answer::Yes);
    try {
        WriteExportFile(path, UsersXmlDocument(m_dm.db_Sys, forHub));
    } catch (const std::exception& e) {
        reportError(e);
    }
}

bool TUserExport::ReadChosenResolverData(ResolverData& data, bool& have)
{
    have = false;
    const int chosen = cbAliases->currentData().toInt();
    if (cbAliases->currentIndex() < 0 || chosen == kNoDatabase)
        return true;
    exportDb.params().clear();
    if (chosen == kAlias) {
        exportDb.setDriverName(QString());
        exportDb.setAliasName(cbAliases->currentText().mid(Text::AliasPrefix.size()));
    } else {
        const TDBEntry& entry = m_entries.at(chosen);
        exportDb.setDriverName(QStringLiteral("INTRBASE"));
        exportDb.params().setValue(QStringLiteral("SERVER NAME"), ServerPath(entry.ServIP, entry.BaseName));
    }
    AddBuiltInCredentials(exportDb.params());
    try {
        exportDb.connect();
    } catch (const std::exception& e) {
        prompts().message(Text::ConnectFailed + db::errorMessage(e), Prompts::Icon::Error);
        return true;
    }
    try {
        data = ReadResolverData(exportDb);
        have = true;
    } catch (const std::exception&) {
        return prompts().confirm(Text::NoResolverData, Prompts::Icon::Question, Prompts::Answer::Yes);
    }
    return true;
}

void TUserExport::ExportUsersText()
{
    exportDb.disconnect();
    Disconnect closeAtEnd{exportDb};
    ResolverData resolvers;
    bool haveResolvers = false;
    if (!ReadChosenResolverData(resolvers, haveResolvers))
        return;

    const QString path = askFileName(Text::TextTitle, Text::TextFilter, QStringLiteral("txt"), false);
    if (path.isEmpty())
        return;

    TMemDataSet& list = m_window.tblUsers;
    const int id = list.fieldIndex(QStringLiteral("USER_ID"));
    const int login = list.fieldIndex(QStringLiteral("USER_FNM"));
    const int name = list.fieldIndex(QStringLiteral("USER_RNM"));
    QList<ExportListUser> users;
    users.reserve(list.recordCount());
    for (int row = 0; row < list.recordCount(); ++row)
        users.append({list.valueAt(row, id).toInt(), list.textAt(row, login), list.textAt(row, name)});
    try {
        WriteExportFile(path, UsersTextDocument(m_dm.db_Sys, users, haveResolvers ? &resolvers : nullptr));
    } catch (const std::exception& e) {
        reportError(e);
        return;
    }
    exportDb.disconnect();
    list.last();
}
