#include "JsonStrings.h"

#include "HexDigits.h"
#include "Utf8.h"

#include <cstring>

namespace BoardCodec::detail {

namespace {

char *writeEscape(char *out, char16_t c)
{
    *out++ = '\\';
    switch (c) {
    case '"':
    case '\\':
    case '/':
        *out++ = char(c);
        break;
    case '\b':
        *out++ = 'b';
        break;
    case '\f':
        *out++ = 'f';
        break;
    case '\n':
        *out++ = 'n';
        break;
    case '\r':
        *out++ = 'r';
        break;
    case '\t':
        *out++ = 't';
        break;
    default:
        std::memcpy(out, "u00", 3);
        out[3] = "0123456789abcdef"[c >> 4];
        out[4] = "0123456789abcdef"[c & 0xF];
        out += 5;
    }
    return out;
}

bool readHex4(const char *&p, const char *end, char32_t &value)
{
    if (end - p < 4)
        return false;
    value = 0;
    for (int i = 0; i < 4; ++i) {
        const int digit = hexValue(p[i]);
        if (digit < 0)
            return false;
        value = value << 4 | char32_t(digit);
    }
    p += 4;
    return true;
}

// The code point of a \u escape whose four digits start at \a p, with the low surrogate that must
// follow a high one.
bool readUnicodeEscape(const char *&p, const char *end, char32_t &codePoint, const char *&fault)
{
    char32_t unit = 0;
    if (!readHex4(p, end, unit)) {
        fault = "malformed \\u escape";
        return false;
    }
    fault = "lone surrogate in a string";
    codePoint = unit;
    if (unit >= 0xDC00 && unit <= 0xDFFF)
        return false;
    if (unit < 0xD800 || unit > 0xDBFF)
        return true;
    char32_t low = 0;
    if (end - p < 6 || p[0] != '\\' || p[1] != 'u')
        return false;
    p += 2;
    if (!readHex4(p, end, low) || low < 0xDC00 || low > 0xDFFF)
        return false;
    codePoint = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
    return true;
}

} // namespace

char *writeString(char *out, const QString &text)
{
    *out++ = '"';
    const char16_t *p = reinterpret_cast<const char16_t *>(text.constData());
    const char16_t *end = p + text.size();
    while (p < end) {
        // Chinese text is characters from U+0800 on outside the surrogates, three bytes each:
        // they are the common case and are told apart first, eight at a time where the
        // processor allows.
        if (isThreeByteUnit(*p)) {
            if (end - p >= 8 && writeEightThreeByteUnits(p, out)) {
                p += 8;
                out += 24;
                continue;
            }
            out = writeUtf8(out, *p++);
            continue;
        }
        char32_t c = *p++;
        if (c < 0x80) {
            if (c >= 0x20 && c != '"' && c != '\\' && c != '/')
                *out++ = char(c);
            else
                out = writeEscape(out, char16_t(c));
            continue;
        }
        if (c >= 0xD800 && c <= 0xDBFF && p < end && *p >= 0xDC00 && *p <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (*p++ - 0xDC00);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        out = writeUtf8(out, c);
    }
    *out++ = '"';
    return out;
}

bool unescape(QByteArrayView raw, QByteArray &out, const char *&fault)
{
    const char *p = raw.data();
    const char *end = p + raw.size();
    out.reserve(raw.size());
    while (p < end) {
        if (*p != '\\') {
            out.append(*p++);
            continue;
        }
        ++p;
        switch (*p++) {
        case '"':
            out.append('"');
            break;
        case '\\':
            out.append('\\');
            break;
        case '/':
            out.append('/');
            break;
        case 'b':
            out.append('\b');
            break;
        case 'f':
            out.append('\f');
            break;
        case 'n':
            out.append('\n');
            break;
        case 'r':
            out.append('\r');
            break;
        case 't':
            out.append('\t');
            break;
        case 'u': {
            char32_t codePoint = 0;
            if (!readUnicodeEscape(p, end, codePoint, fault))
                return false;
            char utf8[4];
            out.append(utf8, writeUtf8(utf8, codePoint) - utf8);
            break;
        }
        default:
            fault = "unknown escape in a string";
            return false;
        }
    }
    return true;
}

bool readText(QByteArrayView raw, QString &text, const char *&fault)
{
    // Converted as written when it holds no escape, which the pass that measures its length finds
    // out on the way.
    qsizetype escapes = 0;
    const qsizetype length = utf16Length(raw, escapes);
    if (escapes == 0) {
        text = textFromUtf8(raw, length);
        return true;
    }
    QByteArray unescaped;
    if (!unescape(raw, unescaped, fault))
        return false;
    text = textFromUtf8(unescaped, utf16Length(unescaped, escapes));
    return true;
}

} // namespace BoardCodec::detail
