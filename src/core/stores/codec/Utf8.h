#pragma once

// The conversions between Qt's UTF-16 and the file's UTF-8 that the codec does itself. The board
// is mostly Chinese text, three bytes a character, which these take eight or four at a time; and
// what is read has had its UTF-8 checked already, so QString::fromUtf8 would check it twice and
// size its string for the worst case, where these size it exactly.

#include <QByteArrayView>
#include <QString>

namespace BoardCodec::detail {

/// U+0800 to U+FFFF outside the surrogates: one UTF-16 unit that takes three bytes of UTF-8.
inline bool isThreeByteUnit(char32_t c)
{
    return c >= 0x800 && (c < 0xD800 || c >= 0xE000);
}

/// Writes the code point \a c as UTF-8 and returns the end of what was written.
inline char *writeUtf8(char *out, char32_t c)
{
    if (c < 0x80) {
        *out++ = char(c);
    } else if (c < 0x800) {
        *out++ = char(0xC0 | c >> 6);
        *out++ = char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        *out++ = char(0xE0 | c >> 12);
        *out++ = char(0x80 | (c >> 6 & 0x3F));
        *out++ = char(0x80 | (c & 0x3F));
    } else {
        *out++ = char(0xF0 | c >> 18);
        *out++ = char(0x80 | (c >> 12 & 0x3F));
        *out++ = char(0x80 | (c >> 6 & 0x3F));
        *out++ = char(0x80 | (c & 0x3F));
    }
    return out;
}

/// Writes the eight UTF-16 units at \a p as their 24 bytes of UTF-8 when all eight are three-byte
/// units and the processor has the vector instructions for it; otherwise writes nothing and
/// returns false.
bool writeEightThreeByteUnits(const char16_t *p, char *out);

/// Counts the UTF-16 units of well-formed UTF-8 (one per byte that starts a character, two for a
/// four-byte character) and, in the same pass, its backslashes.
qsizetype utf16Length(QByteArrayView utf8, qsizetype &backslashes);

/// Converts UTF-8 that is known to be well-formed into a string of exactly \a utf16Units units.
QString textFromUtf8(QByteArrayView utf8, qsizetype utf16Units);

} // namespace BoardCodec::detail
