// Client libraries opened on first use: a library or symbol that is not there is a clear error
// naming it, never a crash, and a found one is the library's own function.
#include "db/Error.h"
#include "db/LazyLibrary.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(LazyLibrary, ResolvesOnFirstUseAndNamesWhatIsMissing)
{
    db::LazyLibrary missing("libgatekeep-no-such-library.so.9");
    try {
        missing.resolve("anything");
        FAIL() << "a missing library resolved";
    } catch (const db::Error& e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("libgatekeep-no-such-library.so.9"))) << e.message().toStdString();
    }
    // Asked again, it fails the same way rather than crashing.
    EXPECT_THROW(missing.resolve("anything"), db::Error);

    db::LazyLibrary libc("libc.so.6");
    const auto length = libc.symbol<size_t (*)(const char*)>("strlen");
    EXPECT_EQ(length("gatekeep"), 8u);
    try {
        libc.resolve("gatekeep_no_such_symbol");
        FAIL() << "a missing symbol resolved";
    } catch (const db::Error& e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("gatekeep_no_such_symbol"))) << e.message().toStdString();
    }
}
