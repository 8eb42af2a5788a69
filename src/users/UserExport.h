#pragma once

#include "ExportUsers.h"

#include "update/DBLists.h"

#include "db/Database.h"

#include <QObject>

class QAction;
class QComboBox;
class QPushButton;
class TDM;
class TfrmUserRights;

// The two exports of the users window: the XML user document from the grid's menu, and the
// text export with its list of databases for resolver data in the window's export strip.
class TUserExport : public QObject {
    Q_OBJECT
public:
    // Puts its controls into the window's export strip and grid menu and fills the database list.
    TUserExport(TfrmUserRights& window, TDM& dm);

    void ExportUsersXml();
    void ExportUsersText();

    QComboBox* cbAliases;
    QPushButton* sbExport;
    QAction* miExport;
    db::Database exportDb{QStringLiteral("ExportDB")}; // opened only while the text export runs

private:
    void FillDatabaseList();
    // Resolver data of the chosen database; false when the export is to end.
    bool ReadChosenResolverData(ResolverData& data, bool& have);

    TfrmUserRights& m_window;
    TDM& m_dm;
    TDBEntryList m_entries;
};
