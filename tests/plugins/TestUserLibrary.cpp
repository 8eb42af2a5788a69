// A user library for the tests: records every call in the file named by
// GATEKEEP_TEST_USERLIB_LOG, one line a call, the texts as the library received them.
// Built twice: with SetNewUser and UpdateUserDetails both (USERLIB_BOTH), and with
// UpdateUserDetails alone. What it is given steers it:
//   a database naming "refuse" makes InitDLL return false, "init-throws" makes it throw;
//   the class or login name "throws" makes the user call throw.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

namespace {

#ifdef USERLIB_BOTH
const char* const kName = "both";
#else
const char* const kName = "details";
#endif

void record(const std::string& line)
{
    const char* path = std::getenv("GATEKEEP_TEST_USERLIB_LOG");
    if (!path || !*path)
        return;
    if (FILE* f = std::fopen(path, "ab")) {
        const std::string text = std::string(kName) + ' ' + line + '\n';
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
}

} // namespace

extern "C" {

__attribute__((visibility("default"))) unsigned char InitDLL(std::uintptr_t window, const char* database, const char* credential1,
                                                             const char* credential2)
{
    record(std::string("InitDLL window=") + (window ? "set" : "0") + " db=" + database + " c1=" + credential1 + " c2=" + credential2);
    if (std::strstr(database, "init-throws"))
        throw std::runtime_error("the library could not start");
    return std::strstr(database, "refuse") ? 0 : 1;
}

#ifdef USERLIB_BOTH
__attribute__((visibility("default"))) void SetNewUser(std::int32_t userId, const char* className)
{
    record("SetNewUser " + std::to_string(userId) + " " + className);
    if (std::strcmp(className, "throws") == 0)
        throw std::runtime_error("no such class here");
}
#endif

__attribute__((visibility("default"))) void UpdateUserDetails(std::int32_t userId, const char* loginName, const char* password)
{
    record("UpdateUserDetails " + std::to_string(userId) + " " + loginName + " " + password);
    if (std::strcmp(loginName, "throws") == 0)
        throw std::runtime_error("no such user here");
}

__attribute__((visibility("default"))) void FreeDLL() { record("FreeDLL"); }
}
