#pragma once

#include <QString>
#include <QStringView>

#include <array>
#include <optional>

/// The four columns of the board, in column order. The raw values are the serialised form in the
/// board file and the cloud record.
enum class ThoughtStatus : quint8 { notStarted, inProgress, completed, archived };

/// An sRGB colour with opacity 1, kept free of QtGui so the core links QtCore only.
struct StatusColor
{
    double red = 0;
    double green = 0;
    double blue = 0;

    friend bool operator==(const StatusColor &, const StatusColor &) = default;
};

namespace ThoughtStatuses {

/// Every status in board column order.
inline constexpr std::array<ThoughtStatus, 4> allCases = {
    ThoughtStatus::notStarted, ThoughtStatus::inProgress, ThoughtStatus::completed,
    ThoughtStatus::archived};

QString rawValue(ThoughtStatus status);
/// The status whose raw value is exactly \a raw, or nothing for any other text.
std::optional<ThoughtStatus> fromRawValue(QStringView raw);
/// The Chinese column title, also matched by the board's search.
QString title(ThoughtStatus status);
/// The platform symbol name; the views map it to a bundled icon.
QString systemImage(ThoughtStatus status);
StatusColor accentColor(ThoughtStatus status);
/// Where "advance" moves a card; archived maps to itself.
ThoughtStatus next(ThoughtStatus status);

} // namespace ThoughtStatuses
