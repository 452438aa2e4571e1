#pragma once

#include <QIcon>
#include <QList>
#include <QWidget>

/// A row of mutually exclusive segments, each with a symbol and a title, in a rounded track; the
/// selected segment is raised. Keyboard: Left and Right move the selection.
class SegmentedControl : public QWidget
{
    Q_OBJECT

public:
    struct Segment
    {
        QString title;
        QString systemImage;
    };

    explicit SegmentedControl(QList<Segment> segments, QWidget *parent = nullptr);

    int currentIndex() const { return m_currentIndex; }
    void setCurrentIndex(int index);
    int count() const { return int(m_segments.size()); }
    /// The rectangle of segment \a index, for pointing at it.
    QRect segmentRect(int index) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

signals:
    /// The user chose another segment.
    void activated(int index);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void choose(int index);

    QList<Segment> m_segments;
    int m_currentIndex = 0;
};
