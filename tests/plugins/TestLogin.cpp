// A login library for start-up tests. It writes every call to the file named by
// GK_TEST_LOGIN_LOG and answers as GK_TEST_LOGIN_RESULT, GK_TEST_LOGIN_USERS and
// GK_TEST_LOGIN_RIGHTS say. Built once with every entry point and once without ExternalLogin.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {

void log(const char* fmt, const char* a = "", const char* b = "", long c = 0, long d = 0)
{
    const char* file = std::getenv("GK_TEST_LOGIN_LOG");
    if (!file)
        return;
    if (FILE* f = std::fopen(file, "a")) {
        std::fprintf(f, fmt, a, b, c, d);
        std::fputc('\n', f);
        std::fclose(f);
    }
}

[[maybe_unused]] int envInt(const char* name)
{
    const char* v = std::getenv(name);
    return v ? std::atoi(v) : 0;
}

void shortString(unsigned char* field, const char* text)
{
    const std::size_t n = std::strlen(text);
    field[0] = static_cast<unsigned char>(n);
    std::memcpy(field + 1, text, n);
}

// The entries the program allocated: zero-filled, with the count in the header before them.
void checkArray(const char* what, std::uint32_t* ref, int entrySize)
{
    auto* entries = reinterpret_cast<unsigned char*>(static_cast<std::uintptr_t>(*ref));
    const auto* header = reinterpret_cast<const std::int32_t*>(entries - 8);
    long nonZero = 0;
    for (long i = 0; i < static_cast<long>(header[1]) * entrySize; ++i)
        nonZero += entries[i] != 0;
    log("%s refcount=%s count=%ld nonzero=%ld", what, header[0] == 1 ? "1" : "?", header[1], nonZero);
    for (int i = 0; i < header[1]; ++i)
        shortString(entries + i * entrySize, "entry");
}

} // namespace

#ifndef NO_EXTERNAL_LOGIN
EXPORT unsigned char ExternalLogin(void*, const char* app, const char* alias, unsigned char flagA, unsigned char flagB, unsigned char* rec)
{
    char presets[128];
    std::snprintf(presets, sizeof presets, "%.*s|%.*s", rec[502], reinterpret_cast<const char*>(rec + 503), rec[553],
                  reinterpret_cast<const char*>(rec + 554));
    log("ExternalLogin %s %s %ld %ld", app, alias, flagA, flagB);
    log("presets %s", presets);
    shortString(rec + 0, "srv:/db/sys.fdb");
    shortString(rec + 251, "/db/sys.fdb");
    shortString(rec + 659, "cred1");
    shortString(rec + 710, "cred2");
    const std::int32_t users = envInt("GK_TEST_LOGIN_USERS");
    const std::int32_t rights = envInt("GK_TEST_LOGIN_RIGHTS");
    std::memcpy(rec + 1916, &users, 4);
    std::memcpy(rec + 1924, &rights, 4);
    return static_cast<unsigned char>(envInt("GK_TEST_LOGIN_RESULT"));
}
#endif

EXPORT void GetUserRights(std::uint32_t* ref)
{
    log("GetUserRights");
    checkArray("rights", ref, 255);
}

EXPORT void GetAppUsersList(std::uint32_t* ref)
{
    log("GetAppUsersList");
    checkArray("users", ref, 108);
}

EXPORT void SetClientNames(const char* a, const char* b)
{
    log("SetClientNames %s %s", a ? "set" : "null", b ? "set" : "null");
}
