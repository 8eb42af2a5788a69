#include "SelfUpdate.h"

#include "core/BuiltIn.h"
#include "core/DataModule.h"
#include "core/Prompts.h"
#include "core/SqlOps.h"
#include "core/StoredText.h"
#include "core/TextOps.h"

#include "db/Error.h"

#include <QApplication>
#include <QLabel>
#include <QVBoxLayout>

namespace {

const QString kStepFailed = QStringLiteral(
    "Грешка при обновяване  ! \rИзвадете базата данни от архива и сe свържете с екипа на Квелта");

void repaint() { QApplication::processEvents(QEventLoop::ExcludeUserInputEvents); }

// "(" + keys each followed by "," + "0)"; "(0)" for none.
QString keyList(const QList<int>& keys)
{
    QString s = QStringLiteral("(");
    for (int k : keys)
        s += QString::number(k) + QLatin1Char(',');
    return s + QStringLiteral("0)");
}

} // namespace

int SystemSchemaVersion(db::Database& database)
{
    if (!database.tableNames().contains(QStringLiteral("SELFUPDATES"), Qt::CaseInsensitive))
        return 0;
    db::Query q(&database);
    q.setSql(QStringLiteral("Select max(SU_ID) from SelfUpdates"));
    q.open();
    return q.field(0).asInteger();
}

bool SelfUpdateCheck(TDM& dm, const QString& location)
{
    bool result = false;
    try {
        if (!dm.db_Sys.tableNames().contains(QStringLiteral("SelfUpdates"), Qt::CaseInsensitive)) {
            ExecSqlOrReport(dm.WQ, QStringLiteral("Create Table SelfUpdates(SU_ID integer not null primary key,SU_Date Date,"
                                                  "SU_Descr Varchar(100),SU_Blob Blob)"),
                            true);
            ExecSqlOrReport(dm.WQ, QStringLiteral("Create Trigger SetSUDate for SelfUpdates before Insert as Begin "
                                                  "New.SU_Date = \"Now\"; End "),
                            true);
            ExecSqlOrReport(dm.WQ, QStringLiteral("Grant All on SelfUpdates to syscreat"), true);
        }
        if (!ExecSqlText(dm.WQ, QStringLiteral("Select max(SU_ID) from SelfUpdates"), false)) {
            prompts().message(QStringLiteral("Грешка при обновяване на база sys.gdb\rСвържете се с Орвена"), Prompts::Icon::Error);
            return false;
        }
        const int n = dm.WQ.eof() ? 0 : dm.WQ.field(0).asInteger();
        dm.WQ.close();
        if (n >= kSelfUpdateLastStep)
            return true;
        if (!prompts().confirm(QStringLiteral("Необходимо е да бъдат направени промени за нормалната работа на програмата.\r"
                                              "Сигурни ли сте че, имате актуален архив на базата SYS_DB(sys.gdb) ?\r"
                                              "За да протече нормално обновяването не трябва да има потребители работещи с програмите!")))
            return false;
        TfrmSelfUpdate window(dm);
        window.show();
        repaint();
        window.RunSteps(location, n);
        window.close();
        result = true;
    } catch (const std::exception& e) {
        prompts().message(QStringLiteral("Грешка : ") + db::errorMessage(e), Prompts::Icon::Error);
    }
    return result;
}

TfrmSelfUpdate::TfrmSelfUpdate(TDM& dm, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint), m_dm(dm), _Q(&su_db)
{
    setWindowTitle(QStringLiteral("Обновяване"));
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(QStringLiteral("Моля Изчакайте докато приключи обновяването"), this);
    label->setMargin(24);
    layout->addWidget(label);
    _Q.setParamCheck(false);
}

bool TfrmSelfUpdate::RunSteps(const QString& location, int after)
{
    bool ok = true;
    SetSelfUpdateConnection(su_db, location);
    m_dm.db_Sys.disconnect();
    try {
        su_db.connect();
        for (const SelfUpdateStep& step : SelfUpdateSteps()) {
            if (step.number <= after)
                continue;
            repaint();
            if (!RunStep(step)) {
                prompts().message(kStepFailed, Prompts::Icon::Error);
                ok = false;
                break;
            }
        }
    } catch (const std::exception& e) {
        prompts().message(QStringLiteral("Грешка : ") + db::errorMessage(e), Prompts::Icon::Error);
        ok = false;
    }
    // The shared connection comes back whatever happened above.
    try {
        su_db.disconnect();
    } catch (const std::exception&) {
    }
    m_dm.db_Sys.connect();
    return ok;
}

bool TfrmSelfUpdate::RunStep(const SelfUpdateStep& step)
{
    bool ok = false;
    try {
        switch (step.kind) {
        case SelfUpdateStep::Sql:
            ok = step.sql.isEmpty() || ExecSqlOrReport(_Q, step.sql, true);
            break;
        case SelfUpdateStep::Operation:
            ok = step.number == 3 ? RecreateLinks() : step.number == 13 ? MoveMod03Classes() : false;
            break;
        default:
            ok = false;
        }
        if (ok)
            Record(step);
    } catch (const std::exception& e) {
        prompts().message(QStringLiteral("Грешка : ") + db::errorMessage(e), Prompts::Icon::Error);
        ok = false;
    }
    return ok;
}

void TfrmSelfUpdate::Record(const SelfUpdateStep& step)
{
    db::Query q(&su_db);
    q.setSql(QStringLiteral("insert into SelfUpdates (SU_ID, SU_Descr, SU_Blob) values (:id, :descr, :blob)"));
    q.setParam(QStringLiteral("id"), step.number);
    q.setParam(QStringLiteral("descr"), step.description);
    q.setParam(QStringLiteral("blob"), step.sql.isEmpty() ? QVariant() : QVariant(step.sql));
    q.execSql();
}

bool TfrmSelfUpdate::RecreateLinks()
{
    struct Link {
        int usr, apl, cls;
    };
    QList<Link> rows;
    if (!ExecSqlOrReport(_Q, QStringLiteral("Select distinct LNK_USR,LNK_APLID,LNK_CLASS from Links"), false))
        return false;
    for (; !_Q.eof(); _Q.next())
        rows.append({_Q.field(0).asInteger(), _Q.field(1).asInteger(), _Q.field(2).asInteger()});
    _Q.close();
    ExecSqlOrReport(_Q, QStringLiteral("Delete from Links"), true);
    ExecSqlOrReport(_Q, QStringLiteral("alter table links add  primary key(lnk_usr,lnk_aplid,lnk_class)"), true);
    for (const Link& l : rows) {
        ExecSqlOrReport(_Q, QStringLiteral("Insert into Links(LNK_USR,LNK_APLID,LNK_CLASS) Values(%1,%2,%3)").arg(l.usr).arg(l.apl).arg(l.cls), true);
        repaint();
    }
    return true;
}

bool TfrmSelfUpdate::MoveMod03Classes()
{
    struct App {
        int id;
        QString name;
        QVariant alias, uname, pasw, proc;
    };
    QList<App> apps;
    if (!ExecSqlOrReport(_Q, QStringLiteral("select APL_ID, APL_NAME, GDB_ALIAS, GDB_UNAME, GDB_PASW, GDB_PROC from Applications order by APL_ID"), false))
        return false;
    for (; !_Q.eof(); _Q.next())
        apps.append({_Q.field(0).asInteger(), _Q.field(1).asString(), _Q.field(2).value(), _Q.field(3).value(),
                     _Q.field(4).value(), _Q.field(5).value()});
    _Q.close();

    for (const App& app : apps) {
        if (DecodeStoredText(app.name).toUpper() != QLatin1String("MOD03"))
            continue;
        const QString key = QString::number(app.id);

        QList<int> moving;
        if (!ExecSqlOrReport(_Q, QStringLiteral("select * from class where class_aplidx= ") + key, false))
            return false;
        for (; !_Q.eof(); _Q.next()) {
            const QString name = DecodeStoredText(_Q.fieldByName(QStringLiteral("CLASS_NM")).asString());
            if (name.size() >= 5 && name[4].unicode() > u'2')
                moving << _Q.fieldByName(QStringLiteral("CLASS_IDX")).asInteger();
        }
        _Q.close();
        const QString list = keyList(moving);

        if (!ExecSqlOrReport(_Q, QStringLiteral("Select lnk_usr from links where (lnk_aplid=") + key + QStringLiteral(")AND lnk_class in ") + list, false))
            return false;
        const bool used = !_Q.eof();
        _Q.close();
        if (!used)
            continue;

        if (!ExecSqlOrReport(_Q, QStringLiteral("Select max(apl_id) from applications"), false))
            continue;
        const int newApp = _Q.field(0).asInteger() + 1;
        _Q.close();
        // The database settings are copied as they are, nulls included. Without the new
        // application row the classes would be moved into nothing, so they stay where they are.
        try {
            db::Query ins(&su_db);
            ins.setSql(QStringLiteral("insert into applications (apl_id, apl_name, apl_state, GDB_ALIAS, GDB_UNAME, GDB_PASW, GDB_PROC) "
                                      "values (:id, :name, \"Active\", :alias, :uname, :pasw, :proc)"));
            ins.setParam(QStringLiteral("id"), newApp);
            ins.setParam(QStringLiteral("name"), EncodeStoredText(QStringLiteral("Mod05")));
            ins.setParam(QStringLiteral("alias"), app.alias);
            ins.setParam(QStringLiteral("uname"), app.uname);
            ins.setParam(QStringLiteral("pasw"), app.pasw);
            ins.setParam(QStringLiteral("proc"), app.proc);
            ins.execSql();
        } catch (const std::exception& e) {
            prompts().message(QStringLiteral("Грешка : ") + db::errorMessage(e), Prompts::Icon::Error);
            continue;
        }

        if (!ExecSqlOrReport(_Q, QStringLiteral("Select max(CLASS_IDX) from Class"), false))
            continue;
        int nextClass = _Q.field(0).asInteger() + 1;
        _Q.close();

        struct Cls {
            QString name, pw;
            int idx;
        };
        QList<Cls> classes;
        if (ExecSqlOrReport(_Q, QStringLiteral("Select CLASS_NM,CLASS_PW,CLASS_IDX from Class where CLASS_IDX in") + list, false)) {
            for (; !_Q.eof(); _Q.next())
                classes.append({_Q.field(0).asString(), _Q.field(1).asString(), _Q.field(2).asInteger()});
            _Q.close();
        }
        // Only a class whose copy is in place loses its rights and its old row.
        QList<int> moved;
        for (const Cls& c : classes) {
            const bool copied = ExecSqlOrReport(
                _Q, QStringLiteral("Insert into Class(CLASS_IDX, CLASS_APLIDX,CLASS_NM,CLASS_PW) Values(%1,%2,\"%3\",\"%4\")")
                        .arg(nextClass)
                        .arg(newApp)
                        .arg(EscapeDoubleQuotes(c.name), EscapeDoubleQuotes(c.pw)),
                true);
            if (copied) {
                ExecSqlOrReport(_Q, QStringLiteral("update links set lnk_aplid=%1,lnk_class=%2 where lnk_aplid=%3 and lnk_class=%4")
                                        .arg(newApp)
                                        .arg(nextClass)
                                        .arg(app.id)
                                        .arg(c.idx),
                                true);
                moved << c.idx;
            }
            ++nextClass;
            repaint();
        }
        const QString movedList = keyList(moved);
        ExecSqlOrReport(_Q, QStringLiteral("Delete from links where (lnk_aplid=") + key + QStringLiteral(")AND lnk_class in ") + movedList, true);
        ExecSqlOrReport(_Q, QStringLiteral("Delete from class where class_idx in ") + movedList, true);
    }
    return true;
}
