#include "support/TestEnv.h"

#include "db/Database.h"
#include "db/Error.h"
#include "db/Query.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

// Named parameters become $n, and a cast's "::" is not a parameter.
TEST(PgTest, CastsSurviveParameterMapping)
{
    PgTestDatabase pg;
    db::Database d;
    d.setDriverName(QStringLiteral("PG"));
    d.params().setValue(QStringLiteral("SERVER NAME"), pg.conninfo());
    d.connect();
    db::Query q(&d);
    q.setSql(QStringLiteral("select :a::integer + 1, :b::text || '!', :a::integer * 2"));
    q.setParam(QStringLiteral("a"), QStringLiteral("20"));
    q.setParam(QStringLiteral("b"), QStringLiteral("Здравей"));
    q.open();
    EXPECT_EQ(q.field(0).asInteger(), 21);
    EXPECT_EQ(q.field(1).asString(), QStringLiteral("Здравей!"));
    EXPECT_EQ(q.field(2).asInteger(), 40);
}

TEST(PgTest, HostPortDatabaseFormConnects)
{
    PgTestDatabase pg;
    const QString info = pg.conninfo();
    auto part = [&](const QString& key) {
        const QRegularExpression re(key + QStringLiteral("=(\\S+)"));
        return re.match(info).captured(1);
    };
    db::Database d;
    d.setDriverName(QStringLiteral("POSTGRESQL"));
    d.params().setValue(QStringLiteral("SERVER NAME"), part(QStringLiteral("host")) + QLatin1Char('/') + part(QStringLiteral("port")) +
                                                           QLatin1Char(':') + pg.name());
    d.params().setValue(QStringLiteral("USER NAME"), part(QStringLiteral("user")));
    d.connect();
    EXPECT_TRUE(d.connected());
    EXPECT_THROW(d.nativeDatabaseHandle(), db::Error);
}
