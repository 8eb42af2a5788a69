#include "support/QtPrinters.h"
#include "db/SqlParams.h"

#include <gtest/gtest.h>

TEST(SqlParams, FindsNamesOutsideLiteralsAndComments)
{
    struct Case {
        const char* sql;
        const char* expected;
        QStringList names;
    };
    const Case cases[] = {
        {"select * from t where a = :a and b = :B", "select * from t where a = ?1 and b = ?2", {"a", "B"}},
        {"insert into t values (:id, :id)", "insert into t values (?1, ?2)", {"id", "id"}},
        {"select ':no', \":no\", 'it''s :no' from t where x = :x", "select ':no', \":no\", 'it''s :no' from t where x = ?1", {"x"}},
        {"select a::text from t -- :no\nwhere b = :yes_1", "select a::text from t -- :no\nwhere b = ?1", {"yes_1"}},
        {"select /* :no */ 1 from t where c=:c", "select /* :no */ 1 from t where c=?1", {"c"}},
        {"select 'unterminated :no", "select 'unterminated :no", {}},
        {"update t set a = :имe", "update t set a = ?1", {"имe"}},
        {"select 1 from t where a = : b", "select 1 from t where a = : b", {}},
    };
    for (const Case& c : cases) {
        const auto parsed = db::parseNamedParams(QString::fromUtf8(c.sql), [](int i) { return QStringLiteral("?%1").arg(i); });
        EXPECT_EQ(parsed.sql, QString::fromUtf8(c.expected)) << c.sql;
        EXPECT_EQ(parsed.names, c.names) << c.sql;
    }
}
