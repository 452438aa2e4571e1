#pragma once

#include <QString>

class QSettings;

/// Notes, snapshots and settings are the person's alone: their files are created readable by the
/// user only (0600) in folders only the user may enter (0700), and ones left wider by an earlier
/// version are tightened when next written.
namespace PrivateFiles {

/// Creates \a folder and any missing parents, and makes \a folder itself 0700; the parents keep
/// their modes, since they may be shared ones such as ~/.local/share. False when it cannot be
/// made.
bool makeFolder(const QString &folder);

/// Makes the existing file at \a path 0600, or the existing folder 0700.
void restrict(const QString &path);

/// Writes \a settings out into a file readable by the user only: the file is created 0600, or
/// made so, before anything is written to it, and its folder made 0700.
void sync(QSettings &settings);

} // namespace PrivateFiles
