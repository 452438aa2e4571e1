#include "BoardCodec.h"

#include <simdjson.h>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define LUMARET_X86_SIMD 1
#endif

#include <array>
#include <cstring>
#include <string_view>

static_assert(BoardCodec::readPadding >= simdjson::SIMDJSON_PADDING);

namespace BoardCodec {
namespace {

constexpr char hexDigits[] = "0123456789ABCDEF";

// "00" to "99": dates are written two digits at a time.
constexpr std::array<char, 200> digitPairs = [] {
    std::array<char, 200> pairs{};
    for (int i = 0; i < 100; ++i) {
        pairs[size_t(2 * i)] = char('0' + i / 10);
        pairs[size_t(2 * i + 1)] = char('0' + i % 10);
    }
    return pairs;
}();

// Writes \a value in \a width digits, an even number of them.
char *writePadded(char *out, int value, int width)
{
    for (int i = width - 2; i >= 0; i -= 2) {
        std::memcpy(out + i, &digitPairs[size_t(value % 100) * 2], 2);
        value /= 100;
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

bool isThreeByteUnit(char32_t c)
{
    return c >= 0x800 && (c < 0xD800 || c >= 0xE000);
}

#ifdef LUMARET_X86_SIMD
// Writes the next eight UTF-16 units as their 24 bytes of UTF-8 when all eight take three bytes
// (U+0800 to U+FFFF outside the surrogates), as runs of Chinese text do; otherwise writes nothing
// and returns false.
__attribute__((target("ssse3"))) bool writeEightThreeByteUnits(const char16_t *p, char *out)
{
    const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    // Signed 16-bit comparisons of the units shifted by 0x8000 compare them as unsigned.
    const __m128i shifted = _mm_xor_si128(units, _mm_set1_epi16(short(0x8000)));
    const __m128i belowThreeBytes =
        _mm_cmplt_epi16(shifted, _mm_set1_epi16(short(0x0800 ^ 0x8000)));
    const __m128i surrogate =
        _mm_and_si128(_mm_cmpgt_epi16(shifted, _mm_set1_epi16(short(0xD7FF ^ 0x8000))),
                      _mm_cmplt_epi16(shifted, _mm_set1_epi16(short(0xE000 ^ 0x8000))));
    if (_mm_movemask_epi8(_mm_or_si128(belowThreeBytes, surrogate)) != 0)
        return false;
    // Each unit's lead and middle byte side by side, and the eight last bytes.
    const __m128i lead = _mm_or_si128(_mm_srli_epi16(units, 12), _mm_set1_epi16(0xE0));
    const __m128i middle = _mm_or_si128(
        _mm_and_si128(_mm_srli_epi16(units, 6), _mm_set1_epi16(0x3F)), _mm_set1_epi16(0x80));
    const __m128i last =
        _mm_or_si128(_mm_and_si128(units, _mm_set1_epi16(0x3F)), _mm_set1_epi16(0x80));
    const __m128i leadsAndMiddles = _mm_or_si128(lead, _mm_slli_epi16(middle, 8));
    const __m128i lasts = _mm_packus_epi16(last, last);
    // Interleaved as lead, middle, last: sixteen bytes, then eight.
    const __m128i first = _mm_or_si128(
        _mm_shuffle_epi8(leadsAndMiddles,
                         _mm_setr_epi8(0, 1, -1, 2, 3, -1, 4, 5, -1, 6, 7, -1, 8, 9, -1, 10)),
        _mm_shuffle_epi8(lasts,
                         _mm_setr_epi8(-1, -1, 0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1)));
    const __m128i second = _mm_or_si128(
        _mm_shuffle_epi8(leadsAndMiddles, _mm_setr_epi8(11, -1, 12, 13, -1, 14, 15, -1, -1, -1, -1,
                                                        -1, -1, -1, -1, -1)),
        _mm_shuffle_epi8(
            lasts, _mm_setr_epi8(-1, 5, -1, -1, 6, -1, -1, 7, -1, -1, -1, -1, -1, -1, -1, -1)));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out), first);
    _mm_storel_epi64(reinterpret_cast<__m128i *>(out + 16), second);
    return true;
}

// Reads characters four at a time as UTF-16 units for as long as all four take three bytes, as in
// runs of Chinese text, stopping sixteen bytes short of \a end. The text must be well-formed
// UTF-8.
__attribute__((target("ssse3"))) void readThreeByteRun(const unsigned char *&p,
                                                       const unsigned char *end, char16_t *&out)
{
    while (end - p >= 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        // Each character in a 32-bit lane of its own, lead byte highest.
        const __m128i lanes = _mm_shuffle_epi8(
            bytes, _mm_setr_epi8(2, 1, 0, -1, 5, 4, 3, -1, 8, 7, 6, -1, 11, 10, 9, -1));
        // In well-formed UTF-8 a lead byte 1110xxxx is followed by its two continuation bytes,
        // so four such leads three bytes apart are four three-byte characters.
        const __m128i leads = _mm_and_si128(lanes, _mm_set1_epi32(0x00F00000));
        if (_mm_movemask_epi8(_mm_cmpeq_epi32(leads, _mm_set1_epi32(0x00E00000))) != 0xFFFF)
            return;
        const __m128i units = _mm_or_si128(
            _mm_or_si128(_mm_and_si128(lanes, _mm_set1_epi32(0x3F)),
                         _mm_srli_epi32(_mm_and_si128(lanes, _mm_set1_epi32(0x3F00)), 2)),
            _mm_srli_epi32(_mm_and_si128(lanes, _mm_set1_epi32(0x0F0000)), 4));
        _mm_storel_epi64(reinterpret_cast<__m128i *>(out),
                         _mm_shuffle_epi8(units, _mm_setr_epi8(0, 1, 4, 5, 8, 9, 12, 13, -1, -1, -1,
                                                               -1, -1, -1, -1, -1)));
        p += 12;
        out += 4;
    }
}

const bool hasSsse3 = __builtin_cpu_supports("ssse3");
#endif

// Writes \a text as a JSON string in UTF-8 with the file's escapes. A lone surrogate cannot be
// written as UTF-8 and becomes U+FFFD, as any UTF-8 conversion would make it.
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
#ifdef LUMARET_X86_SIMD
            if (hasSsse3 && end - p >= 8 && writeEightThreeByteUnits(p, out)) {
                p += 8;
                out += 24;
                continue;
            }
#endif
            const char32_t c = *p++;
            out[0] = char(0xE0 | c >> 12);
            out[1] = char(0x80 | (c >> 6 & 0x3F));
            out[2] = char(0x80 | (c & 0x3F));
            out += 3;
            continue;
        }
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

// A plain comparison the compiler can unroll: member names and statuses are read for every
// thought.
bool equals(QByteArrayView text, std::string_view expected)
{
    return size_t(text.size()) == expected.size() &&
           std::memcmp(text.data(), expected.data(), expected.size()) == 0;
}

std::optional<ThoughtStatus> statusFromRaw(QByteArrayView raw)
{
    for (ThoughtStatus status : ThoughtStatuses::allCases) {
        if (equals(raw, rawStatus(status)))
            return status;
    }
    return std::nullopt;
}

char *writeDate(char *out, const QDateTime &date);

// Everything of a thought but its two texts: the member names and punctuation (81 bytes), the id
// (36), the status (at most 10), two dates (40), the flag (5) and the separating comma.
constexpr qsizetype fixedBytesPerThought = 81 + 36 + 10 + 40 + 5 + 1;

qsizetype maximumThoughtBytes(const Thought &thought)
{
    return fixedBytesPerThought + maximumStringBytes(thought.title) +
           maximumStringBytes(thought.note);
}

char *writeThought(char *out, const Thought &thought)
{
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
    return writeLiteral(out,
                        thought.isDeleted ? "\",\"isDeleted\":true}" : "\",\"isDeleted\":false}");
}

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

// The value of each hexadecimal digit, and -1 for every other byte.
constexpr std::array<qint8, 256> hexValues = [] {
    std::array<qint8, 256> values{};
    values.fill(-1);
    for (int i = 0; i < 10; ++i)
        values[size_t('0' + i)] = qint8(i);
    for (int i = 0; i < 6; ++i)
        values[size_t('a' + i)] = values[size_t('A' + i)] = qint8(10 + i);
    return values;
}();

int hexValue(char c)
{
    return hexValues[static_cast<unsigned char>(c)];
}

std::optional<QUuid> parseUuid(QByteArrayView text)
{
    // Where the two digits of each byte start: five groups of 8, 4, 4, 4 and 12 digits.
    static constexpr int byteStarts[16] = {0,  2,  4,  6,  9,  11, 14, 16,
                                           19, 21, 24, 26, 28, 30, 32, 34};
    const char *digits = text.data();
    if (text.size() != 36 || digits[8] != '-' || digits[13] != '-' || digits[18] != '-' ||
        digits[23] != '-')
        return std::nullopt;
    char bytes[16];
    int invalid = 0; // Negative once any digit was not one.
    for (int i = 0; i < 16; ++i) {
        const int high = hexValue(digits[byteStarts[i]]);
        const int low = hexValue(digits[byteStarts[i] + 1]);
        invalid |= high | low;
        bytes[i] = static_cast<char>(high << 4 | low);
    }
    if (invalid < 0)
        return std::nullopt;
    return QUuid::fromRfc4122(QByteArrayView(bytes, 16));
}

// A file exactly as the encoder writes it is read straight from its bytes once its UTF-8 has been
// checked. Everything else is read through simdjson's On-Demand API, which finds the structure
// and checks the UTF-8 of the whole input (and that no string holds a raw control character)
// before a single value is looked at. The rules of the file format sit on top: the types and
// forms of the seven known members, and every other value checked as strictly as JSON demands
// even though it is skipped. Strings are taken from their raw tokens and unescaped here, so that
// one set of escape rules holds for keys, texts and skipped values alike.
namespace ondemand = simdjson::ondemand;

// Counts the UTF-16 units of well-formed UTF-8 (one per byte that starts a character, two for a
// four-byte character) and, in the same pass, its backslashes.
qsizetype utf16Length(const unsigned char *p, const unsigned char *end, qsizetype &backslashes)
{
    // Counters as wide as the bytes' sums need, so the loop runs in vector registers.
    quint32 units = 0;
    quint32 found = 0;
    const auto size = quint32(end - p);
    for (quint32 i = 0; i < size; ++i) {
        units += quint32((p[i] & 0xC0) != 0x80) + quint32(p[i] >= 0xF0);
        found += quint32(p[i] == '\\');
    }
    backslashes = found;
    return units;
}

// Converts UTF-8 that is known to be well-formed: the input was validated as a whole, and
// unescaping only ever produces well-formed sequences. The string is allocated at its exact size,
// which matters with a board held in memory for the whole session.
QString textFromUtf8(QByteArrayView utf8, qsizetype utf16Units)
{
    const auto *p = reinterpret_cast<const unsigned char *>(utf8.data());
    const unsigned char *end = p + utf8.size();
    QString text(utf16Units, Qt::Uninitialized);
    auto *out = reinterpret_cast<char16_t *>(text.data());
    while (p < end) {
        const unsigned lead = *p;
        // Chinese text is three bytes a character: that case comes first, four at a time where
        // the processor allows.
        if ((lead & 0xF0) == 0xE0) {
#ifdef LUMARET_X86_SIMD
            if (hasSsse3 && end - p >= 16) {
                const unsigned char *runStart = p;
                readThreeByteRun(p, end, out);
                if (p != runStart)
                    continue;
            }
#endif
            *out++ = char16_t((lead & 0x0F) << 12 | (p[1] & 0x3F) << 6 | (p[2] & 0x3F));
            p += 3;
        } else if (lead < 0x80) {
            // ASCII comes in runs: copy eight bytes at a time while it lasts.
            while (end - p >= 8) {
                quint64 word;
                std::memcpy(&word, p, 8);
                if (word & 0x8080808080808080ull)
                    break;
                for (int i = 0; i < 8; ++i)
                    out[i] = p[i];
                out += 8;
                p += 8;
            }
            if (p < end && *p < 0x80)
                *out++ = *p++;
        } else if (lead < 0xE0) {
            *out++ = char16_t((lead & 0x1F) << 6 | (p[1] & 0x3F));
            p += 2;
        } else {
            const char32_t c = char32_t(lead & 0x07) << 18 | char32_t(p[1] & 0x3F) << 12 |
                               char32_t(p[2] & 0x3F) << 6 | char32_t(p[3] & 0x3F);
            *out++ = char16_t(0xD800 + ((c - 0x10000) >> 10));
            *out++ = char16_t(0xDC00 + ((c - 0x10000) & 0x3FF));
            p += 4;
        }
    }
    return text;
}

bool isJsonSpace(char c)
{
    return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}

class Reader
{
public:
    explicit Reader(const char *begin) : m_begin(begin) {}

    std::optional<Board> readBoard(simdjson::padded_string_view json)
    {
        if (std::optional<Board> board = readAsWritten(json.data(), json.data() + json.size()))
            return board;
        m_error.clear();
        // One parser per thread, kept: its buffers are sized by the largest board it has read,
        // and reusing them spares every later read the cost of fresh memory.
        thread_local ondemand::parser parser;
        ondemand::document document;
        if (const simdjson::error_code error = parser.iterate(json).get(document))
            return failed(error);
        ondemand::array array;
        if (const simdjson::error_code error = document.get_array().get(array))
            return failed(error);
        Board board;
        // The shortest thought written takes about 160 bytes.
        board.reserve(qsizetype(json.size() / 160));
        for (auto element : array) {
            ondemand::object object;
            if (const simdjson::error_code error = element.get_object().get(object))
                return failed(error);
            if (!readThought(object, board.emplaceBack()))
                return std::nullopt;
        }
        // The array may be followed by nothing but whitespace, which the document's current
        // location reports by being out of bounds.
        const char *trailing = nullptr;
        if (document.current_location().get(trailing) == simdjson::SUCCESS) {
            fail("unexpected data after the board array", trailing);
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
        DeletedMember = 64,
        RequiredMembers = 63,
    };

    // The member a key names when it is written without escapes, as every writer writes the seven
    // names, or 0. \a raw points just after the key's opening quote; comparing the name with its
    // closing quote reads at most ten bytes, which the padding behind the input always allows.
    static Member plainMember(const char *raw)
    {
        auto is = [raw](std::string_view nameAndQuote) {
            return std::memcmp(raw, nameAndQuote.data(), nameAndQuote.size()) == 0;
        };
        switch (raw[0]) {
        case 'i':
            return is("id\"") ? IdMember : is("isDeleted\"") ? DeletedMember : Member(0);
        case 't':
            return is("title\"") ? TitleMember : Member(0);
        case 'n':
            return is("note\"") ? NoteMember : Member(0);
        case 's':
            return is("status\"") ? StatusMember : Member(0);
        case 'c':
            return is("createdAt\"") ? CreatedMember : Member(0);
        case 'u':
            return is("updatedAt\"") ? UpdatedMember : Member(0);
        default:
            return Member(0);
        }
    }

    static Member memberNamed(QByteArrayView key)
    {
        switch (key.size()) {
        case 2:
            return equals(key, "id") ? IdMember : Member(0);
        case 4:
            return equals(key, "note") ? NoteMember : Member(0);
        case 5:
            return equals(key, "title") ? TitleMember : Member(0);
        case 6:
            return equals(key, "status") ? StatusMember : Member(0);
        case 9:
            return equals(key, "createdAt")   ? CreatedMember
                   : equals(key, "updatedAt") ? UpdatedMember
                   : equals(key, "isDeleted") ? DeletedMember
                                              : Member(0);
        default:
            return Member(0);
        }
    }

    bool readThought(ondemand::object &object, Thought &thought)
    {
        int seen = 0;
        for (auto field : object) {
            ondemand::raw_json_string rawKey;
            if (const simdjson::error_code error = field.key().get(rawKey))
                return fail(error);
            Member member = plainMember(rawKey.raw());
            if (member == 0) {
                QByteArrayView key;
                QByteArray keyStorage;
                if (!readKey(rawKey, key, keyStorage))
                    return false;
                member = memberNamed(key);
            }
            // Used in place: copying the value out of its result costs more than reading it.
            simdjson::simdjson_result<ondemand::value> value = field.value();
            if (value.error())
                return fail(value.error());
            if (!readMember(member, value.value_unsafe(), thought, seen))
                return false;
        }
        if ((seen & RequiredMembers) != RequiredMembers)
            return fail("a thought lacks one of id, title, note, status, createdAt, updatedAt");
        return true;
    }

    bool readMember(Member member, ondemand::value &value, Thought &thought, int &seen)
    {
        if (member == 0)
            return checkSkippedValue(value, 0);
        if (member == DeletedMember) {
            ondemand::json_type type;
            if (value.type().get(type) != simdjson::SUCCESS)
                return fail("isDeleted is not a boolean");
            bool flag = false;
            if (type == ondemand::json_type::boolean &&
                value.get_bool().get(flag) == simdjson::SUCCESS)
                thought.isDeleted = flag;
            else if (type == ondemand::json_type::null && isNull(value))
                thought.isDeleted = false;
            else
                return fail("isDeleted is not a boolean");
            return true;
        }
        QByteArrayView raw;
        if (!readRawString(value, raw, "a member of a thought is not a string"))
            return false;
        switch (member) {
        case IdMember: {
            std::optional<QUuid> id = parseEscaped(raw, parseUuid);
            if (!id)
                return fail("malformed id", raw.data());
            thought.id = *id;
            break;
        }
        case TitleMember:
            if (!readText(raw, thought.title))
                return false;
            break;
        case NoteMember:
            if (!readText(raw, thought.note))
                return false;
            break;
        case StatusMember: {
            std::optional<ThoughtStatus> status = parseEscaped(raw, statusFromRaw);
            if (!status)
                return fail("unknown status", raw.data());
            thought.status = *status;
            break;
        }
        case CreatedMember:
        case UpdatedMember: {
            std::optional<QDateTime> date = parseEscaped(raw, parseDate);
            if (!date)
                return fail("malformed date", raw.data());
            (member == CreatedMember ? thought.createdAt : thought.updatedAt) = *date;
            break;
        }
        default:
            break;
        }
        seen |= member;
        return true;
    }

    // The board exactly as encode() writes it: the members in its order, no whitespace but after
    // the array, every value in the writer's form. Nearly every file is in this form, and read
    // straight from its bytes it needs no parser to find its structure first. Anything else, valid
    // or not, gives nothing here and is read by the full reader, which is the one that decides.
    std::optional<Board> readAsWritten(const char *p, const char *end)
    {
        if (end - p < 2 || *p++ != '[' || !simdjson::validate_utf8(p, size_t(end - p)))
            return std::nullopt;
        Board board;
        board.reserve((end - p) / 160);
        while (p < end && *p != ']') {
            if (!readThoughtAsWritten(p, end, board.emplaceBack()))
                return std::nullopt;
            if (p == end || *p != ',')
                break;
            ++p;
        }
        if (p == end || *p++ != ']')
            return std::nullopt;
        while (p < end && isJsonSpace(*p))
            ++p;
        if (p != end)
            return std::nullopt;
        return board;
    }

    bool readThoughtAsWritten(const char *&p, const char *end, Thought &thought)
    {
        constexpr qsizetype idLength = 36;
        constexpr qsizetype dateLength = 20;
        QByteArrayView raw;
        if (!skip(p, end, "{\"id\":\"") || end - p < idLength)
            return false;
        const std::optional<QUuid> id = parseUuid(QByteArrayView(p, idLength));
        p += idLength;
        qsizetype statusUnits = 0;
        if (!id || !skip(p, end, "\",\"title\":") || !textAsWritten(p, end, thought.title) ||
            !skip(p, end, ",\"note\":") || !textAsWritten(p, end, thought.note) ||
            !skip(p, end, ",\"status\":") || !stringAsWritten(p, end, raw, statusUnits))
            return false;
        const std::optional<ThoughtStatus> status = statusFromRaw(raw);
        if (!status || !skip(p, end, ",\"createdAt\":\"") || end - p < dateLength)
            return false;
        const std::optional<QDateTime> created = parseDate(QByteArrayView(p, dateLength));
        p += dateLength;
        if (!created || !skip(p, end, "\",\"updatedAt\":\"") || end - p < dateLength)
            return false;
        const std::optional<QDateTime> updated = parseDate(QByteArrayView(p, dateLength));
        p += dateLength;
        if (!updated)
            return false;
        if (skip(p, end, "\",\"isDeleted\":false}"))
            thought.isDeleted = false;
        else if (skip(p, end, "\",\"isDeleted\":true}"))
            thought.isDeleted = true;
        else
            return false;
        thought.id = *id;
        thought.status = *status;
        thought.createdAt = *created;
        thought.updatedAt = *updated;
        return true;
    }

    static bool skip(const char *&p, const char *end, std::string_view text)
    {
        if (end - p < qsizetype(text.size()) || std::memcmp(p, text.data(), text.size()) != 0)
            return false;
        p += text.size();
        return true;
    }

    // A string from its opening quote to its closing one; \a raw is the text between, escapes
    // and all, and \a units the length of that text in UTF-16, or -1 when it holds an escape. A
    // raw control character means it is not as written (nor JSON).
    static bool stringAsWritten(const char *&p, const char *end, QByteArrayView &raw,
                                qsizetype &units)
    {
        if (p == end || *p != '"')
            return false;
        const char *start = ++p;
        bool escaped = false;
        units = 0;
#ifdef LUMARET_X86_SIMD
        // Sixteen bytes at a time to the next quote, backslash or control character, counting
        // the characters on the way in byte lanes: one starts at every byte that is no
        // continuation byte (10xxxxxx), and one of four bytes takes two UTF-16 units. The lanes
        // are summed before they can overflow. The padding behind the input makes the loads past
        // its end safe; what they find there is ignored.
        const __m128i zero = _mm_setzero_si128();
        const __m128i laneIndex =
            _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
        __m128i counted = zero;
        int chunks = 0;
        auto addCounted = [&] {
            const __m128i sums = _mm_sad_epu8(counted, zero);
            units += _mm_cvtsi128_si32(sums) + _mm_extract_epi16(sums, 4);
            counted = zero;
            chunks = 0;
        };
#endif
        while (p < end) {
#ifdef LUMARET_X86_SIMD
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
            const __m128i special =
                _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('"')),
                                          _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\\'))),
                             _mm_cmpeq_epi8(_mm_min_epu8(bytes, _mm_set1_epi8(0x1F)), bytes));
            const auto found = unsigned(_mm_movemask_epi8(special));
            const __m128i starts = _mm_cmpgt_epi8(bytes, _mm_set1_epi8(char(0xBF)));
            const __m128i longOnes =
                _mm_cmpeq_epi8(_mm_max_epu8(bytes, _mm_set1_epi8(char(0xF0))), bytes);
            __m128i characters = _mm_sub_epi8(_mm_sub_epi8(zero, starts), longOnes);
            if (found == 0) {
                counted = _mm_add_epi8(counted, characters);
                if (++chunks == 127)
                    addCounted();
                p += 16;
                continue;
            }
            const int at = __builtin_ctz(found);
            characters =
                _mm_and_si128(characters, _mm_cmpgt_epi8(_mm_set1_epi8(char(at)), laneIndex));
            counted = _mm_add_epi8(counted, characters);
            addCounted();
            p += at;
            if (p >= end)
                break;
#endif
            const auto c = static_cast<unsigned char>(*p);
            if (c == '"') {
                raw = QByteArrayView(start, p - start);
                units = escaped ? -1 : units;
                ++p;
                return true;
            }
            if (c < 0x20)
                return false;
            if (c == '\\') {
                // The backslash and the character it escapes.
                escaped = true;
                p += 2;
                continue;
            }
            // Without the vector scan above, each character is counted here.
            units += qsizetype((c & 0xC0) != 0x80) + qsizetype(c >= 0xF0);
            ++p;
        }
        return false;
    }

    // A title or a note as written: converted at once when it holds no escape.
    bool textAsWritten(const char *&p, const char *end, QString &text)
    {
        QByteArrayView raw;
        qsizetype units = 0;
        if (!stringAsWritten(p, end, raw, units))
            return false;
        if (units < 0)
            return readText(raw, text);
        text = textFromUtf8(raw, units);
        return true;
    }

    static bool isNull(ondemand::value &value)
    {
        bool null = false;
        return value.is_null().get(null) == simdjson::SUCCESS && null;
    }

    bool readKey(ondemand::raw_json_string rawKey, QByteArrayView &key, QByteArray &storage)
    {
        // The key runs from just after its opening quote to the first quote not escaped.
        const char *start = rawKey.raw();
        const char *p = start;
        bool escaped = false;
        while (*p != '"') {
            if (*p == '\\') {
                escaped = true;
                ++p;
            }
            ++p;
        }
        return takeString(start, p, escaped, key, storage);
    }

    // Reads a string value as written, escapes and all, from its raw token: the opening quote,
    // the text, the closing quote and any whitespace up to the next token.
    bool readRawString(ondemand::value &value, QByteArrayView &raw, const char *notAString)
    {
        ondemand::json_type type;
        if (value.type().get(type) != simdjson::SUCCESS || type != ondemand::json_type::string)
            return fail(notAString);
        const std::string_view token = value.raw_json_token();
        size_t end = token.size();
        while (end > 0 && isJsonSpace(token[end - 1]))
            --end;
        if (end < 2 || token[end - 1] != '"')
            return fail("malformed string", token.data());
        raw = QByteArrayView(token.data() + 1, qsizetype(end - 2));
        return true;
    }

    bool readString(ondemand::value &value, QByteArrayView &text, QByteArray &storage,
                    const char *notAString)
    {
        QByteArrayView raw;
        if (!readRawString(value, raw, notAString))
            return false;
        const bool escaped = std::memchr(raw.data(), '\\', size_t(raw.size())) != nullptr;
        return takeString(raw.data(), raw.data() + raw.size(), escaped, text, storage);
    }

    // Parses the short strings (ids, statuses, dates) as written, and only when that fails and
    // they hold an escape, once more unescaped: every writer writes them plainly.
    template <typename Parse>
    auto parseEscaped(QByteArrayView raw, Parse parse) -> decltype(parse(raw))
    {
        auto value = parse(raw);
        if (value || !std::memchr(raw.data(), '\\', size_t(raw.size())))
            return value;
        QByteArray storage;
        if (!unescape(raw.data(), raw.data() + raw.size(), storage))
            return {};
        return parse(QByteArrayView(storage));
    }

    // A title or a note: converted as written when it holds no escape, which the pass that
    // measures its length finds out on the way.
    bool readText(QByteArrayView raw, QString &text)
    {
        const auto *begin = reinterpret_cast<const unsigned char *>(raw.data());
        qsizetype escapes = 0;
        const qsizetype length = utf16Length(begin, begin + raw.size(), escapes);
        if (escapes == 0) {
            text = textFromUtf8(raw, length);
            return true;
        }
        QByteArray storage;
        if (!unescape(raw.data(), raw.data() + raw.size(), storage))
            return false;
        const auto *unescaped = reinterpret_cast<const unsigned char *>(storage.constData());
        text = textFromUtf8(storage, utf16Length(unescaped, unescaped + storage.size(), escapes));
        return true;
    }

    bool takeString(const char *start, const char *stop, bool escaped, QByteArrayView &text,
                    QByteArray &storage)
    {
        if (!escaped) {
            text = QByteArrayView(start, stop - start);
            return true;
        }
        if (!unescape(start, stop, storage))
            return false;
        text = storage;
        return true;
    }

    // Members this version does not know are skipped, but only once they have been found to be
    // proper JSON: a file that another writer damaged is rejected whole, wherever the damage is.
    bool checkSkippedValue(ondemand::value &value, int depth)
    {
        if (depth > 256)
            return fail("nesting too deep");
        ondemand::json_type type;
        if (const simdjson::error_code error = value.type().get(type))
            return fail(error);
        switch (type) {
        case ondemand::json_type::array: {
            ondemand::array array;
            if (const simdjson::error_code error = value.get_array().get(array))
                return fail(error);
            for (auto element : array) {
                ondemand::value item;
                if (const simdjson::error_code error = element.get(item))
                    return fail(error);
                if (!checkSkippedValue(item, depth + 1))
                    return false;
            }
            return true;
        }
        case ondemand::json_type::object: {
            ondemand::object object;
            if (const simdjson::error_code error = value.get_object().get(object))
                return fail(error);
            for (auto field : object) {
                ondemand::raw_json_string rawKey;
                if (const simdjson::error_code error = field.key().get(rawKey))
                    return fail(error);
                QByteArrayView key;
                QByteArray storage;
                if (!readKey(rawKey, key, storage))
                    return false;
                ondemand::value item;
                if (const simdjson::error_code error = field.value().get(item))
                    return fail(error);
                if (!checkSkippedValue(item, depth + 1))
                    return false;
            }
            return true;
        }
        case ondemand::json_type::string: {
            QByteArrayView text;
            QByteArray storage;
            return readString(value, text, storage, "invalid value");
        }
        case ondemand::json_type::number:
            return isNumber(value.raw_json_token()) || fail("invalid number");
        case ondemand::json_type::boolean: {
            bool flag = false;
            return value.get_bool().get(flag) == simdjson::SUCCESS || fail("invalid literal");
        }
        case ondemand::json_type::null:
            return isNull(value) || fail("invalid literal");
        }
        return fail("invalid value");
    }

    // The JSON number grammar, over a whole token with its trailing whitespace. The value itself
    // is never needed, so any size of number is accepted.
    static bool isNumber(std::string_view token)
    {
        while (!token.empty() && isJsonSpace(token.back()))
            token.remove_suffix(1);
        size_t i = 0;
        auto at = [&](size_t index) { return index < token.size() ? token[index] : '\0'; };
        auto isDigit = [&](size_t index) { return at(index) >= '0' && at(index) <= '9'; };
        if (at(i) == '-')
            ++i;
        if (at(i) == '0') {
            ++i;
        } else if (at(i) >= '1' && at(i) <= '9') {
            while (isDigit(i))
                ++i;
        } else {
            return false;
        }
        if (at(i) == '.') {
            ++i;
            if (!isDigit(i))
                return false;
            while (isDigit(i))
                ++i;
        }
        if (at(i) == 'e' || at(i) == 'E') {
            ++i;
            if (at(i) == '+' || at(i) == '-')
                ++i;
            if (!isDigit(i))
                return false;
            while (isDigit(i))
                ++i;
        }
        return i == token.size();
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

    bool fail(const char *message, const char *at = nullptr)
    {
        if (m_error.isEmpty()) {
            m_error = at ? QStringLiteral("%1 at byte %2")
                               .arg(QLatin1StringView(message))
                               .arg(qint64(at - m_begin))
                         : QString::fromLatin1(message);
        }
        return false;
    }

    bool fail(simdjson::error_code error)
    {
        return fail(simdjson::error_message(error));
    }

    std::optional<Board> failed(simdjson::error_code error)
    {
        fail(error);
        return std::nullopt;
    }

    const char *m_begin;
    QString m_error;
};

} // namespace

QByteArray encode(const Board &board)
{
    // One exact upper bound, one allocation.
    qsizetype capacity = 2;
    for (const Thought &thought : board)
        capacity += maximumThoughtBytes(thought);
    QByteArray bytes(capacity, Qt::Uninitialized);
    char *out = bytes.data();
    *out++ = '[';
    bool first = true;
    for (const Thought &thought : board) {
        if (!first)
            *out++ = ',';
        first = false;
        out = writeThought(out, thought);
    }
    *out++ = ']';
    Q_ASSERT(out - bytes.constData() <= capacity);
    bytes.truncate(out - bytes.constData());
    return bytes;
}

bool encodeInPieces(const Board &board, const std::function<bool(QByteArrayView)> &write)
{
    // Small enough to come from the heap's free lists rather than fresh pages on every save,
    // large enough that the writes cost little.
    QByteArray buffer(64 * 1024, Qt::Uninitialized);
    char *out = buffer.data();
    *out++ = '[';
    bool first = true;
    for (const Thought &thought : board) {
        // Room for this thought, the comma before it and the closing bracket.
        const qsizetype needed = maximumThoughtBytes(thought) + 1;
        if (out - buffer.constData() + needed > buffer.size()) {
            if (!write(QByteArrayView(buffer.constData(), out - buffer.constData())))
                return false;
            if (needed > buffer.size())
                buffer.resize(needed);
            out = buffer.data();
        }
        if (!first)
            *out++ = ',';
        first = false;
        out = writeThought(out, thought);
    }
    *out++ = ']';
    return write(QByteArrayView(buffer.constData(), out - buffer.constData()));
}

std::optional<Board> decode(QByteArrayView data, QString *error)
{
    if (data.isEmpty())
        return decodePadded(data, error);
    const simdjson::padded_string padded(data.data(), size_t(data.size()));
    Reader reader(padded.data());
    std::optional<Board> board = reader.readBoard(padded);
    if (!board && error)
        *error = reader.error();
    return board;
}

std::optional<Board> decodePadded(QByteArrayView data, QString *error)
{
    // Nothing is no JSON, and an empty view may have no bytes to point at.
    if (data.isEmpty()) {
        if (error)
            *error = QStringLiteral("the board is empty");
        return std::nullopt;
    }
    Reader reader(data.data());
    std::optional<Board> board = reader.readBoard(simdjson::padded_string_view(
        data.data(), size_t(data.size()), size_t(data.size() + readPadding)));
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
