#pragma once

#include <QStringList>

/// `lumaret snapshots` lists the boards kept beside the board file; `lumaret snapshots restore
/// ID` brings one back as an ordinary change, unless the window is open. Returns the exit code.
int runSnapshotCommand(const QStringList &arguments);
