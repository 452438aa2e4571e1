#pragma once

// JSON strings as the board file holds its texts: written in UTF-8 with the file's escapes, and
// read back with every escape JSON allows, whoever wrote them.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace BoardCodec::detail {

inline bool isJsonSpace(char c)
{
    return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}

/// The most bytes writeString() can produce for \a text: an escaped control character takes six
/// bytes for one UTF-16 unit, everything else at most three.
inline qsizetype maximumStringBytes(const QString &text)
{
    return text.size() * 6 + 2;
}

/// Writes \a text as a JSON string, quotes included, with the file's escapes: '"', '\\' and '/'
/// behind a backslash, control characters by their short escape or as \u00xx, everything else as
/// raw UTF-8. A lone surrogate cannot be written as UTF-8 and becomes U+FFFD, as any UTF-8
/// conversion would make it.
char *writeString(char *out, const QString &text);

/// Replaces the escapes in \a raw, the well-formed UTF-8 between a string's quotes, with what they
/// stand for. On a malformed escape or a lone surrogate returns false and names the fault in
/// \a fault.
bool unescape(QByteArrayView raw, QByteArray &out, const char *&fault);

/// The text of the string between quotes \a raw, escapes and all; as unescape() otherwise.
bool readText(QByteArrayView raw, QString &text, const char *&fault);

} // namespace BoardCodec::detail
