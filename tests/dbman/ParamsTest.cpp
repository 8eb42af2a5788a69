// Filter conditions and parameter lists, checked on managers that are never opened: building a
// condition touches no database.
#include "dbman/IBDBXMan.h"
#include "dbman/PGDBXMan.h"

#include "db/Error.h"

#include <QDateTime>

#include <gtest/gtest.h>

namespace {

enum class Kind { Base, IB, PG };

std::unique_ptr<tDBXMan> manOf(Kind kind)
{
    if (kind == Kind::PG)
        return std::make_unique<TPGDBXMan>(QString(), QStringLiteral("x"), QString(), QStringLiteral("u"), QString());
    return std::make_unique<TIBDBXMan>(QStringLiteral("x.fdb"), QStringLiteral("u"), QString());
}

struct AddPrmCase {
    const char* name;
    Kind kind;
    const char* field;
    TFieldType type;
    QVariant value;
    qint16 mode;
    int existing;             // parameters already in the list
    const char* paramName;    // empty: no parameter added
    const char* cond;
    QVariant stored;
    bool bound;
};

void PrintTo(const AddPrmCase& c, std::ostream* os) { *os << c.name; }

const QVariant kNull;

const AddPrmCase kAddPrmCases[] = {
    {"BaseStartsWith", Kind::Base, "u.name", TFieldType::ftString, QStringLiteral("Ив"), 0, 0, "prmu_name", "u.name starting :prmu_name",
     QStringLiteral("Ив"), true},
    {"BaseContainsDotAndSpace", Kind::Base, "a.b c", TFieldType::ftString, QStringLiteral("x"), 1, 0, "prma_b_c",
     "a.b c containing :prma_b_c", QStringLiteral("x"), true},
    {"BaseEqualsForOtherModes", Kind::Base, "code", TFieldType::ftString, QStringLiteral("7"), 5, 0, "prmcode", "code = :prmcode",
     QStringLiteral("7"), true},
    {"BaseIntegerIsAlwaysEquals", Kind::Base, "id", TFieldType::ftInteger, 12, 0, 0, "prmid", "id = :prmid", 12, true},
    {"BaseEmptyFieldTakesTheCount", Kind::Base, "", TFieldType::ftInteger, 5, 2, 3, "prm3", "3 = :prm3", 5, true},
    {"BaseNullDateTimeIsUnbound", Kind::Base, "d", TFieldType::ftDateTime, kNull, 2, 0, "prmd", "d = :prmd", kNull, false},
    {"IBStartsWith", Kind::IB, "RDB$RELATION_NAME", TFieldType::ftString, QStringLiteral("T"), 0, 0, "prmRDB$RELATION_NAME",
     "RDB$RELATION_NAME starting :prmRDB$RELATION_NAME", QStringLiteral("T"), true},
    {"IBContains", Kind::IB, "a.b c", TFieldType::ftString, QStringLiteral("x"), 1, 0, "prma_b_c", "a.b c containing :prma_b_c",
     QStringLiteral("x"), true},
    {"IBEmptyFieldKeepsItsName", Kind::IB, "", TFieldType::ftInteger, 5, 2, 3, "prm", " = :prm", 5, true},
    {"IBNullDateTimeStaysBound", Kind::IB, "d", TFieldType::ftDateTime, kNull, 2, 0, "prmd", "d = :prmd", kNull, true},
    {"PGStartsWithEscapes", Kind::PG, "u.name", TFieldType::ftString, QStringLiteral("a_b"), 0, 0, "prmu_name",
     " u.name ilike :prmu_name ", QStringLiteral("a\\_b%"), true},
    {"PGContainsEscapesPercentAndBackslash", Kind::PG, "n", TFieldType::ftString, QStringLiteral("50%\\x"), 1, 0, "prmn",
     " n ilike :prmn ", QStringLiteral("%50\\%\\\\x%"), true},
    {"PGEqualsKeepsTheValue", Kind::PG, "n", TFieldType::ftString, QStringLiteral("50%\\x"), 2, 0, "prmn", "n = :prmn",
     QStringLiteral("50%\\x"), true},
    {"PGIntegerEquals", Kind::PG, "id", TFieldType::ftInteger, 3, 1, 0, "prmid", "id = :prmid", 3, true},
    {"PGNullDateTimeIsNullWithoutParameter", Kind::PG, "d", TFieldType::ftDateTime, kNull, 2, 0, "", "d = null ", kNull, true},
};

class AddPrmVal : public testing::TestWithParam<AddPrmCase> {};

TEST_P(AddPrmVal, NamesTheParameterAndBuildsTheCondition)
{
    const AddPrmCase& c = GetParam();
    auto man = manOf(c.kind);
    TParams params;
    for (int i = 0; i < c.existing; ++i)
        params.CreateParam(TFieldType::ftInteger, QStringLiteral("p%1").arg(i), TParamType::ptInput);
    QString cond;
    if (c.kind == Kind::Base)
        man->TDBBaseMan::addprmval(params, QString::fromUtf8(c.field), c.type, c.value, c.mode, cond);
    else
        man->addprmval(params, QString::fromUtf8(c.field), c.type, c.value, c.mode, cond);
    EXPECT_EQ(cond, QString::fromUtf8(c.cond));
    if (!*c.paramName) {
        EXPECT_EQ(params.Count(), c.existing);
        return;
    }
    ASSERT_EQ(params.Count(), c.existing + 1);
    const TParam& p = params[c.existing];
    EXPECT_EQ(p.Name, QString::fromUtf8(c.paramName));
    EXPECT_EQ(p.DataType, c.type);
    EXPECT_EQ(p.ParamType, TParamType::ptInputOutput);
    EXPECT_EQ(p.IsNull(), c.stored.isNull());
    if (!c.stored.isNull())
        EXPECT_EQ(p.Value, c.stored);
    EXPECT_EQ(p.Bound, c.bound);
}

INSTANTIATE_TEST_SUITE_P(Cases, AddPrmVal, testing::ValuesIn(kAddPrmCases),
                         [](const testing::TestParamInfo<AddPrmCase>& i) { return std::string(i.param.name); });

struct AddPrmCondCase {
    const char* name;
    Kind kind;
    const char* field;
    TFieldType type;
    qint16 mode;
    const char* paramName;
    const char* text;
    QVariant stored;
};

void PrintTo(const AddPrmCondCase& c, std::ostream* os) { *os << c.name; }

const AddPrmCondCase kAddPrmCondCases[] = {
    {"IBStarting", Kind::IB, "f.x", TFieldType::ftString, 0, "prmf_x", " starting :prmf_x", kNull},
    {"IBContaining", Kind::IB, "f", TFieldType::ftString, 1, "prmf", " containing :prmf", kNull},
    {"IBEqualsLeavesTheValueUnset", Kind::IB, "f", TFieldType::ftInteger, 0, "prmf", " = :prmf", kNull},
    {"IBEmptyFieldTakesTheCount", Kind::IB, "", TFieldType::ftString, 2, "prm1", " = :prm1", kNull},
    {"PGIlikeEscapes", Kind::PG, "f", TFieldType::ftString, 1, "prmf", " ilike :prmf ", QStringLiteral("%a\\_b%")},
    {"PGEqualsStoresTheValue", Kind::PG, "f", TFieldType::ftString, 2, "prmf", " = :prmf", QStringLiteral("a_b")},
    {"PGEmptyFieldTakesTheCount", Kind::PG, "", TFieldType::ftString, 0, "prm1", " ilike :prm1 ", QStringLiteral("a\\_b%")},
};

class AddPrmCond : public testing::TestWithParam<AddPrmCondCase> {};

TEST_P(AddPrmCond, BuildsTheRightHandSide)
{
    const AddPrmCondCase& c = GetParam();
    auto man = manOf(c.kind);
    TParams params;
    params.CreateParam(TFieldType::ftInteger, QStringLiteral("first"), TParamType::ptInput);
    QString text;
    man->addprmcond(params, QString::fromUtf8(c.field), c.type, QStringLiteral("a_b"), c.mode, text);
    EXPECT_EQ(text, QString::fromUtf8(c.text));
    ASSERT_EQ(params.Count(), 2);
    EXPECT_EQ(params[1].Name, QString::fromUtf8(c.paramName));
    EXPECT_EQ(params[1].ParamType, TParamType::ptInputOutput);
    EXPECT_EQ(params[1].Value, c.stored);
}

INSTANTIATE_TEST_SUITE_P(Cases, AddPrmCond, testing::ValuesIn(kAddPrmCondCases),
                         [](const testing::TestParamInfo<AddPrmCondCase>& i) { return std::string(i.param.name); });

TEST(ParamsTest, AddPrmRefGivesTheReferenceAndBindsANull)
{
    auto man = manOf(Kind::IB);
    TParams params;
    QString ref;
    man->addprmref(params, QStringLiteral("t.name"), ref, QStringLiteral("X"), TFieldType::ftString);
    EXPECT_EQ(ref, QStringLiteral(":prmt_name"));
    man->addprmref(params, QString(), ref, QVariant(), TFieldType::ftInteger);
    EXPECT_EQ(ref, QStringLiteral(":prm1"));
    ASSERT_EQ(params.Count(), 2);
    EXPECT_EQ(params[0].Value, QStringLiteral("X"));
    EXPECT_TRUE(params[1].IsNull());
    EXPECT_TRUE(params[1].Bound);
    EXPECT_EQ(params[1].ParamType, TParamType::ptInputOutput);
}

TEST(ParamsTest, BetweenCondIsTheSameInBothDialects)
{
    for (Kind kind : {Kind::IB, Kind::PG}) {
        QString cond;
        manOf(kind)->BetweenCond(QStringLiteral("d"), QStringLiteral(":lo"), QStringLiteral(":hi"), cond);
        EXPECT_EQ(cond, QStringLiteral(" d between :lo and :hi "));
    }
}

TEST(ParamsTest, NamesMatchWithoutCaseAndAnUnknownNameRaises)
{
    TParams params;
    params.CreateParam(TFieldType::ftInteger, QStringLiteral("U_Id"), TParamType::ptInput);
    params.ParamByName(QStringLiteral("u_id")).SetValue(7);
    EXPECT_EQ(params.ParamByName(QStringLiteral("U_ID")).Value, 7);
    EXPECT_THROW(params.ParamByName(QStringLiteral("U_RNm")), db::Error);
}

// Values go to the target by name; a date-time is written as a timestamp and a Null one clears
// the target; a blob is read as text; names that the target lacks are skipped.
TEST(ParamsTest, CopyPrmsValCopiesByNameAndType)
{
    auto man = manOf(Kind::IB);
    TParams source;
    source.CreateParam(TFieldType::ftInteger, QStringLiteral("ID"), TParamType::ptInput).SetValue(5);
    source.CreateParam(TFieldType::ftDateTime, QStringLiteral("at"), TParamType::ptInput).SetValue(QDate(2024, 2, 29));
    source.CreateParam(TFieldType::ftDateTime, QStringLiteral("gone"), TParamType::ptInput);
    source.CreateParam(TFieldType::ftBlob, QStringLiteral("body"), TParamType::ptInput).SetValue(QByteArray("abc"));
    source.CreateParam(TFieldType::ftString, QStringLiteral("extra"), TParamType::ptInput).SetValue(QStringLiteral("x"));
    TParams target;
    for (const char* n : {"id", "AT", "Gone", "BODY"})
        target.CreateParam(TFieldType::ftUnknown, QString::fromLatin1(n), TParamType::ptInput);
    target.ParamByName(QStringLiteral("gone")).SetValue(1);

    man->copyprmsval(source, target);
    EXPECT_EQ(target.Count(), 4);
    EXPECT_EQ(target.ParamByName(QStringLiteral("id")).Value, 5);
    EXPECT_EQ(target.ParamByName(QStringLiteral("id")).DataType, TFieldType::ftInteger);
    EXPECT_EQ(target.ParamByName(QStringLiteral("at")).Value.typeId(), QMetaType::QDateTime);
    EXPECT_EQ(target.ParamByName(QStringLiteral("at")).Value.toDateTime().date(), QDate(2024, 2, 29));
    EXPECT_TRUE(target.ParamByName(QStringLiteral("gone")).IsNull());
    EXPECT_EQ(target.ParamByName(QStringLiteral("body")).Value, QStringLiteral("abc"));
}

struct LimitCase {
    const char* name;
    Kind kind;
    QString sql;
    int rows;
    QString result;
};

void PrintTo(const LimitCase& c, std::ostream* os) { *os << c.name; }

QString longSelect()
{
    QStringList cols;
    for (int i = 0; i < 150; ++i)
        cols << QStringLiteral("col_%1").arg(i, 4, 10, QLatin1Char('0'));
    return cols.join(QStringLiteral(", ")) + QStringLiteral(" from t where id > 0");
}

const LimitCase kLimitCases[] = {
    {"IBAfterSelect", Kind::IB, QStringLiteral("select a from t"), 10, QStringLiteral("select  first 10 a from t")},
    {"IBFirstSelectOnly", Kind::IB, QStringLiteral("SELECT a from (select b from t)"), 3, QStringLiteral("SELECT  first 3 a from (select b from t)")},
    {"IBKeepsALongQueryWhole", Kind::IB, QStringLiteral("select ") + longSelect(), 5, QStringLiteral("select  first 5 ") + longSelect()},
    {"PGAppends", Kind::PG, QStringLiteral("select a from t"), 10, QStringLiteral("select a from t limit 10 ")},
    {"PGKeepsALongQueryWhole", Kind::PG, QStringLiteral("select ") + longSelect(), 5, QStringLiteral("select ") + longSelect() + QStringLiteral(" limit 5 ")},
};

class LimitRows : public testing::TestWithParam<LimitCase> {};

TEST_P(LimitRows, LimitsTheWholeQuery)
{
    QString result;
    manOf(GetParam().kind)->LimitRows(GetParam().sql, GetParam().rows, result);
    EXPECT_EQ(result, GetParam().result);
}

INSTANTIATE_TEST_SUITE_P(Cases, LimitRows, testing::ValuesIn(kLimitCases),
                         [](const testing::TestParamInfo<LimitCase>& i) { return std::string(i.param.name); });

TEST(ParamsTest, IBLimitRowsWithoutSelectRaises)
{
    QString result;
    try {
        manOf(Kind::IB)->LimitRows(QStringLiteral("update t set a = 1"), 3, result);
        FAIL() << "no error";
    } catch (const db::Error& e) {
        EXPECT_EQ(e.message(), QStringLiteral("Incomplete sql request -- missing \"elect\""));
    }
}

// Output parameters are never arguments; with no inputs Firebird writes nothing and
// PostgreSQL an empty pair of parentheses.
TEST(ParamsTest, ProcedureArgumentLists)
{
    TParams params;
    params.CreateParam(TFieldType::ftInteger, QStringLiteral("U_Id"), TParamType::ptInput);
    params.CreateParam(TFieldType::ftString, QStringLiteral("U_RNm"), TParamType::ptInputOutput);
    params.CreateParam(TFieldType::ftInteger, QStringLiteral("RES"), TParamType::ptOutput);
    EXPECT_EQ(TIBDBXMan::ProcArguments(&params, QStringLiteral(":")), QStringLiteral("( :U_Id,:U_RNm)"));
    EXPECT_EQ(TPGDBXMan::ProcArguments(&params, QStringLiteral(":")), QStringLiteral("( :U_Id,:U_RNm)"));
    TParams outputs;
    outputs.CreateParam(TFieldType::ftInteger, QStringLiteral("RES"), TParamType::ptOutput);
    EXPECT_EQ(TIBDBXMan::ProcArguments(&outputs, QStringLiteral(":")), QString());
    EXPECT_EQ(TPGDBXMan::ProcArguments(&outputs, QStringLiteral(":")), QStringLiteral("()"));
    EXPECT_EQ(TPGDBXMan::ProcArguments(nullptr, QStringLiteral(":")), QStringLiteral("()"));
}

TEST(ParamsTest, DialectConstantsAndDriverSettings)
{
    TIBDBXMan ib(QStringLiteral("srv/3050:C:\\db\\x.gdb"), QStringLiteral("u"), QStringLiteral("p"));
    EXPECT_EQ(ib.ParamPrefix, QStringLiteral(":"));
    EXPECT_EQ(ib.NowExpr, QStringLiteral("\"now\""));
    EXPECT_EQ(ib.ConnDescr, QStringLiteral("srv/3050:C:\\db\\x.gdb"));
    EXPECT_EQ(TIBDBXMan::DriverParams().size(), 15);
    EXPECT_TRUE(TIBDBXMan::DriverParams().contains(QStringLiteral("Interbase TransIsolation=ReadCommited")));
    EXPECT_EQ(ib.ConnectionParams().value(QStringLiteral("Database")), QStringLiteral("srv/3050:C:\\db\\x.gdb"));
    EXPECT_GT(ib.LockTimeout(), 0); // WaitOnLocks=True

    TPGDBXMan pg(QStringLiteral("pghost"), QStringLiteral("crm"), QStringLiteral("5433"), QStringLiteral("u"), QStringLiteral("p"));
    EXPECT_EQ(pg.NowExpr, QStringLiteral("localtimestamp"));
    EXPECT_EQ(pg.ConnDescr, QStringLiteral("pghost/5433:crm"));
    EXPECT_EQ(TPGDBXMan::DriverParams().first(), QStringLiteral("ConnectionName=Devart PostgreSQL"));
    EXPECT_EQ(pg.ConnectionParams().value(QStringLiteral("HostName")), QStringLiteral("pghost"));
    EXPECT_EQ(pg.ConnectionParams().value(QStringLiteral("Server Port")), QStringLiteral("5433"));
}

// A text without a server part reaches the local default server, never port 0.
TEST(ParamsTest, PGWithoutHostOrPortUsesTheLocalDefaultServer)
{
    for (const QString& port : {QString(), QStringLiteral("0")}) {
        TPGDBXMan pg(QString(), QStringLiteral("crm"), port, QStringLiteral("u"), QString());
        EXPECT_EQ(pg.ConnDescr, QStringLiteral("127.0.0.1/5432:crm"));
        EXPECT_EQ(pg.ConnectionParams().value(QStringLiteral("HostName")), QStringLiteral("127.0.0.1"));
        EXPECT_EQ(pg.ConnectionParams().value(QStringLiteral("Server Port")), QStringLiteral("5432"));
    }
}

} // namespace
