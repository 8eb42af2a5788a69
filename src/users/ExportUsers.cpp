#include "ExportUsers.h"

#include "core/InputError.h"
#include "core/StoredText.h"
#include "core/SuiteApplications.h"
#include "core/TextOps.h"

#include "db/Cp1251.h"
#include "db/Database.h"
#include "db/Query.h"

#include <QSaveFile>

#include <pugixml.hpp>

#include <array>

namespace {

const QString kBadClass = QStringLiteral("Грешен клас на потребител!!!");

bool sameName(QStringView a, QStringView b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

struct AttributeOf {
    QStringView aplName;
    QStringView attribute;
};
// First match wins; Mod03 also gives AMod21, set right after it.
constexpr std::array<AttributeOf, 21> kAttributes = {{
    {u"Gatekeep", u"AHUB"}, {u"Mod01", u"AHUB"},   {u"Mod02", u"AMod02"}, {u"Mod03", u"AMod03"}, {u"Mod05", u"AMod05"},
    {u"Mod06", u"AMod06"},  {u"Mod07", u"AMod07"}, {u"Mod08", u"AMod08"}, {u"Mod09", u"AMod09"}, {u"Mod10", u"AMod10"},
    {u"Mod11", u"AMod22"},  {u"Mod12", u"AMod12"}, {u"Mod40", u"AMod23"}, {u"Mod13", u"AMod13"}, {u"Mod14", u"AMod14"},
    {u"Mod15", u"AMod15"},  {u"Mod16", u"AMod16"}, {u"Mod17", u"AMod17"}, {u"Mod18", u"AMod18"}, {u"Mod19", u"AMod19"},
    {u"Mod20", u"AMod20"},
}};

bool oneOf(const QString& name, std::initializer_list<QStringView> names)
{
    for (QStringView n : names)
        if (sameName(name, n))
            return true;
    return false;
}

const QString kAdmin = QStringLiteral("zoradmin");
const QString kOperator = QStringLiteral("zoroperator");
const QString kViewer = QStringLiteral("zorviewer");

// HUB's role for a level in an application.
QString hubRole(const QString& apl, int level)
{
    if (oneOf(apl, {u"Gatekeep", u"Mod01", u"Mod20"}))
        return kAdmin;
    if (oneOf(apl, {u"Mod02", u"Mod03", u"Mod06", u"Mod07", u"Mod10", u"Mod13", u"Mod15", u"Mod16", u"Mod17", u"Mod18", u"Mod19", u"Mod40"}))
        return level == 1 ? kAdmin : kOperator;
    if (sameName(apl, u"Mod05"))
        return level == 3 ? kAdmin : level == 4 ? kOperator : kViewer;
    if (sameName(apl, u"Mod08"))
        return level == 1 ? kAdmin : level == 4 ? kViewer : kOperator;
    if (oneOf(apl, {u"Mod09", u"Mod12", u"Mod14"}))
        return kOperator;
    if (sameName(apl, u"Mod11"))
        return level == 6 ? kAdmin : kOperator;
    return {}; // the document has no attribute for any other application
}

// Text as an attribute of the document: XML 1.0 has no form for the other control characters,
// not even as a character reference, and a file with one is refused by every reader.
std::string xmlValue(const QString& value, int userId, const char* attribute)
{
    for (QChar c : value)
        if (c.unicode() < 0x20 && c != QLatin1Char('\t') && c != QLatin1Char('\n') && c != QLatin1Char('\r'))
            throw ExportError(QStringLiteral("Потребител %1: %2 съдържа управляващ знак (код %3), който XML не допуска")
                                  .arg(userId)
                                  .arg(QLatin1String(attribute))
                                  .arg(c.unicode()));
    return value.toStdString();
}

// Sets an attribute, appending it when the element does not have it yet.
void setAttribute(pugi::xml_node user, const char* name, const std::string& value)
{
    pugi::xml_attribute a = user.attribute(name);
    if (!a)
        a = user.append_attribute(name);
    a.set_value(value.c_str());
}

// pugixml ends lines with LF; the file ends them with CR LF. A line feed inside a value is
// written as a character reference, so every LF here is a line end.
class CrLfWriter final : public pugi::xml_writer {
public:
    void write(const void* data, size_t size) override
    {
        const char* p = static_cast<const char*>(data);
        for (size_t i = 0; i < size; ++i) {
            if (p[i] == '\n')
                out.append('\r');
            out.append(p[i]);
        }
    }
    QByteArray out;
};

struct Link {
    QString aplName;   // decoded
    QString className; // decoded
};

QString mapDecoded(const QString& aplName, const QString& className, bool forHub)
{
    const int level = ClassLevel(className); // a class it refuses ends the export in both modes
    return forHub ? hubRole(aplName, level) : className;
}

QString textOf(const db::Field& f)
{
    const QVariant v = f.value();
    if (v.typeId() == QMetaType::QByteArray)
        return cp1251::decode(v.toByteArray());
    return v.toString();
}

} // namespace

QString EncodeBase64(const QByteArray& bytes) { return QString::fromLatin1(bytes.toBase64()); }

int ClassLevel(const QString& className)
{
    const QString c = className.toLower();
    if (c.startsWith(QLatin1String("user"))) {
        if (c.size() < 5 || c[4] < QLatin1Char('0') || c[4] > QLatin1Char('9'))
            throw ExportError(kBadClass);
        return c[4].unicode() - '0';
    }
    if (c.startsWith(QLatin1String("admn")))
        return 1;
    throw ExportError(kBadClass);
}

QString MapClassForExport(const QString& aplName, const QString& className, bool forHub)
{
    return mapDecoded(DecodeStoredText(aplName), DecodeStoredText(className), forHub);
}

QString ExportAttribute(const QString& aplName)
{
    for (const AttributeOf& a : kAttributes)
        if (sameName(aplName, a.aplName))
            return a.attribute.toString();
    return {};
}

QByteArray UsersXmlDocument(db::Database& sys, bool forHub)
{
    db::Transaction t(sys);

    // Every right at once, grouped by user in the order the database gives them: the order a
    // query for one user's rights gives, without a query per user.
    QHash<int, QList<Link>> links;
    {
        db::Query q(&sys);
        q.setSql(QStringLiteral("select links.lnk_usr, applications.apl_name, class.class_nm from links "
                                "left join class on class.class_idx = links.lnk_class "
                                "left join applications on applications.apl_id = links.lnk_aplid"));
        for (q.open(); !q.eof(); q.next())
            links[q.field(0).asInteger()].append({DecodeStoredText(q.field(1).asString()), DecodeStoredText(q.field(2).asString())});
    }

    pugi::xml_document doc;
    pugi::xml_node decl = doc.append_child(pugi::node_declaration);
    decl.append_attribute("version") = "1.0";
    decl.append_attribute("encoding") = "utf-8";
    decl.append_attribute("standalone") = "yes";
    pugi::xml_node root = doc.append_child("ImportUsers");

    db::Query q(&sys);
    q.setSql(QStringLiteral("select * from users"));
    q.open();
    const int id = q.fieldIndex(QStringLiteral("USER_ID"));
    const int fnm = q.fieldIndex(QStringLiteral("USER_FNM"));
    const int fpw = q.fieldIndex(QStringLiteral("USER_FPW"));
    const int rnm = q.fieldIndex(QStringLiteral("USER_RNM"));
    const int domainUser = q.fieldIndex(QStringLiteral("USER_DOMAINUSER"));
    const int domainSid = q.fieldIndex(QStringLiteral("USER_DOMAINSID"));
    const int domainName = q.fieldIndex(QStringLiteral("USER_DOMAINNAME"));
    const int cert = q.fieldIndex(QStringLiteral("USER_CERT"));
    for (; !q.eof(); q.next()) {
        const int userId = q.field(id).asInteger();
        pugi::xml_node user = root.append_child("User");
        const auto set = [&](const char* name, const QString& value) { setAttribute(user, name, xmlValue(value, userId, name)); };
        const auto setIfAny = [&](const char* name, const QString& value) {
            if (!value.isEmpty())
                set(name, value);
        };
        set("ID", QString::number(userId));
        set("User", DecodeStoredText(q.field(fnm).asString()));
        set("Password", EncodeBase64(cp1251::encode(DecodeStoredText(q.field(fpw).asString()))));
        set("PasswordEncrypted", QStringLiteral("True"));
        setIfAny("DomainUserName", q.field(domainUser).asString());
        setIfAny("DomainUserSID", q.field(domainSid).asString());
        setIfAny("DomainName", q.field(domainName).asString());
        const PersonName name = SplitPersonName(DecodeStoredText(q.field(rnm).asString()));
        setIfAny("FirstName", name.first);
        setIfAny("MiddleName", name.middle);
        setIfAny("LastName", name.last);
        if (cert >= 0 && !q.isNull(cert))
            setIfAny("Certificate", textOf(q.field(cert)));
        for (const Link& link : links.value(userId)) {
            const QString attribute = ExportAttribute(link.aplName);
            if (attribute.isEmpty())
                continue;
            const QString value = mapDecoded(link.aplName, link.className, forHub);
            set(attribute.toLatin1().constData(), value);
            if (attribute == QLatin1String("AMod03"))
                set("AMod21", value);
        }
    }
    q.close();
    t.commit();

    CrLfWriter writer;
    doc.save(writer, "  ", pugi::format_indent, pugi::encoding_utf8);
    return writer.out;
}

ResolverData ReadResolverData(db::Database& appDb)
{
    ResolverData data;
    db::Query q(&appDb);
    q.setParamCheck(false);
    q.setSql(QStringLiteral(" select res_id,res_post,dest_txt,sd_text from resolutors_nom  left join destination_nom on "
                            "dest_id=res_group left join subdev on res_subd=sd_id "));
    for (q.open(); !q.eof(); q.next()) {
        if (q.isNull(0))
            continue;
        bool ok = false;
        const qint64 id = q.field(0).value().toLongLong(&ok);
        if (ok && !data.contains(id))
            data.insert(id, {q.field(3).asString(), q.field(2).asString(), q.field(1).asString()});
    }
    return data;
}

namespace {

// A row of the users window's rights list, as that list is built from APPLICATIONS and CLASS.
struct RightsRow {
    int aplId = 0;
    QString caption;
    QList<QPair<int, QString>> classes; // index and name (at most 20 characters)
};

QList<RightsRow> rightsRows(db::Database& sys)
{
    QList<RightsRow> rows;
    db::Query q(&sys);
    q.setSql(QStringLiteral("Select * from applications left join Class on Class_aplidx=apl_id"));
    q.open();
    const int aplId = q.fieldIndex(QStringLiteral("APL_ID"));
    const int aplName = q.fieldIndex(QStringLiteral("APL_NAME"));
    const int classIdx = q.fieldIndex(QStringLiteral("CLASS_IDX"));
    const int classNm = q.fieldIndex(QStringLiteral("CLASS_NM"));
    bool first = true;
    int previous = 0;
    bool listed = false;
    for (; !q.eof(); q.next()) {
        const int apl = q.field(aplId).asInteger();
        if (first || apl != previous) {
            first = false;
            previous = apl;
            const int suite = FindSuiteApplication(DecodeStoredText(q.field(aplName).asString()));
            listed = suite >= 0;
            if (listed)
                rows.append({apl, SuiteApplicationTable[static_cast<size_t>(suite)].caption.toString(), {}});
        }
        if (listed)
            rows.last().classes.append({q.field(classIdx).asInteger(), DecodeStoredText(q.field(classNm).asString()).left(20)});
    }
    return rows;
}

} // namespace

QByteArray UsersTextDocument(db::Database& sys, const QList<ExportListUser>& users, const ResolverData* resolvers)
{
    db::Transaction t(sys);
    const QList<RightsRow> rows = rightsRows(sys);

    // The class column of each row of a user's rights list, as loading the rights fills it: every
    // right ticks its application, and a class the application has replaces the one shown.
    struct Shown {
        bool ticked = false;
        bool hasClass = false;
        QString className;
    };
    QHash<int, qsizetype> rowOf; // application -> its row
    for (qsizetype i = 0; i < rows.size(); ++i)
        rowOf.insert(rows[i].aplId, i);
    QHash<int, QHash<int, Shown>> shown; // user -> application -> its row's state
    {
        db::Query q(&sys);
        q.setSql(QStringLiteral("select lnk_usr, lnk_aplid, lnk_class from links"));
        for (q.open(); !q.eof(); q.next()) {
            const int apl = q.field(1).asInteger();
            const auto row = rowOf.constFind(apl);
            if (row == rowOf.constEnd())
                continue; // an application the list does not show
            Shown& s = shown[q.field(0).asInteger()][apl];
            s.ticked = true;
            const int cls = q.field(2).asInteger();
            for (const auto& [idx, name] : rows[*row].classes)
                if (idx == cls) {
                    s.hasClass = true;
                    s.className = name;
                    break;
                }
        }
    }

    // A resolver's line carries the class of the user's first right the query gives.
    QHash<int, QString> firstClass;
    if (resolvers) {
        db::Query q(&sys);
        q.setSql(QStringLiteral("select lnk_usr ,class_nm\r\nfrom  links\r\nleft join class on lnk_class= class_idx"));
        for (q.open(); !q.eof(); q.next()) {
            const int user = q.field(0).asInteger();
            if (!firstClass.contains(user))
                firstClass.insert(user, DecodeStoredText(q.field(1).asString()));
        }
    }
    t.commit();

    QString text;
    const QString crlf = QStringLiteral("\r\n");
    for (const ExportListUser& u : users) {
        const QString head = u.login + QLatin1Char('@') + u.fullName + QStringLiteral("@5093@");
        if (resolvers) {
            const auto r = resolvers->constFind(u.id);
            if (r != resolvers->constEnd()) {
                text += head + r->sdText + QStringLiteral("@@") + r->destTxt + QLatin1Char('@') + r->resPost + QLatin1Char('@') +
                        firstClass.value(u.id) + crlf;
                continue;
            }
        }
        const auto userRows = shown.constFind(u.id);
        if (userRows == shown.constEnd())
            continue;
        for (const RightsRow& r : rows) {
            const auto s = userRows->constFind(r.aplId);
            if (s != userRows->constEnd() && s->ticked && s->hasClass)
                text += head + r.caption + QLatin1Char('@') + s->className + crlf;
        }
    }
    return cp1251::encode(text);
}

void WriteExportFile(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw InputError(QStringLiteral("Файлът \"%1\" не може да бъде записан: %2").arg(path, file.errorString()));
    if (file.write(bytes) != bytes.size() || !file.commit())
        throw InputError(QStringLiteral("Файлът \"%1\" не може да бъде записан: %2").arg(path, file.errorString()));
}
