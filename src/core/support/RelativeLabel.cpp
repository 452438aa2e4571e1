#include "RelativeLabel.h"

#include <QStringView>

namespace {

// The short Chinese forms of relative times: the count, with a comma between each group of three
// digits, then the unit, then 前 (ago) or 后 (from now), as in "2小时前" and "1,000年后".
QString relativeText(qint64 count, bool isFuture, QStringView unit)
{
    const QString digits = QString::number(count);
    QString text;
    text.reserve(digits.size() + digits.size() / 3 + unit.size() + 1);
    for (qsizetype i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            text.append(QLatin1Char(','));
        text.append(digits.at(i));
    }
    text.append(unit);
    text.append(isFuture ? u'后' : u'前');
    return text;
}

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

    // The direction is told by isFuture alone, also for a count of zero.
    auto label = [isFuture](qint64 count, QStringView unit) {
        return relativeText(count < 0 ? -count : count, isFuture, unit);
    };
    if (months / 12 != 0)
        return label(months / 12, u"年");
    if (months != 0)
        return label(months, u"个月");
    if (magnitude >= 7 * 86400)
        return label(seconds / (7 * 86400), u"周");
    if (magnitude >= 86400)
        return label(seconds / 86400, u"天");
    if (magnitude >= 3600)
        return label(seconds / 3600, u"小时");
    if (magnitude >= 60)
        return label(seconds / 60, u"分钟");
    return label(seconds, u"秒");
}
