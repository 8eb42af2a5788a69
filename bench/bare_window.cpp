// The start-up yardstick: a bare Qt window that attaches the same system database straight on
// the Firebird OO API, lists the applications, saves a screenshot of the same size and exits.
// Usage: bench_bare_window DATABASE SHOT.png
#include "RawAttach.h"

#include <QApplication>
#include <QListWidget>
#include <QMainWindow>
#include <QTimer>

#include <firebird/Message.h>

#include <cstdio>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_bare_window DATABASE SHOT.png\n");
        return 2;
    }
    QMainWindow window;
    auto* list = new QListWidget(&window);
    window.setCentralWidget(list);
    window.resize(600, 300);
    {
        using namespace Firebird;
        IMaster* master = fb_get_master_interface();
        ThrowStatusWrapper st(master->getStatus());
        IAttachment* att = AttachEmbeddedRaw(st, QString::fromLocal8Bit(argv[1]));
        ITransaction* tra = att->startTransaction(&st, 0, nullptr);
        FB_MESSAGE(Out, ThrowStatusWrapper, (FB_INTEGER, id)(FB_VARCHAR(80), name)) out(&st, master);
        const char* sql = "select APL_ID, APL_NAME from APPLICATIONS order by APL_ID";
        IResultSet* rs = att->openCursor(&st, tra, 0, sql, 1, nullptr, nullptr, out.getMetadata(), nullptr, 0);
        while (rs->fetchNext(&st, out.getData()) == IStatus::RESULT_OK)
            list->addItem(QString::number(out->id) + QLatin1Char(' ') + QString::fromLatin1(out->name.str, out->name.length));
        rs->close(&st);
        tra->commit(&st);
        att->detach(&st);
        st.dispose();
    }
    if (list->count() == 0) {
        std::fprintf(stderr, "no applications listed\n");
        return 1;
    }
    window.show();
    const QString shot = QString::fromLocal8Bit(argv[2]);
    QTimer::singleShot(0, &window, [&] { QApplication::exit(window.grab().save(shot, "PNG") ? 0 : 1); });
    return app.exec();
}
