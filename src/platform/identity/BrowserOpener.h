#pragma once

#include <QString>
#include <QUrl>

#include <functional>

struct AuthorizationError;

/// Opens a URL in the person's browser; false when no browser could be started. The platform
/// layer cannot reach the desktop itself, so the application entry hands one in.
using BrowserOpener = std::function<bool(const QUrl &)>;

/// Words a failed sign-in for the page the browser shows once it comes back. The platform layer
/// leaves wording to the views, so the application entry hands this in too.
using BrowserPageWording = std::function<QString(const AuthorizationError &)>;
