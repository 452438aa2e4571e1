#include "AmbientBackground.h"

#include "support/GlassSurface.h"
#include "support/SystemColors.h"

#include <QLinearGradient>
#include <QPainter>

AmbientBackground::AmbientBackground(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void AmbientBackground::paintEvent(QPaintEvent *event)
{
    Q_UNUSED(event);
    QPainter painter(this);
    QLinearGradient gradient(rect().topLeft(), rect().bottomRight());
    gradient.setColorAt(0.0, SystemColors::windowBackground(palette()));
    gradient.setColorAt(1.0, SystemColors::controlBackground(palette()));
    if (isDarkAppearance(palette())) {
        // The same cool blue and violet light, as a night sky rather than an inverted day: every
        // stop stays dark so that light text reads anywhere on it.
        gradient.setColorAt(1.0 / 3.0, QColor::fromRgbF(0.09f, 0.11f, 0.16f));
        gradient.setColorAt(2.0 / 3.0, QColor::fromRgbF(0.12f, 0.10f, 0.16f));
        painter.fillRect(rect(), gradient);
        return;
    }
    gradient.setColorAt(1.0 / 3.0, QColor::fromRgbF(0.88f, 0.93f, 0.98f));
    gradient.setColorAt(2.0 / 3.0, QColor::fromRgbF(0.93f, 0.91f, 0.97f));
    painter.fillRect(rect(), gradient);
    painter.fillRect(rect(), QColor::fromRgbF(1.0f, 1.0f, 1.0f, 0.08f));
}
