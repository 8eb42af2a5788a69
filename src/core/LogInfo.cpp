#include "LogInfo.h"

#include "db/Cp1251.h"
#include "db/Error.h"

#include <sys/mman.h>

#include <cstring>
#include <vector>

namespace {

struct Block {
    void* base;
    std::size_t size;
};

std::vector<Block>& blocks()
{
    static std::vector<Block> b;
    return b;
}

} // namespace

QString ShortStringAt(const unsigned char* field, int capacity)
{
    const int length = std::min<int>(field[0], capacity);
    return cp1251::decode(reinterpret_cast<const char*>(field + 1), length);
}

void SetShortStringAt(unsigned char* field, int capacity, const QString& text)
{
    const QByteArray bytes = cp1251::encode(text.left(capacity));
    std::memset(field, 0, static_cast<std::size_t>(capacity) + 1);
    field[0] = static_cast<unsigned char>(bytes.size());
    std::memcpy(field + 1, bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

TLogInfoRec& LogInfo()
{
    static TLogInfoRec rec{};
    return rec;
}

std::uint32_t AllocateLibraryArray(int count, int entrySize)
{
    if (count <= 0)
        return 0;
    const std::size_t size = 8 + static_cast<std::size_t>(count) * static_cast<std::size_t>(entrySize);
    // MAP_32BIT keeps the block below 2 GiB, where the record's 32-bit references reach it.
    void* base = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
    if (base == MAP_FAILED)
        throw db::Error(QStringLiteral("Няма памет за списък от %1 елемента").arg(count));
    blocks().push_back({base, size});
    auto* header = static_cast<std::int32_t*>(base);
    header[0] = 1;     // reference count
    header[1] = count; // entry count
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(base) + 8);
}

void ReleaseLibraryArrays()
{
    for (const Block& b : blocks())
        munmap(b.base, b.size);
    blocks().clear();
}
