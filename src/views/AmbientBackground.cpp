#include "AmbientBackground.h"

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
    gradient.setColorAt(1.0 / 3.0, QColor::fromRgbF(0.88f, 0.93f, 0.98f));
    gradient.setColorAt(2.0 / 3.0, QColor::fromRgbF(0.93f, 0.91f, 0.97f));
    gradient.setColorAt(1.0, SystemColors::controlBackground(palette()));
    painter.fillRect(rect(), gradient);
    painter.fillRect(rect(), QColor::fromRgbF(1.0f, 1.0f, 1.0f, 0.08f));
}
