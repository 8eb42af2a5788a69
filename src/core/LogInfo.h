#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>

// The login record shared with the login library: 1932 bytes whose offsets are a wire format.
// A short string of N is a length byte followed by N cp1251 characters.
#pragma pack(push, 1)
struct TLogInfoRec {
    unsigned char ServerName[251];     // 0: server and database file of the system database
    unsigned char Location[251];       // 251: location of the system database as the library reports it
    unsigned char LoginName[51];       // 502
    unsigned char Password[51];        // 553
    unsigned char Reserved1[55];       // 604: the library's
    unsigned char Credential1[51];     // 659: handed on to per-application user libraries
    unsigned char Credential2[51];     // 710
    unsigned char Reserved2[1155];     // 761: the library's
    std::int32_t UsersCount;           // 1916
    std::uint32_t UsersList;           // 1920: 32-bit address of the first of UsersCount 108-byte entries
    std::int32_t RightsCount;          // 1924
    std::uint32_t RightsList;          // 1928: 32-bit address of the first of RightsCount 255-byte entries
};
#pragma pack(pop)

static_assert(sizeof(TLogInfoRec) == 1932);
static_assert(offsetof(TLogInfoRec, ServerName) == 0);
static_assert(offsetof(TLogInfoRec, Location) == 251);
static_assert(offsetof(TLogInfoRec, LoginName) == 502);
static_assert(offsetof(TLogInfoRec, Password) == 553);
static_assert(offsetof(TLogInfoRec, Reserved1) == 604);
static_assert(offsetof(TLogInfoRec, Credential1) == 659);
static_assert(offsetof(TLogInfoRec, Credential2) == 710);
static_assert(offsetof(TLogInfoRec, Reserved2) == 761);
static_assert(offsetof(TLogInfoRec, UsersCount) == 1916);
static_assert(offsetof(TLogInfoRec, UsersList) == 1920);
static_assert(offsetof(TLogInfoRec, RightsCount) == 1924);
static_assert(offsetof(TLogInfoRec, RightsList) == 1928);

constexpr int kUsersEntrySize = 108;
constexpr int kRightsEntrySize = 255;

// Reads a short string field.
template <std::size_t N>
QString ShortString(const unsigned char (&field)[N]);
QString ShortStringAt(const unsigned char* field, int capacity);
// Writes text, cut to the field's capacity; throws db::Error when a character has no cp1251 form.
void SetShortStringAt(unsigned char* field, int capacity, const QString& text);

template <std::size_t N>
QString ShortString(const unsigned char (&field)[N])
{
    return ShortStringAt(field, static_cast<int>(N) - 1);
}
template <std::size_t N>
void SetShortString(unsigned char (&field)[N], const QString& text)
{
    SetShortStringAt(field, static_cast<int>(N) - 1, text);
}

// The process-wide record, zero-filled until the login.
TLogInfoRec& LogInfo();

// An array handed to the login library: a 32-bit reference count and a 32-bit entry count,
// then count zero-filled entries, in memory a 32-bit address reaches. Returns the 32-bit
// address of the first entry; the block lives until ReleaseLibraryArrays().
std::uint32_t AllocateLibraryArray(int count, int entrySize);
void ReleaseLibraryArrays();
