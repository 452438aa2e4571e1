#pragma once

#include "services/RemoteBoard.h"

#include <QString>

/// The sentences that tell a person what happened between their board and the cloud folder, for
/// the window and the terminal alike.
namespace CloudMessages {

/// What went wrong, and where the person can act on it, what to do.
QString describe(const CloudError &error);

/// Said after a sync that kept an unreadable cloud board under \a name beside the board.
QString movedAsideNotice(const QString &name);

} // namespace CloudMessages
