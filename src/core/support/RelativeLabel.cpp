#include "RelativeLabel.h"

#include <unicode/locid.h>
#include <unicode/reldatefmt.h>
#include <unicode/unistr.h>

#include <memory>

namespace {

// The one formatter of the process, made on first use; ICU formatters are expensive to create.
class RelativeLabelFormatter
{
public:
    static RelativeLabelFormatter &shared()
    {
        static RelativeLabelFormatter formatter;
        return formatter;
    }

    QString format(double value, URelativeDateTimeUnit unit)
    {
        if (!m_formatter)
            return {};
        UErrorCode status = U_ZERO_ERROR;
        icu::UnicodeString text;
        m_formatter->formatNumeric(value, unit, text, status);
        if (U_FAILURE(status))
            return {};
        return QString(reinterpret_cast<const QChar *>(text.getBuffer()), text.length());
    }

private:
    RelativeLabelFormatter()
    {
        UErrorCode status = U_ZERO_ERROR;
        auto formatter = std::make_unique<icu::RelativeDateTimeFormatter>(
            icu::Locale("zh_Hans_CN"), nullptr, UDAT_STYLE_SHORT, UDISPCTX_CAPITALIZATION_NONE,
            status);
        if (U_SUCCESS(status))
            m_formatter = std::move(formatter);
    }

    std::unique_ptr<icu::RelativeDateTimeFormatter> m_formatter;
};

// Whole calendar months from \a from to \a to (both UTC), counted towards zero.
qint64 wholeMonthsBetween(const QDateTime &from, const QDateTime &to)
{
    const QDate fromDate = from.date();
    const QDate toDate = to.date();
    qint64 months = (toDate.year() - fromDate.year()) * 12LL + (toDate.month() - fromDate.month());
    const QDateTime shifted = from.addMonths(int(months));
    if (months > 0 && shifted > to)
        --months;
    else if (months < 0 && shifted < to)
        ++months;
    return months;
}

} // namespace

QString relativeLabel(const QDateTime &date, const QDateTime &now)
{
    // Positive offsets lie in the future ("…后"), negative ones in the past ("…前"). A moment
    // that has come is never "in" anything: the present and anything within the last second are
    // the past too, so a card changed just now reads "0秒前", never "0秒后".
    const QDateTime utcDate = date.toUTC();
    const QDateTime utcNow = now.toUTC();
    const bool isFuture = utcNow.msecsTo(utcDate) > 0;
    const qint64 seconds = utcNow.secsTo(utcDate);
    const qint64 magnitude = seconds < 0 ? -seconds : seconds;
    const qint64 months = wholeMonthsBetween(utcNow, utcDate);

    // The sign carries the direction, also for a count of zero (ICU reads the sign bit).
    auto signedCount = [isFuture](qint64 count) {
        const double value = double(count < 0 ? -count : count);
        return isFuture ? value : -value;
    };
    auto &formatter = RelativeLabelFormatter::shared();
    if (months / 12 != 0)
        return formatter.format(signedCount(months / 12), UDAT_REL_UNIT_YEAR);
    if (months != 0)
        return formatter.format(signedCount(months), UDAT_REL_UNIT_MONTH);
    if (magnitude >= 7 * 86400)
        return formatter.format(signedCount(seconds / (7 * 86400)), UDAT_REL_UNIT_WEEK);
    if (magnitude >= 86400)
        return formatter.format(signedCount(seconds / 86400), UDAT_REL_UNIT_DAY);
    if (magnitude >= 3600)
        return formatter.format(signedCount(seconds / 3600), UDAT_REL_UNIT_HOUR);
    if (magnitude >= 60)
        return formatter.format(signedCount(seconds / 60), UDAT_REL_UNIT_MINUTE);
    return formatter.format(signedCount(seconds), UDAT_REL_UNIT_SECOND);
}
