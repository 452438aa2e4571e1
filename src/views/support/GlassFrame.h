#pragma once

#include "GlassSurface.h"

#include <QAbstractButton>
#include <QWidget>

/// A container drawn on the shared glass surface; its children lie on top of it.
class GlassFrame : public QWidget
{
    Q_OBJECT

public:
    GlassFrame(qreal cornerRadius, std::optional<QColor> tint, GlassInteraction interaction,
               QWidget *parent = nullptr);

    qreal cornerRadius() const { return m_cornerRadius; }
    std::optional<QColor> tint() const { return m_tint; }
    void setTint(const std::optional<QColor> &tint);
    GlassInteraction interaction() const { return m_interaction; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    qreal m_cornerRadius = 0;
    std::optional<QColor> m_tint;
    GlassInteraction m_interaction = GlassInteraction::passive;
};

/// A borderless button whose label is one symbol centred in a square frame, on the glass surface.
class GlassSymbolButton : public QAbstractButton
{
    Q_OBJECT

public:
    GlassSymbolButton(const QString &systemImage, int frameSize, qreal cornerRadius,
                      QWidget *parent = nullptr);

    QString systemImage() const { return m_systemImage; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_systemImage;
    int m_frameSize = 30;
    qreal m_cornerRadius = 11;
};
