#include "Utf8.h"

#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define LUMARET_X86_SIMD 1
#endif

namespace BoardCodec::detail {

namespace {

#ifdef LUMARET_X86_SIMD
const bool hasSsse3 = __builtin_cpu_supports("ssse3");

__attribute__((target("ssse3"))) bool writeEightThreeByteUnitsSsse3(const char16_t *p, char *out)
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
#endif

} // namespace

bool writeEightThreeByteUnits(const char16_t *p, char *out)
{
#ifdef LUMARET_X86_SIMD
    return hasSsse3 && writeEightThreeByteUnitsSsse3(p, out);
#else
    Q_UNUSED(p);
    Q_UNUSED(out);
    return false;
#endif
}

qsizetype utf16Length(QByteArrayView utf8, qsizetype &backslashes)
{
    const auto *p = reinterpret_cast<const unsigned char *>(utf8.data());
    // Counters as wide as the bytes' sums need, so the loop runs in vector registers.
    quint32 units = 0;
    quint32 found = 0;
    const auto size = quint32(utf8.size());
    for (quint32 i = 0; i < size; ++i) {
        units += quint32((p[i] & 0xC0) != 0x80) + quint32(p[i] >= 0xF0);
        found += quint32(p[i] == '\\');
    }
    backslashes = found;
    return units;
}

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

} // namespace BoardCodec::detail
