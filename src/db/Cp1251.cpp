#include "Cp1251.h"

#include "Error.h"

#include <array>

namespace cp1251 {
namespace {

constexpr char16_t kHigh[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
};

// Reverse map for the characters above U+007F: all of them lie below U+2200.
struct Reverse {
    std::array<unsigned char, 0x2200> bytes{};
    Reverse()
    {
        for (int i = 0; i < 128; ++i)
            bytes[kHigh[i]] = static_cast<unsigned char>(0x80 + i);
    }
};

const Reverse& reverse()
{
    static const Reverse r;
    return r;
}

} // namespace

QChar charOf(unsigned char byte)
{
    return byte < 0x80 ? QChar(byte) : QChar(kHigh[byte - 0x80]);
}

int byteOf(QChar c)
{
    const char16_t u = c.unicode();
    if (u < 0x80)
        return u;
    if (u >= 0x2200)
        return -1;
    const unsigned char b = reverse().bytes[u];
    return b ? b : -1;
}

QString decode(const char* data, qsizetype size)
{
    QString out(size, Qt::Uninitialized);
    QChar* dst = out.data();
    for (qsizetype i = 0; i < size; ++i) {
        const auto b = static_cast<unsigned char>(data[i]);
        dst[i] = b < 0x80 ? QChar(b) : QChar(kHigh[b - 0x80]);
    }
    return out;
}

bool tryEncode(const QString& text, QByteArray& out, QChar* offending, qsizetype* position)
{
    out.resize(text.size());
    char* dst = out.data();
    const QChar* src = text.constData();
    for (qsizetype i = 0; i < text.size(); ++i) {
        const int b = byteOf(src[i]);
        if (b < 0) {
            if (offending)
                *offending = src[i];
            if (position)
                *position = i;
            out.clear();
            return false;
        }
        dst[i] = static_cast<char>(b);
    }
    return true;
}

QString refusal(const QString& text, qsizetype position, const QString& field)
{
    char32_t code = text[position].unicode();
    if (text[position].isHighSurrogate() && position + 1 < text.size() && text[position + 1].isLowSurrogate())
        code = QChar::surrogateToUcs4(text[position], text[position + 1]);
    const QString codePoint = QString::number(code, 16).toUpper().rightJustified(4, QLatin1Char('0'));
    const QString what = field.isEmpty() ? QStringLiteral("Текст от %1 знака").arg(text.size())
                                         : QStringLiteral("%1 (%2 знака)").arg(field).arg(text.size());
    return QStringLiteral("%1: знакът на позиция %2 (U+%3) няма запис в кодовата таблица windows-1251")
        .arg(what)
        .arg(position + 1)
        .arg(codePoint);
}

QByteArray encode(const QString& text, const QString& field)
{
    QByteArray out;
    qsizetype position = 0;
    if (!tryEncode(text, out, nullptr, &position))
        throw db::Error(refusal(text, position, field));
    return out;
}

bool canEncode(const QString& text)
{
    for (QChar c : text)
        if (byteOf(c) < 0)
            return false;
    return true;
}

} // namespace cp1251
