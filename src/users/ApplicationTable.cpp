#include "ApplicationTable.h"

#include "core/StoredText.h"
#include "core/SuiteApplications.h"

#include "db/Database.h"
#include "db/Query.h"

namespace {

const SuiteApplication& suiteRow(int index) { return SuiteApplicationTable[index]; }

QString decoded(const db::Query& q, int column) { return q.field(column).isNull() ? QString() : DecodeStoredText(q.field(column).asString()); }

} // namespace

QString ApplicationEntry::caption() const { return suiteRow(SuiteIndex).caption.toString(); }
QString ApplicationEntry::section() const { return suiteRow(SuiteIndex).section.toString(); }
QString ApplicationEntry::suiteAplName() const { return suiteRow(SuiteIndex).aplName.toString(); }

const ClassEntry* ApplicationEntry::classByIdx(int classIdx) const
{
    for (int i = 0; i < ClassCount; ++i)
        if (Classes[i].ClassIdx == classIdx)
            return &Classes[i];
    return nullptr;
}

int ApplicationTable::indexOfAplId(int aplId) const
{
    for (int i = 0; i < count; ++i)
        if (entries[i].AplId == aplId)
            return i;
    return -1;
}

const ApplicationEntry* ApplicationTable::byAplId(int aplId) const
{
    const int i = indexOfAplId(aplId);
    return i < 0 ? nullptr : &entries[i];
}

ApplicationTable BuildApplicationTable(db::Database& sys)
{
    ApplicationTable table;
    db::Query q(&sys);
    q.setParamCheck(false);
    // Ordered, so that the rows of one application come together.
    q.setSql(QStringLiteral("Select apl_id, apl_name, gdb_alias, gdb_uname, gdb_pasw, gdb_proc, class_idx, class_nm "
                            "from applications left join Class on Class_aplidx=apl_id order by apl_id, class_idx"));
    ApplicationEntry* entry = nullptr;
    bool skipping = false;
    bool first = true;
    int previousApl = 0;
    for (q.open(); !q.eof(); q.next()) {
        const int aplId = q.field(0).asInteger();
        if (first || aplId != previousApl) {
            first = false;
            previousApl = aplId;
            entry = nullptr;
            const int suite = FindSuiteApplication(decoded(q, 1));
            skipping = suite < 0;
            if (skipping)
                continue;
            if (table.count == kMaxApplications) {
                table.refusedApplications << suiteRow(suite).caption.toString();
                skipping = true;
                continue;
            }
            entry = &table.entries[table.count++];
            entry->AplId = aplId;
            entry->AliasName = decoded(q, 2);
            entry->AliasUser = decoded(q, 3);
            entry->AliasPassword = decoded(q, 4);
            entry->AliasProc = decoded(q, 5);
            entry->SuiteIndex = suite;
        }
        if (skipping || !entry)
            continue;
        // No class at all gives no entry: a right is never stored without one.
        if (q.field(6).isNull())
            continue;
        const int classIdx = q.field(6).asInteger();
        if (entry->ClassCount == kMaxClasses) {
            if (entry->SurplusClasses.isEmpty())
                table.appsWithSurplusClasses << entry->caption();
            entry->SurplusClasses << classIdx;
            continue;
        }
        ClassEntry& c = entry->Classes[entry->ClassCount++];
        c.FullName = decoded(q, 7);
        c.ClassName = c.FullName.left(kClassNameLength);
        c.ClassIdx = classIdx;
    }
    return table;
}

QList<std::pair<int, int>> LoadUserLinks(db::Database& sys, int userId)
{
    QList<std::pair<int, int>> links;
    db::Query q(&sys);
    q.setSql(QStringLiteral("select lnk_aplid, lnk_class from links where lnk_usr = :usr"));
    q.setParam(QStringLiteral("usr"), userId);
    for (q.open(); !q.eof(); q.next())
        links.append({q.field(0).asInteger(), q.field(1).asInteger()});
    return links;
}

void SaveUserRights(db::Database& sys, int userId, const ApplicationTable& table, const QList<RightChoice>& choices,
                    int lockTimeout)
{
    // Only the applications the list shows are rewritten; within them, a right in a class the
    // list cannot offer stays unless the administrator unticked or replaced it.
    QStringList listed;
    QStringList kept;
    for (const RightChoice& c : choices) {
        const ApplicationEntry* e = table.byAplId(c.aplId);
        if (!e)
            continue;
        listed << QString::number(c.aplId);
        if (c.ticked && !c.classIdx && !e->SurplusClasses.isEmpty()) {
            QStringList classes;
            for (int idx : e->SurplusClasses)
                classes << QString::number(idx);
            kept << QStringLiteral("(lnk_aplid = %1 and lnk_class in (%2))").arg(c.aplId).arg(classes.join(QLatin1Char(',')));
        }
    }
    if (listed.isEmpty())
        return;
    QString del = QStringLiteral("delete from links where lnk_usr = %1 and lnk_aplid in (%2)").arg(userId).arg(listed.join(QLatin1Char(',')));
    if (!kept.isEmpty())
        del += QStringLiteral(" and not (%1)").arg(kept.join(QStringLiteral(" or ")));

    db::Transaction t(sys, db::TransactionOptions{.protectedWrite = {QStringLiteral("LINKS")}, .lockTimeout = lockTimeout});
    db::Query q(&sys);
    q.setParamCheck(false);
    q.setSql(del);
    q.execSql();
    q.setParamCheck(true);
    q.setSql(QStringLiteral("insert into links (lnk_usr, lnk_aplid, lnk_class) values (:usr, :apl, :cls)"));
    for (const RightChoice& c : choices) {
        const ApplicationEntry* e = table.byAplId(c.aplId);
        if (!e || !c.ticked || !c.classIdx || !e->classByIdx(*c.classIdx))
            continue;
        q.setParam(QStringLiteral("usr"), userId);
        q.setParam(QStringLiteral("apl"), c.aplId);
        q.setParam(QStringLiteral("cls"), *c.classIdx);
        q.execSql();
    }
    t.commit();
}
