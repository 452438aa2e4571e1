#include "RelativeLabel.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <unicode/locid.h>
#include <unicode/reldatefmt.h>
#include <unicode/unistr.h>
#include <unicode/uversion.h>

#include <algorithm>
#include <array>
#include <memory>
#include <numeric>
#include <vector>

namespace {

enum class Unit { second, minute, hour, day, week, month, year };

constexpr std::array icuUnits = {UDAT_REL_UNIT_SECOND, UDAT_REL_UNIT_MINUTE, UDAT_REL_UNIT_HOUR,
                                 UDAT_REL_UNIT_DAY,    UDAT_REL_UNIT_WEEK,   UDAT_REL_UNIT_MONTH,
                                 UDAT_REL_UNIT_YEAR};

// The counts from 0 kept for each unit: every count a unit shows before the next one takes
// over (a month never reaches 5 weeks), and the first ten years.
constexpr std::array<int, icuUnits.size()> keptCounts = {60, 60, 24, 7, 5, 12, 11};

constexpr int keptLabelCount()
{
    return 2 * std::accumulate(keptCounts.begin(), keptCounts.end(), 0);
}

// Where each unit's labels start among the kept ones: past and future of each count, in turn.
constexpr std::array<int, icuUnits.size()> keptOffsets = [] {
    std::array<int, icuUnits.size()> offsets{};
    for (size_t unit = 1; unit < offsets.size(); ++unit)
        offsets[unit] = offsets[unit - 1] + 2 * keptCounts[unit - 1];
    return offsets;
}();

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

// The labels of the common ages as ICU wrote them for an earlier launch, in the order of
// keptIndex(); empty when there are none.
std::vector<QString> &keptLabels()
{
    static std::vector<QString> labels;
    return labels;
}

int keptIndex(size_t unit, qint64 count, bool isFuture)
{
    if (count >= keptCounts[unit])
        return -1;
    return keptOffsets[unit] + 2 * int(count) + (isFuture ? 1 : 0);
}

QString icuLabel(size_t unit, qint64 count, bool isFuture)
{
    // The sign carries the direction, also for a count of zero (ICU reads the sign bit).
    const double magnitude = double(count);
    return RelativeLabelFormatter::shared().format(isFuture ? magnitude : -magnitude,
                                                   icuUnits[unit]);
}

QString label(Unit unit, qint64 count, bool isFuture)
{
    const std::vector<QString> &kept = keptLabels();
    if (const int index = keptIndex(size_t(unit), count, isFuture); index >= 0 && !kept.empty())
        return kept[size_t(index)];
    return icuLabel(size_t(unit), count, isFuture);
}

// Names the format, the locale and the ICU that wrote the labels: labels from another ICU may
// word an age differently and are not used.
QByteArray keptLabelsHeader()
{
    UVersionInfo version;
    u_getVersion(version);
    char versionText[U_MAX_VERSION_STRING_LENGTH];
    u_versionToString(version, versionText);
    return QByteArrayLiteral("Lumaret relative labels 1 zh_Hans_CN ICU ") + versionText + ' ' +
           QByteArray::number(keptLabelCount());
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

    const qint64 monthCount = months < 0 ? -months : months;
    if (monthCount >= 12)
        return label(Unit::year, monthCount / 12, isFuture);
    if (monthCount != 0)
        return label(Unit::month, monthCount, isFuture);
    if (magnitude >= 7 * 86400)
        return label(Unit::week, magnitude / (7 * 86400), isFuture);
    if (magnitude >= 86400)
        return label(Unit::day, magnitude / 86400, isFuture);
    if (magnitude >= 3600)
        return label(Unit::hour, magnitude / 3600, isFuture);
    if (magnitude >= 60)
        return label(Unit::minute, magnitude / 60, isFuture);
    return label(Unit::second, magnitude, isFuture);
}

bool useKeptRelativeLabels(const QString &path)
{
    std::vector<QString> &kept = keptLabels();
    kept.clear();
    QFile file(path);
    // A file many times the size of what is written is not one of ours.
    constexpr qint64 largest = 64 * 1024;
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly) || file.size() > largest)
        return false;
    QList<QByteArray> lines = file.read(largest).split('\n');
    if (!lines.isEmpty() && lines.constLast().isEmpty())
        lines.removeLast();
    if (lines.size() != 1 + keptLabelCount() || lines.constFirst() != keptLabelsHeader())
        return false;
    std::vector<QString> read;
    read.reserve(size_t(keptLabelCount()));
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QString text = QString::fromUtf8(lines.at(i));
        const bool isText =
            !text.isEmpty() && std::none_of(text.cbegin(), text.cend(), [](QChar c) {
                return c.category() == QChar::Other_Control || c == QChar::ReplacementCharacter;
            });
        if (!isText)
            return false;
        read.push_back(text);
    }
    kept = std::move(read);
    return true;
}

bool keepRelativeLabels(const QString &path)
{
    QByteArray out = keptLabelsHeader() + '\n';
    std::vector<QString> labels;
    labels.reserve(size_t(keptLabelCount()));
    // In the order keptIndex() reads them.
    for (size_t unit = 0; unit < keptCounts.size(); ++unit) {
        for (qint64 count = 0; count < keptCounts[unit]; ++count) {
            for (const bool isFuture : {false, true}) {
                const QString text = icuLabel(unit, count, isFuture);
                if (text.isEmpty())
                    return false;
                labels.push_back(text);
                out += text.toUtf8() + '\n';
            }
        }
    }
    QSaveFile file(path);
    if (!QDir().mkpath(QFileInfo(path).absolutePath()) || !file.open(QIODevice::WriteOnly) ||
        file.write(out) != out.size() || !file.commit())
        return false;
    keptLabels() = std::move(labels);
    return true;
}
