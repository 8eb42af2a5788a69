#include "StoredText.h"

#include "db/Cp1251.h"
#include "db/Error.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace {

constexpr char kKey[] = "Qm7#vT2k!Zp9$";
constexpr int kKeyLength = sizeof kKey - 1;
static_assert(kKeyLength == 13);

// The seed text: ln(c + 12) * pi * 0.8134719 in scientific notation (15 significant digits,
// three exponent digits), with its punctuation turned into digits.
std::array<char, 21> seedText(unsigned char first)
{
    const double x = std::log(first + 12.0) * std::numbers::pi * 0.8134719;
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.14E", x);
    // "%.14E" writes d.ddddddddddddddE±XX; widen the exponent to three digits.
    const char* e = buf + 16;
    const int exponent = std::atoi(e + 1);
    std::snprintf(buf + 16, sizeof buf - 16, "E%c%03d", exponent < 0 ? '-' : '+', std::abs(exponent));

    std::array<char, 21> t{};
    for (int i = 0; i < 21; ++i)
        t[i] = buf[i];
    const std::pair<char, char> swaps[] = {{'.', '5'}, {'+', '7'}, {'E', '9'}, {'-', '8'}};
    for (auto [from, to] : swaps)
        for (char& ch : t)
            if (ch == from) {
                ch = to;
                break;
            }
    t[14] = '7';
    t[15] = '3';
    t[16] = '6';
    return t;
}

[[noreturn]] void refuseLength(qsizetype length, const QString& field)
{
    const QString what = field.isEmpty() ? QStringLiteral("Текстът") : field;
    throw db::Error(QStringLiteral("%1 е дълъг %2 знака, а в базата данни могат да бъдат записани най-много %3")
                        .arg(what)
                        .arg(length)
                        .arg(kStoredTextMaxLength));
}

} // namespace

QString EncodeStoredText(const QString& text, const QString& field)
{
    if (text.isEmpty())
        return {};
    if (text.size() > kStoredTextMaxLength)
        refuseLength(text.size(), field);
    const QByteArray s = cp1251::encode(text, field);
    const int n = static_cast<int>(s.size());

    const auto seed = seedText(static_cast<unsigned char>(s[0]));
    const int v = 10 * (seed[2] - '0') + (seed[6] - '0');
    const int d = v % 10;

    // M is filled row by row: P first, then filler from the seed text, and the length last.
    std::array<unsigned char, 36> m{};
    m[0] = static_cast<unsigned char>(v);
    for (int i = 1; i <= n; ++i)
        m[i] = static_cast<unsigned char>(s[i - 1]) ^ static_cast<unsigned char>(kKey[(d + i) % kKeyLength]);
    for (int i = n + 1; i < 35; ++i)
        m[i] = static_cast<unsigned char>(seed[i % seed.size()]);
    m[35] = static_cast<unsigned char>(n + 1);

    QString out(kStoredTextLength, Qt::Uninitialized);
    int k = 0;
    for (int col = 0; col < 6; ++col)
        for (int row = 0; row < 6; ++row) {
            const unsigned char b = m[row * 6 + col];
            out[k++] = QChar(30 + b / 16);
            out[k++] = QChar(48 + b % 16);
        }
    return out;
}

namespace {

// unitAt(i) gives the UTF-16 code of the stored form's i-th character.
template <typename UnitAt>
qsizetype decodeStored(UnitAt unitAt, qsizetype size, char* out)
{
    if (size < 3)
        return 0;
    std::array<unsigned char, 36> b{};
    const qsizetype pairs = std::min<qsizetype>(36, size / 2);
    for (qsizetype j = 0; j < pairs; ++j) {
        const int c1 = unitAt(2 * j);
        const int c2 = unitAt(2 * j + 1);
        // Pascal's mod truncates towards zero, as C++'s % does; a byte keeps the low 8 bits.
        b[j] = static_cast<unsigned char>(((c1 - 30) * 16 + ((c2 - 48) % 16)) % 256);
    }
    // b holds the transposed matrix row by row; reading it column by column gives P.
    const int length = std::min<int>(b[35], 36);
    if (length < 1)
        return 0;
    std::array<unsigned char, 36> p{};
    for (int k = 0; k < length; ++k)
        p[k] = b[(k % 6) * 6 + k / 6];
    const int d = p[0] % 10;
    for (int i = 1; i < length; ++i)
        out[i - 1] = static_cast<char>(p[i] ^ static_cast<unsigned char>(kKey[(d + i) % kKeyLength]));
    return length - 1;
}

} // namespace

QString DecodeStoredText(const QString& stored)
{
    char out[kStoredTextDecodedMax];
    const qsizetype n = decodeStored([&](qsizetype i) { return static_cast<int>(stored[i].unicode()); }, stored.size(), out);
    return n > 0 ? cp1251::decode(out, n) : QString();
}

qsizetype DecodeStoredBytes(const char* stored, qsizetype size, char* out)
{
    return decodeStored([&](qsizetype i) { return static_cast<int>(cp1251::charOf(static_cast<unsigned char>(stored[i])).unicode()); },
                        size, out);
}
