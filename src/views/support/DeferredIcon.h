#pragma once

#include <QIcon>

#include <functional>

/// An icon that is made by \a make only when it is first drawn or measured, and from then on is
/// that icon. For the icons of controls that are created with the window but seldom or never
/// shown: drawing or loading them is no work for the first frame. \a make must not give a null
/// icon: the icon counts as not null without being made.
QIcon deferredIcon(std::function<QIcon()> make);
