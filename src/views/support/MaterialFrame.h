#pragma once

#include <QWidget>

/// A rounded rectangle of the regular material behind its children, for the editor's fields.
class MaterialFrame : public QWidget
{
    Q_OBJECT

public:
    explicit MaterialFrame(qreal cornerRadius, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    qreal m_cornerRadius = 14;
};
