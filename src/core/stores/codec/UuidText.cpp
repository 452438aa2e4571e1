#include "UuidText.h"

#include <cstring>

namespace BoardCodec::detail {

char *writeUuid(char *out, const QUuid &id)
{
    const QByteArray text = id.toByteArray(QUuid::WithoutBraces);
    for (char c : text)
        *out++ = c >= 'a' && c <= 'f' ? char(c - 'a' + 'A') : c;
    return out;
}

std::optional<QUuid> readUuid(QByteArrayView text)
{
    // QUuid also reads the form in braces, and trailing text; and it answers a text it cannot read
    // with the null id, which is also the id of a text of zeros.
    if (text.size() != uuidTextLength || text.front() == '{')
        return std::nullopt;
    const QUuid id = QUuid::fromString(QLatin1StringView(text.data(), text.size()));
    if (id.isNull() && text != QByteArrayView("00000000-0000-0000-0000-000000000000"))
        return std::nullopt;
    return id;
}

} // namespace BoardCodec::detail
