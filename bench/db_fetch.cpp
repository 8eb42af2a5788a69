// Fetching 100,000 rows of five columns (integers and Cyrillic text) from an embedded
// database through the connection layer, against isql-fb selecting the same rows into
// /dev/null, in the same run. Prints the median of each and their ratio.
#include "db/Database.h"
#include "db/Query.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kRows = 100000;
constexpr int kRuns = 7;

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void connectEmbedded(db::Database& d, const QString& path)
{
    d.setDriverName(QStringLiteral("INTRBASE"));
    d.params() = {{QStringLiteral("SERVER NAME"), path}, {QStringLiteral("USER NAME"), QStringLiteral("SYSDBA")}};
    d.connect();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bench.fdb"));
    db::Database::createFirebirdDatabase(path, QStringLiteral("SYSDBA"), QString());
    {
        db::Database d;
        connectEmbedded(d, path);
        db::Query q(&d);
        q.setParamCheck(false);
        q.setSql(QStringLiteral("create table people (id integer not null primary key, dept integer, "
                                "full_name varchar(60), city varchar(40), flags integer)"));
        q.execSql();
        q.setSql(QStringLiteral("execute block as declare i integer = 0; begin "
                                "while (i < %1) do begin "
                                "insert into people values (:i, mod(:i, 97), 'Иван Петров Йорданов ' || :i, "
                                "'София-' || mod(:i, 13), mod(:i * 7, 1000)); i = i + 1; end end")
                     .arg(kRows));
        q.execSql();
    }

    const QString sql = QStringLiteral("select id, dept, full_name, city, flags from people");
    QFile script(dir.filePath(QStringLiteral("select.sql")));
    script.open(QIODevice::WriteOnly);
    script.write((sql + QStringLiteral(";\n")).toUtf8());
    script.close();

    std::vector<double> layer, isql;
    qint64 checksum = 0;
    for (int run = 0; run < kRuns; ++run) {
        QElapsedTimer t;
        t.start();
        {
            db::Database d;
            connectEmbedded(d, path);
            db::Query q(&d);
            q.setSql(sql);
            int rows = 0;
            for (q.open(); !q.eof(); q.next()) {
                checksum += q.field(0).asInteger() + q.field(1).asInteger() + q.field(4).asInteger();
                checksum += q.field(2).asString().size() + q.field(3).asString().size();
                ++rows;
            }
            if (rows != kRows) {
                std::fprintf(stderr, "fetched %d rows\n", rows);
                return 1;
            }
        }
        layer.push_back(t.nsecsElapsed() / 1e6);

        QProcess p;
        p.setStandardOutputFile(QStringLiteral("/dev/null"));
        t.restart();
        p.start(QStringLiteral("isql-fb"), {QStringLiteral("-q"), QStringLiteral("-user"), QStringLiteral("SYSDBA"),
                                            QStringLiteral("-ch"), QStringLiteral("WIN1251"), QStringLiteral("-sqldialect"),
                                            QStringLiteral("1"), QStringLiteral("-i"), script.fileName(), path});
        if (!p.waitForFinished(600000) || p.exitCode() != 0) {
            std::fprintf(stderr, "isql-fb failed: %s\n", p.readAllStandardError().constData());
            return 1;
        }
        isql.push_back(t.nsecsElapsed() / 1e6);
    }
    const double a = median(layer), b = median(isql);
    std::printf("rows: %d, runs: %d (checksum %lld)\n", kRows, kRuns, static_cast<long long>(checksum));
    std::printf("connection layer: %.1f ms (median, including attach)\n", a);
    std::printf("isql-fb > /dev/null: %.1f ms (median, including start-up and attach)\n", b);
    std::printf("ratio layer / isql: %.2f\n", a / b);
    return 0;
}
