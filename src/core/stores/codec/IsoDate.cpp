#include "IsoDate.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>

namespace BoardCodec::detail {

namespace {

using namespace std::chrono;

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

} // namespace

char *writeDate(char *out, const QDateTime &date)
{
    const auto instant =
        floor<seconds>(sys_time<milliseconds>(milliseconds(date.toMSecsSinceEpoch())));
    const sys_days day = floor<days>(instant);
    const hh_mm_ss time(instant - day);
    // The calendar types hold the years -32767 to 32767, and a QDateTime goes far beyond. The
    // calendar repeats every 400 years, so the date is taken within 400 years of 1970 and its year
    // moved back by as many cycles.
    constexpr qint64 daysPerCycle = 146097;
    const qint64 cycles = day.time_since_epoch().count() / daysPerCycle;
    const year_month_day calendarDate(day - days(cycles * daysPerCycle));
    const qint64 yearNumber = int(calendarDate.year()) + cycles * 400;
    // Four digits are all the form holds.
    out = writePadded(out, int(std::clamp<qint64>(yearNumber, 0, 9999)), 4);
    *out++ = '-';
    out = writePadded(out, int(unsigned(calendarDate.month())), 2);
    *out++ = '-';
    out = writePadded(out, int(unsigned(calendarDate.day())), 2);
    *out++ = 'T';
    out = writePadded(out, int(time.hours().count()), 2);
    *out++ = ':';
    out = writePadded(out, int(time.minutes().count()), 2);
    *out++ = ':';
    out = writePadded(out, int(time.seconds().count()), 2);
    *out++ = 'Z';
    return out;
}

std::optional<QDateTime> readDate(QByteArrayView text)
{
    if (text.size() != writtenDateLength && text.size() != writtenDateLength + 5)
        return std::nullopt;
    const char *p = text.data();
    int yearNumber = 0;
    int monthNumber = 0;
    int dayNumber = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    if (!readDigits(p, 4, yearNumber) || p[4] != '-' || !readDigits(p + 5, 2, monthNumber) ||
        p[7] != '-' || !readDigits(p + 8, 2, dayNumber) || p[10] != 'T' ||
        !readDigits(p + 11, 2, hour) || p[13] != ':' || !readDigits(p + 14, 2, minute) ||
        p[16] != ':' || !readDigits(p + 17, 2, second))
        return std::nullopt;
    const year_month_day calendarDate{year(yearNumber), month(unsigned(monthNumber)),
                                      day(unsigned(dayNumber))};
    if (!calendarDate.ok() || hour > 23 || minute > 59 || second > 59)
        return std::nullopt;
    seconds offset(0);
    if (text.size() == writtenDateLength) {
        if (p[19] != 'Z')
            return std::nullopt;
    } else {
        int offsetHours = 0;
        int offsetMinutes = 0;
        if ((p[19] != '+' && p[19] != '-') || !readDigits(p + 20, 2, offsetHours) || p[22] != ':' ||
            !readDigits(p + 23, 2, offsetMinutes) || offsetHours > 23 || offsetMinutes > 59)
            return std::nullopt;
        offset = hours(offsetHours) + minutes(offsetMinutes);
        if (p[19] == '-')
            offset = -offset;
    }
    const sys_seconds instant =
        sys_days(calendarDate) + hours(hour) + minutes(minute) + seconds(second) - offset;
    return QDateTime::fromMSecsSinceEpoch(milliseconds(instant.time_since_epoch()).count(),
                                          Qt::UTC);
}

} // namespace BoardCodec::detail
