#pragma once

#include <QDateTime>
#include <QString>

/// How long ago (or until) \a date is, in short Chinese words: "2小时前", "20分钟前", "0秒前".
/// Only a moment still to come reads "…后"; the present reads as the past.
/// The largest calendar unit that counts at least one is used; \a now is read by the caller so
/// tests and repaint passes can pin it.
QString relativeLabel(const QDateTime &date,
                      const QDateTime &now = QDateTime::currentDateTimeUtc());

/// Makes relativeLabel() answer the common ages (up to ten years) from the labels
/// keepRelativeLabels() wrote at \a path for an earlier launch, so that a launch can show cards'
/// ages without loading ICU's formatter (2 ms and 3.5 MiB of libraries before the first frame).
/// Labels written by another ICU, or a file not as written, are not used: returns false, and every
/// label comes from ICU again.
bool useKeptRelativeLabels(const QString &path);

/// Writes the labels of the common ages, as ICU words them now, to \a path for later launches, and
/// uses them from now on. Returns false when they could not all be formatted or written.
bool keepRelativeLabels(const QString &path);
