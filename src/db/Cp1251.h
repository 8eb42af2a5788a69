#pragma once

#include <QByteArray>
#include <QString>

// Windows-1251, the code page of every database and file the suite shares.
// All 256 byte values have a character (0x98 maps to U+0098), so bytes survive a round trip.
namespace cp1251 {

QString decode(const char* data, qsizetype size);
inline QString decode(const QByteArray& bytes) { return decode(bytes.constData(), bytes.size()); }

// Returns false (and the first character that has no cp1251 form, and its index) instead of writing '?'.
bool tryEncode(const QString& text, QByteArray& out, QChar* offending = nullptr, qsizetype* position = nullptr);

// Throws db::Error when a character has no cp1251 form. The message names the field (when
// given), the character's position and code point, never the value: it may be a password.
QByteArray encode(const QString& text, const QString& field = {});

// The text of that refusal, for callers that check with tryEncode first.
QString refusal(const QString& text, qsizetype position, const QString& field = {});

bool canEncode(const QString& text);

// The cp1251 code of one character, or -1.
int byteOf(QChar c);
QChar charOf(unsigned char byte);

} // namespace cp1251
