#pragma once

#include <QWidget>

/// The window's backdrop: a diagonal gradient from the window colour through two fixed pale
/// tones to the control background colour, under a faint white wash.
class AmbientBackground : public QWidget
{
    Q_OBJECT

public:
    explicit AmbientBackground(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};
