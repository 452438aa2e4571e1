#pragma once

// Hexadecimal digits, read in ids and in \u escapes, by table because both are read for every
// thought.

#include <QtGlobal>

#include <array>

namespace BoardCodec::detail {

inline constexpr std::array<qint8, 256> hexValues = [] {
    std::array<qint8, 256> values{};
    values.fill(-1);
    for (int i = 0; i < 10; ++i)
        values[size_t('0' + i)] = qint8(i);
    for (int i = 0; i < 6; ++i)
        values[size_t('a' + i)] = values[size_t('A' + i)] = qint8(10 + i);
    return values;
}();

/// The value of the hexadecimal digit \a c in either case, or -1.
inline int hexValue(char c)
{
    return hexValues[static_cast<unsigned char>(c)];
}

} // namespace BoardCodec::detail
