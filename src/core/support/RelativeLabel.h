#pragma once

#include <QDateTime>
#include <QString>

/// How long ago (or until) \a date is, in short Chinese words: "2小时前", "20分钟前", "0秒前".
/// Only a moment still to come reads "…后"; the present reads as the past.
/// The largest calendar unit that counts at least one is used; \a now is read by the caller so
/// tests and repaint passes can pin it.
QString relativeLabel(const QDateTime &date,
                      const QDateTime &now = QDateTime::currentDateTimeUtc());
