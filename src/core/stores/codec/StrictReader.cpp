#include "StrictReader.h"

#include "IsoDate.h"
#include "JsonStrings.h"
#include "StatusText.h"
#include "UuidText.h"

#include <cstring>
#include <string_view>

// simdjson's On-Demand API finds the structure and checks the UTF-8 of the whole input (and that
// no string holds a raw control character) before a single value is looked at. The rules of the
// file format sit on top: the types and forms of the seven known members, and every other value
// checked as strictly as JSON demands even though it is skipped. Strings are taken from their raw
// tokens and unescaped here, so that one set of escape rules holds for keys, texts and skipped
// values alike. The file runs a little past 400 lines because it is one reader: the checks of the
// known members and of the skipped values all report into the same first error.
namespace BoardCodec::detail {

namespace {

namespace ondemand = simdjson::ondemand;

class Reader
{
public:
    explicit Reader(const char *begin) : m_begin(begin) {}

    std::optional<Board> readBoard(simdjson::padded_string_view json)
    {
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
            std::optional<QUuid> id = parseEscaped(raw, readUuid);
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
            std::optional<ThoughtStatus> status = parseEscaped(raw, readStatus);
            if (!status)
                return fail("unknown status", raw.data());
            thought.status = *status;
            break;
        }
        case CreatedMember:
        case UpdatedMember: {
            std::optional<QDateTime> date = parseEscaped(raw, readDate);
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

    bool readText(QByteArrayView raw, QString &text)
    {
        const char *fault = nullptr;
        return detail::readText(raw, text, fault) || fail(fault);
    }

    bool unescape(const char *start, const char *stop, QByteArray &out)
    {
        const char *fault = nullptr;
        return detail::unescape(QByteArrayView(start, stop), out, fault) || fail(fault);
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

    bool fail(simdjson::error_code error) { return fail(simdjson::error_message(error)); }

    std::optional<Board> failed(simdjson::error_code error)
    {
        fail(error);
        return std::nullopt;
    }

    const char *m_begin;
    QString m_error;
};

} // namespace

std::optional<Board> readStrictly(simdjson::padded_string_view json, QString *error)
{
    Reader reader(json.data());
    std::optional<Board> board = reader.readBoard(json);
    if (!board && error)
        *error = reader.error();
    return board;
}

} // namespace BoardCodec::detail
