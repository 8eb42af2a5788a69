// Procedures for library steps in the update tests. Each works through the connection and the
// transaction the runner hands over, writing one row into LIB_LOG (N integer).
//   InsertRow         writes N = 1 and succeeds
//   InsertThenFail    writes N = 2 and reports failure
//   InsertAndHold     writes N = 3, creates the file $GK_TEST_STEP_HELD and waits until
//                     $GK_TEST_STEP_RELEASE exists: a test knows the step is under way, its row
//                     written and not committed, and decides when it ends
#include <ibase.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include <sys/stat.h>

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {

thread_local std::uint32_t g_transaction = 0;

bool insert(std::uint32_t dbHandle, int n)
{
    ISC_STATUS_ARRAY status{};
    isc_db_handle db = dbHandle;
    isc_tr_handle tr = g_transaction;
    char sql[64];
    std::snprintf(sql, sizeof sql, "insert into LIB_LOG (N) values (%d)", n);
    return isc_dsql_execute_immediate(status, &db, &tr, 0, sql, 1, nullptr) == 0;
}

bool exists(const char* path)
{
    struct stat st;
    return path && stat(path, &st) == 0;
}

} // namespace

EXPORT void SetStepTransaction(std::uint32_t trHandle) { g_transaction = trHandle; }

EXPORT std::int32_t InsertRow(std::uint32_t, std::uint32_t dbHandle) { return insert(dbHandle, 1) ? 0 : 1; }

EXPORT std::int32_t InsertThenFail(std::uint32_t, std::uint32_t dbHandle)
{
    insert(dbHandle, 2);
    return 5;
}

EXPORT std::int32_t InsertAndHold(std::uint32_t, std::uint32_t dbHandle)
{
    if (!insert(dbHandle, 3))
        return 1;
    if (const char* held = std::getenv("GK_TEST_STEP_HELD"))
        if (FILE* f = std::fopen(held, "w"))
            std::fclose(f);
    const char* release = std::getenv("GK_TEST_STEP_RELEASE");
    while (release && !exists(release))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return 0;
}
