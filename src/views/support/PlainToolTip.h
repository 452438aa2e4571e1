#pragma once

#include <QString>

/// \a text, which came from outside the program (a server, a provider, the board file), as a
/// tooltip that shows it as written: Qt renders a tooltip that looks like markup as markup, and a
/// tooltip has no text format to say otherwise.
QString plainToolTip(const QString &text);
