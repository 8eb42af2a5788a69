// Fetching 100,000 rows of five columns (integers and Cyrillic text) from an embedded
// database through the connection layer, against two yardsticks in the same run: the same
// fetch written straight on the Firebird OO API (typed message, one status, read-only
// transaction), and isql-fb selecting the rows into /dev/null. Each side attaches, fetches
// every row, touches every value and detaches; the row counts are checked. Prints medians
// and ratios.
#include "db/Database.h"
#include "db/Query.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "RawAttach.h"
#include "Report.h"

#include <firebird/Interface.h>
#include <firebird/Message.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kRows = 100000;
constexpr int kRuns = 7;

void connectEmbedded(db::Database& d, const QString& path)
{
    d.setDriverName(QStringLiteral("INTRBASE"));
    d.params() = {{QStringLiteral("SERVER NAME"), path}, {QStringLiteral("USER NAME"), QStringLiteral("SYSDBA")}};
    d.connect();
}

// The floor: what the client library itself costs for the same rows.
qint64 rawFetch(const QString& path, const QString& sql, int& rows)
{
    using namespace Firebird;
    IMaster* master = fb_get_master_interface();
    ThrowStatusWrapper st(master->getStatus());
    IAttachment* att = AttachEmbeddedRaw(st, path);
    const unsigned char tpb[] = {isc_tpb_version3, isc_tpb_read, isc_tpb_read_committed, isc_tpb_rec_version, isc_tpb_nowait};
    ITransaction* tra = att->startTransaction(&st, sizeof tpb, tpb);
    FB_MESSAGE(Out, ThrowStatusWrapper, (FB_INTEGER, id)(FB_INTEGER, dept)(FB_VARCHAR(60), fullName)(FB_VARCHAR(40), city)(FB_INTEGER, flags))
    out(&st, master);
    const QByteArray text = sql.toUtf8();
    IResultSet* rs = att->openCursor(&st, tra, static_cast<unsigned>(text.size()), text.constData(), 1, nullptr, nullptr,
                                     out.getMetadata(), nullptr, 0);
    qint64 sum = 0;
    rows = 0;
    while (rs->fetchNext(&st, out.getData()) == IStatus::RESULT_OK) {
        sum += out->id + out->dept + out->flags + out->fullName.length + out->city.length;
        ++rows;
    }
    rs->close(&st);
    tra->commit(&st);
    att->detach(&st);
    st.dispose();
    return sum;
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

    std::vector<double> layer, raw, isql;
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

        t.restart();
        int rawRows = 0;
        checksum -= rawFetch(path, sql, rawRows);
        raw.push_back(t.nsecsElapsed() / 1e6);
        if (rawRows != kRows) {
            std::fprintf(stderr, "raw fetch read %d rows\n", rawRows);
            return 1;
        }

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
    const double a = Median(layer), r = Median(raw), b = Median(isql);
    // The layer counts characters, the raw fetch bytes: for cp1251 they are equal, so the two
    // sums cancel exactly when both read the same values.
    std::printf("rows: %d, runs: %d (checksums %s)\n", kRows, kRuns, checksum == 0 ? "agree" : "DIFFER");
    std::printf("database file on: %s\n", qPrintable(StorageOf(path)));
    std::printf("connection layer: %.1f ms (median, including attach)\n", a);
    std::printf("raw OO API: %.1f ms (median, including attach)\n", r);
    std::printf("isql-fb > /dev/null: %.1f ms (median, including start-up and attach)\n", b);
    std::printf("ratio layer / raw: %.2f\n", a / r);
    std::printf("ratio layer / isql: %.2f\n", a / b);
    std::printf("peak resident memory of this process: %ld KiB\n", PeakResidentKb());
    if (checksum != 0)
        return 1;
    return 0;
}
