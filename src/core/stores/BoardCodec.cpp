#include "BoardCodec.h"

#include <cstring>
#include <string_view>

namespace BoardCodec {
namespace {

constexpr char hexDigits[] = "0123456789ABCDEF";

char *writePadded(char *out, int value, int width)
{
    for (int i = width - 1; i >= 0; --i) {
        out[i] = char('0' + value % 10);
        value /= 10;
    }
    return out + width;
}

char *writeLiteral(char *out, std::string_view text)
{
    std::memcpy(out, text.data(), text.size());
    return out + text.size();
}

char *writeUuid(char *out, const QUuid &id)
{
    const quint8 bytes[16] = {quint8(id.data1 >> 24),
                              quint8(id.data1 >> 16),
                              quint8(id.data1 >> 8),
                              quint8(id.data1),
                              quint8(id.data2 >> 8),
                              quint8(id.data2),
                              quint8(id.data3 >> 8),
                              quint8(id.data3),
                              id.data4[0],
                              id.data4[1],
                              id.data4[2],
                              id.data4[3],
                              id.data4[4],
                              id.data4[5],
                              id.data4[6],
                              id.data4[7]};
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            *out++ = '-';
        *out++ = hexDigits[bytes[i] >> 4];
        *out++ = hexDigits[bytes[i] & 0xF];
    }
    return out;
}

// The most bytes writeString can produce for \a text: an escaped control character takes six
// bytes for one UTF-16 unit, everything else at most three.
qsizetype maximumStringBytes(const QString &text)
{
    return text.size() * 6 + 2;
}

// Writes \a text as a JSON string in UTF-8 with the file's escapes. A lone surrogate cannot be
// written as UTF-8 and becomes U+FFFD, as any UTF-8 conversion would make it.
char *writeString(char *out, const QString &text)
{
    *out++ = '"';
    const char16_t *p = reinterpret_cast<const char16_t *>(text.constData());
    const char16_t *end = p + text.size();
    while (p < end) {
        char32_t c = *p++;
        if (c < 0x80) {
            if (c >= 0x20 && c != '"' && c != '\\' && c != '/') {
                *out++ = char(c);
                continue;
            }
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
                out = writeLiteral(out, "u00");
                *out++ = "0123456789abcdef"[c >> 4];
                *out++ = "0123456789abcdef"[c & 0xF];
            }
            continue;
        }
        if (c >= 0xD800 && c <= 0xDBFF && p < end && *p >= 0xDC00 && *p <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (*p++ - 0xDC00);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x800) {
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
    }
    *out++ = '"';
    return out;
}

std::string_view rawStatus(ThoughtStatus status)
{
    switch (status) {
    case ThoughtStatus::notStarted:
        return "notStarted";
    case ThoughtStatus::inProgress:
        return "inProgress";
    case ThoughtStatus::completed:
        return "completed";
    case ThoughtStatus::archived:
        return "archived";
    }
    return "notStarted";
}

std::optional<ThoughtStatus> statusFromRaw(QByteArrayView raw)
{
    for (ThoughtStatus status : ThoughtStatuses::allCases) {
        const std::string_view candidate = rawStatus(status);
        if (raw == QByteArrayView(candidate.data(), qsizetype(candidate.size())))
            return status;
    }
    return std::nullopt;
}

char *writeDate(char *out, const QDateTime &date);

// Days from 1970-01-01 to a civil date, after Howard Hinnant's algorithm; exact for every
// proleptic Gregorian date.
qint64 daysFromCivil(qint64 year, unsigned month, unsigned day)
{
    year -= month <= 2;
    const qint64 era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<qint64>(dayOfEra) - 719468;
}

void civilFromDays(qint64 days, int &year, int &month, int &day)
{
    days += 719468;
    const qint64 era = (days >= 0 ? days : days - 146096) / 146097;
    const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned shiftedMonth = (5 * dayOfYear + 2) / 153;
    day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
    month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    year = static_cast<int>(static_cast<qint64>(yearOfEra) + era * 400 + (month <= 2));
}

bool isLeapYear(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month)
{
    static constexpr int lengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : lengths[month - 1];
}

bool readDigits(const char *p, int count, int &value)
{
    value = 0;
    for (int i = 0; i < count; ++i) {
        if (p[i] < '0' || p[i] > '9')
            return false;
        value = value * 10 + (p[i] - '0');
    }
    return true;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::optional<QUuid> parseUuid(QByteArrayView text)
{
    if (text.size() != 36)
        return std::nullopt;
    char bytes[16];
    int byteIndex = 0;
    for (qsizetype i = 0; i < 36;) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (text[i] != '-')
                return std::nullopt;
            ++i;
            continue;
        }
        const int high = hexValue(text[i]);
        const int low = hexValue(text[i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        bytes[byteIndex++] = static_cast<char>(high << 4 | low);
        i += 2;
    }
    return QUuid::fromRfc4122(QByteArrayView(bytes, 16));
}

// A strict reader for the board array. It accepts any JSON (unknown members are skipped, members
// in any order) but insists on the types and forms of the seven known members.
enum class Utf8Check { here, byCaller };

class Reader
{
public:
    explicit Reader(QByteArrayView data)
        : m_p(data.data()), m_begin(data.data()), m_end(data.data() + data.size())
    {}

    std::optional<Board> readBoard()
    {
        skipWhitespace();
        if (!expect('['))
            return std::nullopt;
        Board board;
        board.reserve((m_end - m_p) / 300); // A typical thought takes 250 to 400 bytes.
        skipWhitespace();
        if (peek() == ']') {
            ++m_p;
        } else {
            for (;;) {
                std::optional<Thought> thought = readThought();
                if (!thought)
                    return std::nullopt;
                board.append(std::move(*thought));
                skipWhitespace();
                if (peek() == ',') {
                    ++m_p;
                    continue;
                }
                if (!expect(']'))
                    return std::nullopt;
                break;
            }
        }
        skipWhitespace();
        if (m_p != m_end) {
            fail("unexpected data after the board array");
            return std::nullopt;
        }
        return board;
    }

    QString error() const { return m_error; }

private:
    enum Member : quint8 {
        IdMember = 1,
        TitleMember = 2,
        NoteMember = 4,
        StatusMember = 8,
        CreatedMember = 16,
        UpdatedMember = 32,
        RequiredMembers = 63,
    };

    std::optional<Thought> readThought()
    {
        skipWhitespace();
        if (!expect('{'))
            return std::nullopt;
        Thought thought;
        int seen = 0;
        skipWhitespace();
        if (peek() == '}') {
            ++m_p;
        } else {
            for (;;) {
                skipWhitespace();
                QByteArrayView key;
                QByteArray keyStorage;
                if (!readRawString(key, keyStorage))
                    return std::nullopt;
                skipWhitespace();
                if (!expect(':'))
                    return std::nullopt;
                skipWhitespace();
                if (!readMember(key, thought, seen))
                    return std::nullopt;
                skipWhitespace();
                if (peek() == ',') {
                    ++m_p;
                    continue;
                }
                if (!expect('}'))
                    return std::nullopt;
                break;
            }
        }
        if ((seen & RequiredMembers) != RequiredMembers) {
            fail("a thought lacks one of id, title, note, status, createdAt, updatedAt");
            return std::nullopt;
        }
        return thought;
    }

    bool readMember(QByteArrayView key, Thought &thought, int &seen)
    {
        if (key == "isDeleted") {
            if (consumeLiteral("null")) {
                thought.isDeleted = false;
                return true;
            }
            if (consumeLiteral("true")) {
                thought.isDeleted = true;
                return true;
            }
            if (consumeLiteral("false")) {
                thought.isDeleted = false;
                return true;
            }
            return fail("isDeleted is not a boolean");
        }
        const Member member = key == "id"          ? IdMember
                              : key == "title"     ? TitleMember
                              : key == "note"      ? NoteMember
                              : key == "status"    ? StatusMember
                              : key == "createdAt" ? CreatedMember
                              : key == "updatedAt" ? UpdatedMember
                                                   : Member(0);
        if (member == 0)
            return skipValue(0);
        if (peek() != '"')
            return fail("a member of a thought is not a string");
        QByteArrayView raw;
        QByteArray storage;
        const bool isText = member == TitleMember || member == NoteMember;
        if (!readRawString(raw, storage, isText ? Utf8Check::byCaller : Utf8Check::here))
            return false;
        switch (member) {
        case IdMember: {
            std::optional<QUuid> id = parseUuid(raw);
            if (!id)
                return fail("malformed id");
            thought.id = *id;
            break;
        }
        case TitleMember:
            if (!decodeText(raw, thought.title))
                return false;
            break;
        case NoteMember:
            if (!decodeText(raw, thought.note))
                return false;
            break;
        case StatusMember: {
            std::optional<ThoughtStatus> status = statusFromRaw(raw);
            if (!status)
                return fail("unknown status");
            thought.status = *status;
            break;
        }
        case CreatedMember:
        case UpdatedMember: {
            std::optional<QDateTime> date = parseDate(raw);
            if (!date)
                return fail("malformed date");
            (member == CreatedMember ? thought.createdAt : thought.updatedAt) = *date;
            break;
        }
        default:
            break;
        }
        seen |= member;
        return true;
    }

    // Reads a JSON string. Without escapes \a text points into the input; otherwise the unescaped
    // bytes are built in \a storage. Texts that become QStrings are checked while they are
    // converted (decodeText); every other string is checked here when it holds non-ASCII bytes.
    bool readRawString(QByteArrayView &text, QByteArray &storage, Utf8Check check = Utf8Check::here)
    {
        if (!expect('"'))
            return false;
        const char *start = m_p;
        bool escaped = false;
        unsigned char seen = 0;
        while (m_p < m_end) {
            // Eight plain bytes at a time: most of a board is text without quotes or escapes.
            if (m_end - m_p >= 8) {
                quint64 word;
                std::memcpy(&word, m_p, 8);
                if (!hasSpecialByte(word)) {
                    seen |= (word & 0x8080808080808080ull) ? 0x80 : 0;
                    m_p += 8;
                    continue;
                }
            }
            const auto c = static_cast<unsigned char>(*m_p);
            if (c == '"')
                break;
            if (c < 0x20)
                return fail("control character in a string");
            if (c == '\\') {
                escaped = true;
                m_p += 2;
                continue;
            }
            seen |= c;
            ++m_p;
        }
        if (m_p >= m_end)
            return fail("unterminated string");
        const char *stop = m_p;
        ++m_p;
        if (seen >= 0x80 && check == Utf8Check::here && !isValidUtf8(start, stop))
            return fail("invalid UTF-8");
        if (!escaped) {
            text = QByteArrayView(start, stop - start);
            return true;
        }
        if (!unescape(start, stop, storage))
            return false;
        text = storage;
        return true;
    }

    // Converts to UTF-16, refusing malformed UTF-8 (overlong forms, surrogates, truncation)
    // instead of silently replacing it.
    bool decodeText(QByteArrayView raw, QString &text)
    {
        text.resize(raw.size()); // UTF-16 never needs more units than UTF-8 has bytes.
        char16_t *out = reinterpret_cast<char16_t *>(text.data());
        const auto *p = reinterpret_cast<const unsigned char *>(raw.data());
        const unsigned char *end = p + raw.size();
        while (p < end) {
            const unsigned char lead = *p;
            if (lead < 0x80) {
                *out++ = lead;
                ++p;
                continue;
            }
            char32_t c = 0;
            int length = 0;
            if ((lead & 0xE0) == 0xC0 && lead >= 0xC2) {
                c = lead & 0x1F;
                length = 2;
            } else if ((lead & 0xF0) == 0xE0) {
                c = lead & 0x0F;
                length = 3;
            } else if (lead >= 0xF0 && lead <= 0xF4) {
                c = lead & 0x07;
                length = 4;
            } else {
                return fail("invalid UTF-8");
            }
            if (end - p < length)
                return fail("invalid UTF-8");
            for (int i = 1; i < length; ++i) {
                if ((p[i] & 0xC0) != 0x80)
                    return fail("invalid UTF-8");
                c = c << 6 | (p[i] & 0x3F);
            }
            if ((length == 3 && (c < 0x800 || (c >= 0xD800 && c <= 0xDFFF))) ||
                (length == 4 && (c < 0x10000 || c > 0x10FFFF)))
                return fail("invalid UTF-8");
            p += length;
            if (c >= 0x10000) {
                *out++ = char16_t(0xD800 + ((c - 0x10000) >> 10));
                *out++ = char16_t(0xDC00 + ((c - 0x10000) & 0x3FF));
            } else {
                *out++ = char16_t(c);
            }
        }
        text.truncate(out - reinterpret_cast<const char16_t *>(text.constData()));
        return true;
    }

    // Whether any of the eight bytes is a quote, a backslash or a control character.
    static bool hasSpecialByte(quint64 word)
    {
        constexpr quint64 ones = 0x0101010101010101ull;
        constexpr quint64 highs = 0x8080808080808080ull;
        auto hasZeroByte = [](quint64 v) { return (v - ones) & ~v & highs; };
        const quint64 belowSpace = (word - ones * 0x20) & ~word & highs;
        return hasZeroByte(word ^ (ones * '"')) || hasZeroByte(word ^ (ones * '\\')) || belowSpace;
    }

    bool isValidUtf8(const char *p, const char *end)
    {
        const char *saved = m_p;
        m_p = p;
        bool valid = true;
        while (m_p < end && valid) {
            if (static_cast<unsigned char>(*m_p) < 0x80)
                ++m_p;
            else
                valid = skipUtf8Sequence();
        }
        m_p = saved;
        return valid;
    }

    bool skipUtf8Sequence()
    {
        const auto lead = static_cast<unsigned char>(*m_p);
        int length = 0;
        char32_t minimum = 0;
        char32_t codePoint = 0;
        if ((lead & 0xE0) == 0xC0) {
            length = 2;
            minimum = 0x80;
            codePoint = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3;
            minimum = 0x800;
            codePoint = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4;
            minimum = 0x10000;
            codePoint = lead & 0x07;
        } else {
            return fail("invalid UTF-8");
        }
        if (m_end - m_p < length)
            return fail("invalid UTF-8");
        for (int i = 1; i < length; ++i) {
            const auto next = static_cast<unsigned char>(m_p[i]);
            if ((next & 0xC0) != 0x80)
                return fail("invalid UTF-8");
            codePoint = codePoint << 6 | (next & 0x3F);
        }
        if (codePoint < minimum || codePoint > 0x10FFFF ||
            (codePoint >= 0xD800 && codePoint <= 0xDFFF))
            return fail("invalid UTF-8");
        m_p += length;
        return true;
    }

    bool unescape(const char *p, const char *end, QByteArray &out)
    {
        out.reserve(end - p);
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
                char32_t unit = 0;
                if (!readHex4(p, end, unit))
                    return fail("malformed \\u escape");
                char32_t codePoint = unit;
                if (unit >= 0xD800 && unit <= 0xDBFF) {
                    char32_t low = 0;
                    if (end - p < 6 || p[0] != '\\' || p[1] != 'u')
                        return fail("lone surrogate in a string");
                    p += 2;
                    if (!readHex4(p, end, low) || low < 0xDC00 || low > 0xDFFF)
                        return fail("lone surrogate in a string");
                    codePoint = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
                    return fail("lone surrogate in a string");
                }
                appendUtf8(out, codePoint);
                break;
            }
            default:
                return fail("unknown escape in a string");
            }
        }
        return true;
    }

    static bool readHex4(const char *&p, const char *end, char32_t &value)
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

    static void appendUtf8(QByteArray &out, char32_t c)
    {
        if (c < 0x80) {
            out.append(char(c));
        } else if (c < 0x800) {
            out.append(char(0xC0 | c >> 6));
            out.append(char(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.append(char(0xE0 | c >> 12));
            out.append(char(0x80 | (c >> 6 & 0x3F)));
            out.append(char(0x80 | (c & 0x3F)));
        } else {
            out.append(char(0xF0 | c >> 18));
            out.append(char(0x80 | (c >> 12 & 0x3F)));
            out.append(char(0x80 | (c >> 6 & 0x3F)));
            out.append(char(0x80 | (c & 0x3F)));
        }
    }

    // Skips any JSON value; the depth bound keeps hostile nesting from exhausting the stack.
    bool skipValue(int depth)
    {
        if (depth > 256)
            return fail("nesting too deep");
        skipWhitespace();
        switch (peek()) {
        case '"': {
            QByteArrayView text;
            QByteArray storage;
            return readRawString(text, storage);
        }
        case '{':
        case '[': {
            const char close = *m_p == '{' ? '}' : ']';
            const bool isObject = close == '}';
            ++m_p;
            skipWhitespace();
            if (peek() == close) {
                ++m_p;
                return true;
            }
            for (;;) {
                skipWhitespace();
                if (isObject) {
                    QByteArrayView key;
                    QByteArray storage;
                    if (!readRawString(key, storage))
                        return false;
                    skipWhitespace();
                    if (!expect(':'))
                        return false;
                }
                if (!skipValue(depth + 1))
                    return false;
                skipWhitespace();
                if (peek() == ',') {
                    ++m_p;
                    continue;
                }
                return expect(close);
            }
        }
        case 't':
            return consumeLiteral("true") || fail("invalid literal");
        case 'f':
            return consumeLiteral("false") || fail("invalid literal");
        case 'n':
            return consumeLiteral("null") || fail("invalid literal");
        default:
            return skipNumber();
        }
    }

    bool skipNumber()
    {
        const char *start = m_p;
        if (peek() == '-')
            ++m_p;
        if (peek() == '0') {
            ++m_p;
        } else if (peek() >= '1' && peek() <= '9') {
            while (peek() >= '0' && peek() <= '9')
                ++m_p;
        } else {
            m_p = start;
            return fail("invalid value");
        }
        if (peek() == '.') {
            ++m_p;
            if (!(peek() >= '0' && peek() <= '9'))
                return fail("invalid number");
            while (peek() >= '0' && peek() <= '9')
                ++m_p;
        }
        if (peek() == 'e' || peek() == 'E') {
            ++m_p;
            if (peek() == '+' || peek() == '-')
                ++m_p;
            if (!(peek() >= '0' && peek() <= '9'))
                return fail("invalid number");
            while (peek() >= '0' && peek() <= '9')
                ++m_p;
        }
        return true;
    }

    bool consumeLiteral(const char *literal)
    {
        const auto length = static_cast<qsizetype>(std::strlen(literal));
        if (m_end - m_p < length || std::memcmp(m_p, literal, size_t(length)) != 0)
            return false;
        m_p += length;
        return true;
    }

    void skipWhitespace()
    {
        while (m_p < m_end && (*m_p == ' ' || *m_p == '\n' || *m_p == '\r' || *m_p == '\t'))
            ++m_p;
    }

    char peek() const { return m_p < m_end ? *m_p : '\0'; }

    bool expect(char c)
    {
        if (peek() != c)
            return fail(QStringLiteral("expected '%1'").arg(QLatin1Char(c)));
        ++m_p;
        return true;
    }

    bool fail(const char *message) { return fail(QString::fromLatin1(message)); }

    bool fail(const QString &message)
    {
        if (m_error.isEmpty())
            m_error = QStringLiteral("%1 at byte %2").arg(message).arg(qint64(m_p - m_begin));
        return false;
    }

    const char *m_p;
    const char *m_begin;
    const char *m_end;
    QString m_error;
};

} // namespace

QByteArray encode(const Board &board)
{
    // One exact upper bound, one allocation: the board is written after every change.
    // Everything but the two texts: the member names and punctuation (81 bytes), the id (36),
    // the status (at most 10), two dates (40), the flag (5) and the separating comma.
    constexpr qsizetype fixedBytesPerThought = 81 + 36 + 10 + 40 + 5 + 1;
    qsizetype capacity = 2;
    for (const Thought &thought : board)
        capacity += fixedBytesPerThought + maximumStringBytes(thought.title) +
                    maximumStringBytes(thought.note);
    QByteArray bytes(capacity, Qt::Uninitialized);
    char *out = bytes.data();
    *out++ = '[';
    bool first = true;
    for (const Thought &thought : board) {
        if (!first)
            *out++ = ',';
        first = false;
        out = writeLiteral(out, "{\"id\":\"");
        out = writeUuid(out, thought.id);
        out = writeLiteral(out, "\",\"title\":");
        out = writeString(out, thought.title);
        out = writeLiteral(out, ",\"note\":");
        out = writeString(out, thought.note);
        out = writeLiteral(out, ",\"status\":\"");
        out = writeLiteral(out, rawStatus(thought.status));
        out = writeLiteral(out, "\",\"createdAt\":\"");
        out = writeDate(out, thought.createdAt);
        out = writeLiteral(out, "\",\"updatedAt\":\"");
        out = writeDate(out, thought.updatedAt);
        out = writeLiteral(out, thought.isDeleted ? "\",\"isDeleted\":true}"
                                                  : "\",\"isDeleted\":false}");
    }
    *out++ = ']';
    Q_ASSERT(out - bytes.constData() <= capacity);
    bytes.truncate(out - bytes.constData());
    return bytes;
}

std::optional<Board> decode(QByteArrayView data, QString *error)
{
    Reader reader(data);
    std::optional<Board> board = reader.readBoard();
    if (!board && error)
        *error = reader.error();
    return board;
}

namespace {

char *writeDate(char *out, const QDateTime &date)
{
    const qint64 msecs = date.toMSecsSinceEpoch();
    const qint64 seconds = msecs >= 0 ? msecs / 1000 : -((-msecs + 999) / 1000);
    const qint64 days = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
    const auto secondOfDay = static_cast<int>(seconds - days * 86400);
    int year = 0;
    int month = 0;
    int day = 0;
    civilFromDays(days, year, month, day);
    out = writePadded(out, qBound(0, year, 9999), 4); // Four digits are all the form holds.
    *out++ = '-';
    out = writePadded(out, month, 2);
    *out++ = '-';
    out = writePadded(out, day, 2);
    *out++ = 'T';
    out = writePadded(out, secondOfDay / 3600, 2);
    *out++ = ':';
    out = writePadded(out, secondOfDay / 60 % 60, 2);
    *out++ = ':';
    out = writePadded(out, secondOfDay % 60, 2);
    *out++ = 'Z';
    return out;
}

} // namespace

QByteArray formatDate(const QDateTime &date)
{
    QByteArray text(20, Qt::Uninitialized);
    writeDate(text.data(), date);
    return text;
}

std::optional<QDateTime> parseDate(QByteArrayView text)
{
    // yyyy-MM-ddTHH:mm:ss followed by Z or ±hh:mm
    if (text.size() != 20 && text.size() != 25)
        return std::nullopt;
    const char *p = text.data();
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    if (!readDigits(p, 4, year) || p[4] != '-' || !readDigits(p + 5, 2, month) || p[7] != '-' ||
        !readDigits(p + 8, 2, day) || p[10] != 'T' || !readDigits(p + 11, 2, hour) ||
        p[13] != ':' || !readDigits(p + 14, 2, minute) || p[16] != ':' ||
        !readDigits(p + 17, 2, second))
        return std::nullopt;
    if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) || hour > 23 ||
        minute > 59 || second > 59)
        return std::nullopt;
    qint64 offsetSeconds = 0;
    if (text.size() == 20) {
        if (p[19] != 'Z')
            return std::nullopt;
    } else {
        int offsetHours = 0;
        int offsetMinutes = 0;
        if ((p[19] != '+' && p[19] != '-') || !readDigits(p + 20, 2, offsetHours) || p[22] != ':' ||
            !readDigits(p + 23, 2, offsetMinutes) || offsetHours > 23 || offsetMinutes > 59)
            return std::nullopt;
        offsetSeconds = (offsetHours * 3600 + offsetMinutes * 60) * (p[19] == '-' ? -1 : 1);
    }
    const qint64 seconds = daysFromCivil(year, unsigned(month), unsigned(day)) * 86400 +
                           hour * 3600 + minute * 60 + second - offsetSeconds;
    return QDateTime::fromMSecsSinceEpoch(seconds * 1000, Qt::UTC);
}

} // namespace BoardCodec
