#include "ExportUsers.h"

#include "core/FileWrite.h"
#include "core/StoredText.h"
#include "core/SuiteApplications.h"
#include "core/TextOps.h"

#include "db/Cp1251.h"
#include "db/Database.h"
#include "db/Query.h"


#include <pugixml.hpp>

#include <array>
#include <vector>
#include <cstring>

namespace {

const QString kBadClass = QStringLiteral("Грешен клас на потребител!!!");

bool sameName(QStringView a, QStringView b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

struct AttributeOf {
    QStringView aplName;
    const char* attribute;
};
// First match wins; Mod03 also gives AMod21, set right after it.
constexpr std::array<AttributeOf, 21> kAttributes = {{
    {u"Gatekeep", "AHUB"}, {u"Mod01", "AHUB"},   {u"Mod02", "AMod02"}, {u"Mod03", "AMod03"}, {u"Mod05", "AMod05"},
    {u"Mod06", "AMod06"},  {u"Mod07", "AMod07"}, {u"Mod08", "AMod08"}, {u"Mod09", "AMod09"}, {u"Mod10", "AMod10"},
    {u"Mod11", "AMod22"},  {u"Mod12", "AMod12"}, {u"Mod40", "AMod23"}, {u"Mod13", "AMod13"}, {u"Mod14", "AMod14"},
    {u"Mod15", "AMod15"},  {u"Mod16", "AMod16"}, {u"Mod17", "AMod17"}, {u"Mod18", "AMod18"}, {u"Mod19", "AMod19"},
    {u"Mod20", "AMod20"},
}};

const char* attributeOf(const QString& aplName)
{
    for (const AttributeOf& a : kAttributes)
        if (sameName(aplName, a.aplName))
            return a.attribute;
    return nullptr;
}

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
    a.set_value(value.c_str(), value.size());
}

// pugixml ends lines with LF; the file ends them with CR LF. A line feed inside a value is
// written as a character reference, so every LF here is a line end.
class CrLfWriter final : public pugi::xml_writer {
public:
    void write(const void* data, size_t size) override
    {
        const char* p = static_cast<const char*>(data);
        const char* end = p + size;
        while (p < end) {
            const char* lf = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
            if (!lf) {
                out.append(p, end - p);
                break;
            }
            out.append(p, lf - p).append("\r\n", 2);
            p = lf + 1;
        }
    }
    QByteArray out;
};

// One (application, class) pair the document carries, mapped when a user first holds it.
struct Right {
    const char* attribute;
    QString aplName; // decoded
    QString className; // decoded
    bool mapped = false;
    std::string value; // UTF-8
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
    return QLatin1String(attributeOf(aplName));
}

QByteArray UsersXmlDocument(db::Database& sys, bool forHub)
{
    db::Transaction t(sys);

    // Every right at once, grouped by user in the order the database gives them: the order a
    // query for one user's rights gives, without a query per user.
    // Every right at once, grouped by user in the order the database gives them (the order a
    // query for one user's rights gives) without a query per user. The few (application, class)
    // pairs stand in many rights: each is decoded and mapped once.
    std::vector<Right> pairs;
    QHash<QString, qsizetype> pairOf; // stored application + NUL + stored class -> its pair
    QHash<int, QList<qsizetype>> rightsOf; // user -> its pairs, in order
    {
        db::Query q(&sys);
        q.setSql(QStringLiteral("select links.lnk_usr, applications.apl_name, class.class_nm from links "
                                "left join class on class.class_idx = links.lnk_class "
                                "left join applications on applications.apl_id = links.lnk_aplid"));
        for (q.open(); !q.eof(); q.next()) {
            const QString apl = q.field(1).asString();
            const QString cls = q.field(2).asString();
            const QString key = apl + QChar(0) + cls;
            auto pair = pairOf.constFind(key);
            if (pair == pairOf.constEnd()) {
                const QString aplName = DecodeStoredText(apl);
                const char* attribute = attributeOf(aplName);
                pair = pairOf.insert(key, attribute ? static_cast<qsizetype>(pairs.size()) : -1);
                if (attribute)
                    pairs.push_back({attribute, aplName, DecodeStoredText(cls), false, {}});
            }
            if (*pair >= 0)
                rightsOf[q.field(0).asInteger()].append(*pair);
        }
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
        // Each of these is set once, before any right: appended without a look-up.
        const auto set = [&](const char* name, const QString& value) {
            const std::string v = xmlValue(value, userId, name);
            user.append_attribute(name).set_value(v.c_str(), v.size());
        };
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
        for (qsizetype i : rightsOf.value(userId)) {
            Right& r = pairs[static_cast<size_t>(i)];
            if (!r.mapped) {
                r.value = xmlValue(mapDecoded(r.aplName, r.className, forHub), userId, r.attribute);
                r.mapped = true;
            }
            setAttribute(user, r.attribute, r.value);
            if (std::strcmp(r.attribute, "AMod03") == 0)
                setAttribute(user, "AMod21", r.value);
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

// A row of the users window's rights list, as that list is built from APPLICATIONS and CLASS;
// the texts in the file's code page.
struct RightsRow {
    int aplId = 0;
    QByteArray caption;
    QList<QPair<int, QByteArray>> classes; // index and name (at most 20 characters)
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
                rows.append({apl, cp1251::encode(SuiteApplicationTable[static_cast<size_t>(suite)].caption.toString()), {}});
        }
        if (listed)
            rows.last().classes.append({q.field(classIdx).asInteger(), cp1251::encode(DecodeStoredText(q.field(classNm).asString()).left(20))});
    }
    return rows;
}

} // namespace

QByteArray UsersTextDocument(db::Database& sys, const QList<ExportListUser>& users, const ResolverData* resolvers)
{
    db::Transaction t(sys);
    const QList<RightsRow> rows = rightsRows(sys);
    QHash<int, qsizetype> rowOf; // application -> its row
    for (qsizetype i = 0; i < rows.size(); ++i)
        rowOf.insert(rows[i].aplId, i);

    // The class column of each row of a user's rights list, as loading the rights fills it: a
    // class of the application replaces the one shown; a right without one leaves the row
    // without a class (unless an earlier right gave it one), and such a row gives no line.
    QHash<int, std::vector<const QByteArray*>> shown; // user -> per row: its class name or none
    {
        db::Query q(&sys);
        q.setSql(QStringLiteral("select lnk_usr, lnk_aplid, lnk_class from links"));
        for (q.open(); !q.eof(); q.next()) {
            const auto row = rowOf.constFind(q.field(1).asInteger());
            if (row == rowOf.constEnd())
                continue; // an application the list does not show
            std::vector<const QByteArray*>& classes = shown[q.field(0).asInteger()];
            classes.resize(static_cast<size_t>(rows.size()), nullptr);
            const int cls = q.field(2).asInteger();
            for (const auto& [idx, name] : rows[*row].classes)
                if (idx == cls) {
                    classes[static_cast<size_t>(*row)] = &name;
                    break;
                }
        }
    }

    // A resolver's line carries the class of the user's first right, the first the query gives.
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

    QByteArray out;
    for (const ExportListUser& u : users) {
        const QByteArray head = cp1251::encode(u.login + QLatin1Char('@') + u.fullName + QStringLiteral("@5093@"));
        if (resolvers) {
            const auto r = resolvers->constFind(u.id);
            if (r != resolvers->constEnd()) {
                out += head + cp1251::encode(r->sdText + QStringLiteral("@@") + r->destTxt + QLatin1Char('@') + r->resPost +
                                             QLatin1Char('@') + firstClass.value(u.id)) +
                       "\r\n";
                continue;
            }
        }
        const auto classes = shown.constFind(u.id);
        if (classes == shown.constEnd())
            continue;
        for (size_t i = 0; i < classes->size(); ++i)
            if (const QByteArray* name = (*classes)[i])
                out.append(head).append(rows[static_cast<qsizetype>(i)].caption).append('@').append(*name).append("\r\n", 2);
    }
    return out;
}

void WriteExportFile(const QString& path, const QByteArray& bytes)
{
    WriteFileAtomically(path, bytes, NewFileAccess::Shared);
}
