#pragma once

#include <QString>

#include <mutex>
#include <vector>

namespace db {

// A client library opened on its first use rather than at start-up: a program that never
// reaches a PostgreSQL database or a directory does not load libpq or libldap, nor the TLS and
// Kerberos libraries they pull in. Symbols are looked up in the library and its dependencies.
class LazyLibrary {
public:
    explicit LazyLibrary(const char* soname) : m_soname(soname) {}

    // The address of name; throws db::Error, with the loader's reason, when the library or the
    // symbol cannot be found.
    void* resolve(const char* name);

    template <typename F>
    F symbol(const char* name) { return reinterpret_cast<F>(resolve(name)); }

private:
    const char* m_soname;
    std::once_flag m_once;
    void* m_handle = nullptr;
    QString m_error;
};

} // namespace db

// Declares, in the current namespace, a function of the same name and signature as the library
// function fn that calls it through lib (a LazyLibrary&), resolving it once.
#define GK_LAZY_FUNCTION(lib, fn)                                                         \
    template <typename... Args>                                                           \
    inline auto fn(Args... args)                                                          \
    {                                                                                     \
        static const auto f = (lib).template symbol<decltype(&::fn)>(#fn);                \
        return f(args...);                                                                \
    }
