// The rights part of the users window: the applications list of the current user, editing it,
// saving it, provisioning the applications' databases and their user libraries.
#include "UserRights.h"

#include "UserLibrary.h"
#include "UserRightsText.h"

#include "core/DataModule.h"
#include "core/LogInfo.h"
#include "core/Prompts.h"
#include "core/StoredText.h"
#include "dbman/Provision.h"
#include "update/SelectDBPaths.h"

#include "db/Error.h"
#include "db/Query.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QProgressDialog>
#include <QPushButton>
#include <QScrollBar>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace Text = UserRightsText;

namespace {

constexpr int kClassIdxRole = Qt::UserRole;

void setRowClass(QTreeWidgetItem* item, const ClassEntry* c)
{
    item->setText(1, c ? c->ClassName : QString());
    item->setData(1, kClassIdxRole, c ? QVariant(c->ClassIdx) : QVariant());
    item->setToolTip(1, c && c->FullName != c->ClassName ? c->FullName : QString());
}

bool ticked(const QTreeWidgetItem* item) { return item->checkState(0) == Qt::Checked; }

std::optional<int> rowClass(const QTreeWidgetItem* item)
{
    const QVariant v = item->data(1, kClassIdxRole);
    return v.isValid() ? std::optional<int>(v.toInt()) : std::nullopt;
}

} // namespace

void TfrmUserRights::BuildRightsList(QWidget* parent)
{
    auto* layout = new QVBoxLayout(parent);
    lv = new QTreeWidget(parent);
    lv->setObjectName(QStringLiteral("lv"));
    lv->setHeaderLabels({Text::ColApplication, Text::ColClass});
    lv->setRootIsDecorated(false);
    lv->setSelectionMode(QAbstractItemView::SingleSelection);
    lv->header()->setSectionResizeMode(0, QHeaderView::Interactive);
    lv->setColumnWidth(0, 260);
    layout->addWidget(lv, 1);

    cbClass = new QComboBox(lv->viewport());
    cbClass->setObjectName(QStringLiteral("cbClass"));
    cbClass->hide();

    auto* row = new QHBoxLayout;
    SpeedButton1 = new QPushButton(Text::Import, parent);
    SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
    Button1 = new QPushButton(Text::AutoRights, parent);
    Button1->setObjectName(QStringLiteral("Button1"));
    // Their windows live in a folder above this one, which installs them.
    SpeedButton1->setEnabled(bool(ImportWindow()));
    Button1->setEnabled(bool(AutoRightsWindow()));
    connect(SpeedButton1, &QPushButton::clicked, this, [this] {
        if (ImportWindow())
            ImportWindow()(*this);
    });
    connect(Button1, &QPushButton::clicked, this, [this] {
        if (AutoRightsWindow())
            AutoRightsWindow()(*this);
    });
    row->addWidget(SpeedButton1);
    row->addWidget(Button1);
    row->addStretch();
    layout->addLayout(row);

    connect(lv, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* current) { RightsRowSelected(current); });
    connect(lv, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int column) {
        if (column == 0)
            RowTicked(item);
    });
    connect(lv, &QTreeWidget::itemDoubleClicked, this, [this] { RunSelectedUserLibrary(); });
    connect(cbClass, &QComboBox::activated, this, &TfrmUserRights::ClassChosen);
    // The chooser stays over its row when the list scrolls or its columns change.
    connect(lv->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { ShowChooser(); });
    connect(lv->horizontalScrollBar(), &QScrollBar::valueChanged, this, [this] { ShowChooser(); });
    connect(lv->header(), &QHeaderView::sectionResized, this, [this] { ShowChooser(); });
    lv->viewport()->installEventFilter(this); // and when the list itself changes size
}

void TfrmUserRights::BuildApplicationList()
{
    m_loadingRights = true;
    lv->clear();
    m_editRow = -1;
    try {
        m_apps = BuildApplicationTable(m_dm.db_Sys);
    } catch (const std::exception& e) {
        m_apps = ApplicationTable();
        m_loadingRights = false;
        ReportError(e);
        return;
    }
    for (int i = 0; i < m_apps.count; ++i) {
        auto* item = new QTreeWidgetItem(lv, {m_apps.entries[i].caption(), QString()});
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(0, Qt::Unchecked);
    }
    m_loadingRights = false;
    QStringList notes;
    if (!m_apps.refusedApplications.isEmpty())
        notes << Text::TooManyApplications + m_apps.refusedApplications.join(QStringLiteral(", "));
    if (!m_apps.appsWithSurplusClasses.isEmpty())
        notes << Text::TooManyClasses + m_apps.appsWithSurplusClasses.join(QStringLiteral(", "));
    if (!notes.isEmpty())
        prompts().message(notes.join(QLatin1Char('\r')), Prompts::Icon::Warning);
}

int TfrmUserRights::rowOfApplication(int aplId) const { return m_apps.indexOfAplId(aplId); }

void TfrmUserRights::ShowRights(const UserRightsMap& rights)
{
    m_loadingRights = true;
    cbClass->hide();
    m_editRow = -1;
    lv->setCurrentItem(nullptr);
    for (int i = 0; i < lv->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = lv->topLevelItem(i);
        item->setCheckState(0, Qt::Unchecked);
        setRowClass(item, nullptr);
    }
    for (auto it = rights.cbegin(); it != rights.cend(); ++it) {
        const int row = rowOfApplication(it.key());
        if (row < 0)
            continue; // an application the list does not show
        QTreeWidgetItem* item = lv->topLevelItem(row);
        item->setCheckState(0, Qt::Checked);
        // A class the list does not know leaves the row ticked without a class; a save keeps it.
        setRowClass(item, m_apps.entries[row].classByIdx(it.value()));
    }
    m_loadingRights = false;
}

void TfrmUserRights::ReloadRights()
{
    const int user = currentUserId();
    m_loadedRights.clear();
    try {
        if (user > 0)
            m_loadedRights = LoadUserRights(m_dm.db_Sys, user);
    } catch (const std::exception& e) {
        ReportError(e);
    }
    ShowRights(m_loadedRights);
    m_modified = false;
}

void TfrmUserRights::ReloadRightsKeeping(const QList<RightChange>& changes)
{
    ReloadRights();
    UserRightsMap shown = m_loadedRights;
    for (const RightChange& c : changes) {
        if (c.after)
            shown.insert(c.aplId, *c.after);
        else
            shown.remove(c.aplId);
    }
    ShowRights(shown);
    m_modified = !changes.isEmpty();
}

void TfrmUserRights::CommitEdit()
{
    if (m_editRow < 0 || m_editRow >= lv->topLevelItemCount())
        return;
    QTreeWidgetItem* item = lv->topLevelItem(m_editRow);
    const ClassEntry* chosen = nullptr;
    if (ticked(item) && cbClass->currentIndex() >= 0)
        chosen = m_apps.entries[m_editRow].classByIdx(cbClass->currentData().toInt());
    m_loadingRights = true;
    setRowClass(item, chosen);
    m_loadingRights = false;
}

void TfrmUserRights::RightsRowSelected(QTreeWidgetItem* item)
{
    if (m_loadingRights)
        return;
    CommitEdit();
    cbClass->hide();
    cbClass->clear();
    m_editRow = item ? lv->indexOfTopLevelItem(item) : -1;
    if (m_editRow < 0)
        return;
    const ApplicationEntry& e = m_apps.entries[m_editRow];
    for (int i = 0; i < e.ClassCount; ++i) {
        cbClass->addItem(e.Classes[i].ClassName, e.Classes[i].ClassIdx);
        if (e.Classes[i].FullName != e.Classes[i].ClassName)
            cbClass->setItemData(i, e.Classes[i].FullName, Qt::ToolTipRole);
    }
    // The row's class is found by its index: two names may be alike in what the list shows.
    const std::optional<int> current = rowClass(item);
    cbClass->setCurrentIndex(current ? cbClass->findData(*current) : -1);
    if (ticked(item))
        ShowChooser();
}

void TfrmUserRights::ShowChooser()
{
    if (m_editRow < 0)
        return;
    QTreeWidgetItem* item = lv->topLevelItem(m_editRow);
    if (!item || !ticked(item))
        return;
    const QRect row = lv->visualItemRect(item);
    const int left = lv->columnViewportPosition(1) + 3;
    const int height = cbClass->sizeHint().height();
    cbClass->setGeometry(left, row.center().y() - height / 2, std::max(lv->columnWidth(1) - 3, cbClass->sizeHint().width()), height);
    cbClass->show();
    cbClass->raise();
}

void TfrmUserRights::ClassChosen(int index)
{
    if (m_editRow < 0 || index < 0)
        return;
    QTreeWidgetItem* item = lv->topLevelItem(m_editRow);
    const ClassEntry* chosen = m_apps.entries[m_editRow].classByIdx(cbClass->itemData(index).toInt());
    if (rowClass(item) != (chosen ? std::optional<int>(chosen->ClassIdx) : std::nullopt))
        m_modified = true;
    m_loadingRights = true;
    setRowClass(item, chosen);
    m_loadingRights = false;
}

void TfrmUserRights::RowTicked(QTreeWidgetItem* item)
{
    if (m_loadingRights)
        return;
    m_modified = true;
    const int row = lv->indexOfTopLevelItem(item);
    if (!ticked(item)) {
        m_loadingRights = true;
        setRowClass(item, nullptr);
        m_loadingRights = false;
        if (row == m_editRow) {
            cbClass->hide();
            cbClass->setCurrentIndex(-1);
        }
    } else if (row == m_editRow) {
        ShowChooser();
    }
}

QList<RightChoice> TfrmUserRights::Choices() const
{
    QList<RightChoice> out;
    for (int i = 0; i < m_apps.count && i < lv->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = lv->topLevelItem(i);
        out.append({m_apps.entries[i].AplId, ticked(item), ticked(item) ? rowClass(item) : std::nullopt});
    }
    return out;
}

bool TfrmUserRights::Save() { return SaveRights(false); }

bool TfrmUserRights::SaveRights(bool namingTheUser)
{
    if (tblUsers.isEmpty())
        return false;
    if (m_editRow >= 0) {
        // The choice still open in the chooser is part of what is saved.
        CommitEdit();
        cbClass->hide();
        m_loadingRights = true;
        lv->setCurrentItem(nullptr);
        m_loadingRights = false;
        m_editRow = -1;
    }
    const int user = currentUserId();
    const QString fullName = tblUsers.text(QStringLiteral("USER_RNM"));
    const QList<RightChoice> choices = Choices();
    const QList<RightChange> changes = RightsChanges(m_loadedRights, choices);
    QList<int> listed;
    for (const RightChoice& c : choices)
        listed << c.aplId;
    try {
        SaveUserRights(m_dm.db_Sys, user, changes, m_lockTimeout, listed);
    } catch (const RightsChanged& e) {
        // Nothing was written. The administrator sees the rights as they are now, with his own
        // changes still on top and unsaved, and decides again.
        QStringList captions;
        for (int aplId : e.aplIds())
            if (const ApplicationEntry* app = m_apps.byAplId(aplId))
                captions << app->caption();
        prompts().message(Text::RightsChangedMeanwhile.arg(fullName, captions.join(QStringLiteral(", "))), Prompts::Icon::Warning);
        ReloadRightsKeeping(changes);
        return false;
    } catch (const std::exception& e) {
        // Nothing was written: the edits and the flag stay, and nothing is provisioned.
        if (namingTheUser)
            prompts().message(Text::RightsNotSavedFor + fullName + QLatin1Char('\r') + db::errorMessage(e), Prompts::Icon::Error);
        else
            ReportError(e);
        return false;
    }
    // What the list shows is now what is stored, others' changes included.
    ReloadRights();
    m_modified = false;
    for (int i = 0; i < lv->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = lv->topLevelItem(i);
        if (ticked(item) && rowClass(item))
            ProvisionApplication(i, user, fullName);
    }
    return true;
}

void TfrmUserRights::RefreshAll()
{
    // Each user becomes current in turn, which loads his rights, and they are written back. A
    // long run shows how far it is and may be stopped between two users.
    if (!OfferToSave())
        return;
    const int total = tblUsers.recordCount();
    QProgressDialog progress(Text::RefreshAll, Text::Cancel, 0, total, this);
    progress.setWindowTitle(Text::RefreshAll);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(500);
    int done = 0;
    for (tblUsers.first(); !tblUsers.eof(); tblUsers.next()) {
        progress.setValue(done++);
        if (progress.wasCanceled())
            break;
        SaveRights(true);
    }
    progress.setValue(total);
}

std::function<void(TfrmUserRights&)>& TfrmUserRights::ImportWindow()
{
    static std::function<void(TfrmUserRights&)> opener;
    return opener;
}

std::function<void(TfrmUserRights&)>& TfrmUserRights::AutoRightsWindow()
{
    static std::function<void(TfrmUserRights&)> opener;
    return opener;
}

QStringList TfrmUserRights::SelectDatabases(int row, const QString& title)
{
    const ApplicationEntry& e = m_apps.entries[row];
    QStringList databases;
    const QString section = e.section();
    if (section.isEmpty() ||
        SelectDBPaths(title, Text::ChooseDatabases, section, false, false, ShortString(LogInfo().Location), databases) == 2) {
        prompts().message(Text::MissingSettings + e.caption(), Prompts::Icon::Warning);
        return {};
    }
    return databases;
}

void TfrmUserRights::ProvisionApplication(int row, int userId, const QString& fullName)
{
    if (row < 0 || row >= m_apps.count)
        return;
    // This program's own entry: its users are the system database's.
    if (m_apps.entries[row].section().toUpper() == QLatin1String("MOD01"))
        return;
    for (const QString& database : SelectDatabases(row, Text::ProvisionTitle)) {
        try {
            ProvisionUser(database, userId, fullName);
        } catch (const std::exception& e) {
            prompts().message(Text::ProvisionFailed + db::errorMessage(e), Prompts::Icon::Error);
        }
    }
}

void TfrmUserRights::ProvisionTickedApplications(int userId, const QString& fullName)
{
    for (int i = 0; i < lv->topLevelItemCount(); ++i)
        if (ticked(lv->topLevelItem(i)))
            ProvisionApplication(i, userId, fullName);
}

void TfrmUserRights::RunSelectedUserLibrary()
{
    QTreeWidgetItem* item = lv->currentItem();
    const int row = item ? lv->indexOfTopLevelItem(item) : -1;
    if (row <= 0 || row >= m_apps.count || tblUsers.isEmpty())
        return;
    const ApplicationEntry& e = m_apps.entries[row];
    const std::optional<int> classIdx = rowClass(item);
    const ClassEntry* c = classIdx ? e.classByIdx(*classIdx) : nullptr;
    if (!c) {
        prompts().message(Text::NoClassChosen + e.caption(), Prompts::Icon::Warning);
        return;
    }
    const int user = currentUserId();
    const QString login = tblUsers.text(QStringLiteral("USER_FNM"));
    try {
        for (const QString& database : SelectDatabases(row, Text::LibraryTitle)) {
            db::Query q(&m_dm.db_Sys);
            q.setSql(QStringLiteral("select user_fpw from users where user_id = :id"));
            q.setParam(QStringLiteral("id"), user);
            q.open();
            const QString password = q.eof() ? QString() : DecodeStoredText(q.field(0).asString());
            q.close();
            // The whole class name: the list may show two classes alike in their first characters.
            RunUserLibrary(e.suiteAplName(), database, ShortString(LogInfo().Credential1), ShortString(LogInfo().Credential2), user,
                           c->FullName, login, password, internalWinId());
        }
    } catch (const std::exception& e) {
        ReportError(e);
    }
}
