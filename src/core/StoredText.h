#pragma once

#include <QString>

// The 72-character stored form of names and passwords in the system database. Equal texts
// give equal stored forms, so columns are compared in stored form.
constexpr int kStoredTextMaxLength = 34;
constexpr int kStoredTextLength = 72;

// Throws db::Error for a text longer than kStoredTextMaxLength characters or one that
// has no cp1251 form: either would be stored corrupted. The message names field (when given),
// the length or the offending character, never the text: it may be a password.
QString EncodeStoredText(const QString& text, const QString& field = {});
QString DecodeStoredText(const QString& stored);

// DecodeStoredText on the windows-1251 bytes of a stored form as fetched, giving the text's
// windows-1251 bytes: writes at most kStoredTextDecodedMax bytes to out and returns how many.
constexpr int kStoredTextDecodedMax = 35;
qsizetype DecodeStoredBytes(const char* stored, qsizetype size, char* out);
