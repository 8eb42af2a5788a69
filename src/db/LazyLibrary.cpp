#include "LazyLibrary.h"

#include "Error.h"

#include <dlfcn.h>

namespace db {

void* LazyLibrary::resolve(const char* name)
{
    std::call_once(m_once, [this] {
        m_handle = dlopen(m_soname, RTLD_NOW | RTLD_LOCAL);
        if (!m_handle)
            m_error = QString::fromLocal8Bit(dlerror());
    });
    if (!m_handle)
        throw Error(QStringLiteral("Библиотеката %1 не може да бъде заредена: %2").arg(QLatin1String(m_soname), m_error));
    if (void* p = dlsym(m_handle, name))
        return p;
    throw Error(QStringLiteral("В библиотеката %1 липсва %2").arg(QLatin1String(m_soname), QLatin1String(name)));
}

} // namespace db
