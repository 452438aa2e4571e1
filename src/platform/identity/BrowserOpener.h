#pragma once

#include <QUrl>

#include <functional>

/// Opens a URL in the person's browser; false when no browser could be started. The platform
/// layer cannot reach the desktop itself, so the application entry hands one in.
using BrowserOpener = std::function<bool(const QUrl &)>;
