#pragma once

#include <QPixmap>
#include <QPointer>
#include <QWidget>

class QGraphicsOpacityEffect;
class QVariantAnimation;
class ThoughtEditorView;

/// The dimmed layer above the whole window that holds the open editor. It is modal: it takes every
/// click, and the keyboard focus stays inside the editor (Tab and Shift+Tab cycle through the
/// editor's controls), so nothing beneath it can be reached; a click beside the editor is
/// reported to the host, which decides whether it closes the editor. When the editor goes, the
/// focus returns to where it was before. It fades in and out in 0.16 seconds while the editor
/// grows from 0.98 to its full size.
class EditorOverlay : public QWidget
{
    Q_OBJECT

public:
    static constexpr int transitionMilliseconds = 160;
    static constexpr qreal backdropOpacity = 0.44;

    explicit EditorOverlay(QWidget *parent = nullptr);

    /// Shows \a editor, which the overlay now owns, replacing any editor shown before.
    void present(ThoughtEditorView *editor);
    /// Lets the editor go with the fade-out transition.
    void dismiss();

    ThoughtEditorView *editor() const { return m_editor; }
    bool isAnimating() const;
    /// How far the overlay has appeared, from 0 (gone) to 1 (fully shown).
    qreal progress() const { return m_progress; }

signals:
    void backdropClicked();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    bool focusNextPrevChild(bool next) override;

private:
    QRect editorRect() const;
    void placeEditor();
    void animateTo(qreal target);
    void transitionFinished();
    void keepFocusInside(QWidget *now);

    QPointer<ThoughtEditorView> m_editor;
    QGraphicsOpacityEffect *m_editorFade = nullptr;
    QVariantAnimation *m_animation = nullptr;
    QPixmap m_snapshot;
    QRect m_snapshotRect;
    qreal m_progress = 0;
    bool m_pressedOnBackdrop = false;
    QPointer<QWidget> m_focusBeforeOpening;
};
