#pragma once

#include "services/SyncService.h"
#include "support/GlassFrame.h"

class QLabel;

/// How one sync state looks in the pill.
struct SyncStatusVisualStyle
{
    QString symbolName;
    QColor color;
    /// The pill's tooltip.
    QString text;
    /// The short word beside the icon.
    QString word;

    static SyncStatusVisualStyle forState(const SyncService::State &state, const QPalette &palette);
};

/// The coloured icon disc of the pill: the symbol on a circle of its colour at low opacity.
class SyncStatusIcon : public QWidget
{
    Q_OBJECT

public:
    explicit SyncStatusIcon(QWidget *parent = nullptr);

    void setStyle(const QString &symbolName, const QColor &color);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_symbolName;
    QColor m_color;
};

/// The small badge in the header that shows the sync service's state: an icon, a short word, and
/// the longer explanation as its tooltip. Clicking it (or Space or Enter on it) asks for the sync
/// settings.
class SyncStatusPill : public GlassFrame
{
    Q_OBJECT

public:
    explicit SyncStatusPill(SyncService *syncService, QWidget *parent = nullptr);

    QString word() const;
    SyncStatusVisualStyle visualStyle() const;

signals:
    void clicked();

protected:
    void changeEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void refresh();

    SyncService *m_syncService = nullptr;
    SyncStatusIcon *m_icon = nullptr;
    QLabel *m_word = nullptr;
};
