#pragma once

#include <QStringList>

class BoardStore;
class SingleInstance;

/// "lumaret add TEXT…" or "lumaret add -": adds thoughts without opening a window. A running
/// Lumaret takes them over its single-instance socket and shows them at once; otherwise the command
/// holds the single-instance lock while it adds them to the board file, so the board never has two
/// writers. \a arguments are the words after "add". Returns the process exit code.
int runAddCommand(const QStringList &arguments);

/// Lets the running window's \a store take thoughts sent by "lumaret add".
void acceptQuickCaptures(SingleInstance &instance, BoardStore &store);
