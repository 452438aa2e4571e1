#pragma once

#include "stores/BoardPersistence.h"

#include <QString>

/// The sentences that tell a person what happened to their board file, for the window and the
/// terminal alike.
namespace BoardFileMessages {

/// Why, in a few words: "磁盘已满", "没有权限" …
QString reason(const BoardFileProblem &problem);

/// The notice for a board file that existed at launch but could not be used. \a movedAside is
/// where it was moved once the board was first saved, or empty while it is still in place.
QString loadNotice(const BoardFileProblem &problem, const QString &movedAside);

/// The notice while the board in the window is newer than the file.
QString saveNotice(const BoardFileProblem &problem);

} // namespace BoardFileMessages
