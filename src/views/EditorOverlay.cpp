#include "EditorOverlay.h"

#include "ThoughtEditorView.h"

#include <QApplication>
#include <QGraphicsOpacityEffect>
#include <QLayout>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QVariantAnimation>

#include <utility>

namespace {

// The panel as it looks now, on a transparent ground: a plain grab() would fill the corners
// outside its rounded shape with the window colour.
QPixmap snapshotOf(QWidget *panel)
{
    const qreal ratio = panel->devicePixelRatioF();
    QPixmap pixmap(panel->size() * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    panel->render(&pixmap, QPoint(), QRegion(), QWidget::DrawChildren);
    return pixmap;
}

} // namespace

EditorOverlay::EditorOverlay(QWidget *parent) : QWidget(parent)
{
    m_animation = new QVariantAnimation(this);
    m_animation->setDuration(transitionMilliseconds);
    m_animation->setEasingCurve(QEasingCurve::InOutQuad);
    connect(m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_progress = value.toReal();
        update();
    });
    connect(m_animation, &QVariantAnimation::finished, this, &EditorOverlay::transitionFinished);
    connect(qApp, &QApplication::focusChanged, this,
            [this](QWidget *, QWidget *now) { keepFocusInside(now); });
    hide();
}

void EditorOverlay::present(ThoughtEditorView *editor)
{
    // Out of m_editor before it goes: destroying its focused field moves the focus, and the focus
    // guard must not look into an editor half torn down.
    if (ThoughtEditorView *previous = std::exchange(m_editor, nullptr).data())
        delete previous;
    else
        m_focusBeforeOpening = QApplication::focusWidget();
    m_editor = editor;
    editor->setParent(this);
    setAttribute(Qt::WA_TransparentForMouseEvents, false);
    placeEditor();
    // The editor works at once; while the overlay fades in, a picture of it is drawn scaled in
    // its place and the live widget stays invisible.
    editor->ensurePolished();
    if (QLayout *layout = editor->layout())
        layout->activate();
    m_snapshot = snapshotOf(editor);
    m_snapshotRect = editorRect();
    // The shadow's blur is worked out once per panel size; doing it now keeps that work out of
    // the first frame of the transition, which would otherwise skip most of it.
    QImage warmUp(1, 1, QImage::Format_ARGB32_Premultiplied);
    QPainter warmUpPainter(&warmUp);
    ThoughtEditorView::paintShadow(warmUpPainter, QRectF(m_snapshotRect), 0);
    m_editorFade = new QGraphicsOpacityEffect(editor);
    m_editorFade->setOpacity(0);
    editor->setGraphicsEffect(m_editorFade);
    show();
    raise();
    editor->show();
    editor->titleField()->setFocus(Qt::OtherFocusReason);
    animateTo(1);
}

void EditorOverlay::dismiss()
{
    if (m_editor) {
        m_snapshot = snapshotOf(m_editor);
        m_snapshotRect = m_editor->geometry();
        // Deleted later: dismissal is often asked from inside one of the editor's own signals.
        m_editor->hide();
        m_editor->deleteLater();
        m_editor = nullptr;
        m_editorFade = nullptr;
        if (QWidget *previous = m_focusBeforeOpening.data();
            previous && previous->isVisible() && previous->isEnabled())
            previous->setFocus(Qt::OtherFocusReason);
        m_focusBeforeOpening = nullptr;
    }
    // The fading overlay no longer stands between the user and the window.
    setAttribute(Qt::WA_TransparentForMouseEvents, true);
    animateTo(0);
}

bool EditorOverlay::isAnimating() const
{
    return m_animation->state() == QAbstractAnimation::Running;
}

void EditorOverlay::animateTo(qreal target)
{
    m_animation->stop();
    m_animation->setStartValue(m_progress);
    m_animation->setEndValue(target);
    m_animation->setDuration(int(transitionMilliseconds * qAbs(target - m_progress)));
    if (m_animation->duration() == 0) {
        m_progress = target;
        transitionFinished();
        return;
    }
    m_animation->start();
}

void EditorOverlay::transitionFinished()
{
    m_snapshot = QPixmap();
    if (m_progress <= 0) {
        hide();
        return;
    }
    if (m_editor && m_editorFade) {
        m_editor->setGraphicsEffect(nullptr);
        m_editorFade = nullptr;
    }
    update();
}

QRect EditorOverlay::editorRect() const
{
    if (!m_editor)
        return {};
    // 24 points stay free on either side; the panel is never wider than its own width.
    const int width = qMin(ThoughtEditorView::panelWidth, qMax(0, this->width() - 48));
    const int height = qMin(m_editor->sizeHint().height(), this->height());
    return {(this->width() - width) / 2, (this->height() - height) / 2, width, height};
}

void EditorOverlay::placeEditor()
{
    if (m_editor)
        m_editor->setGeometry(editorRect());
}

void EditorOverlay::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    placeEditor();
}

void EditorOverlay::paintEvent(QPaintEvent *event)
{
    Q_UNUSED(event);
    QPainter painter(this);
    painter.fillRect(rect(), QColor::fromRgbF(0, 0, 0, float(backdropOpacity * m_progress)));
    const bool showingSnapshot = !m_snapshot.isNull();
    const QRect panel = showingSnapshot ? m_snapshotRect : editorRect();
    if (panel.isEmpty())
        return;
    const qreal scale = showingSnapshot ? 0.98 + 0.02 * m_progress : 1.0;
    QRectF scaled(0, 0, panel.width() * scale, panel.height() * scale);
    scaled.moveCenter(QRectF(panel).center());
    // The shadow is drawn at the panel's full size and scaled with it.
    painter.save();
    painter.translate(scaled.center());
    painter.scale(scale, scale);
    painter.translate(-QRectF(panel).center());
    ThoughtEditorView::paintShadow(painter, QRectF(panel), m_progress);
    painter.restore();
    if (showingSnapshot) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.setOpacity(m_progress);
        painter.drawPixmap(scaled, m_snapshot, QRectF(m_snapshot.rect()));
    }
}

void EditorOverlay::mousePressEvent(QMouseEvent *event)
{
    // Every press is taken here, so nothing beneath the overlay is reached.
    event->accept();
    m_pressedOnBackdrop = event->button() == Qt::LeftButton;
}

void EditorOverlay::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
    if (m_pressedOnBackdrop && event->button() == Qt::LeftButton &&
        rect().contains(event->position().toPoint()))
        emit backdropClicked();
    m_pressedOnBackdrop = false;
}

void EditorOverlay::wheelEvent(QWheelEvent *event)
{
    event->accept();
}

bool EditorOverlay::focusNextPrevChild(bool next)
{
    if (!m_editor)
        return QWidget::focusNextPrevChild(next);
    // Tab walks the window's focus chain, which runs on behind the backdrop: follow it only to
    // the editor's own controls, coming round to the first after the last.
    QWidget *current = QApplication::focusWidget();
    if (!current || !m_editor->isAncestorOf(current)) {
        m_editor->titleField()->setFocus(Qt::TabFocusReason);
        return true;
    }
    for (QWidget *candidate = current;;) {
        candidate = next ? candidate->nextInFocusChain() : candidate->previousInFocusChain();
        if (!candidate || candidate == current)
            return true;
        if (m_editor->isAncestorOf(candidate) && candidate->isVisibleTo(m_editor) &&
            candidate->isEnabled() && (candidate->focusPolicy() & Qt::TabFocus)) {
            candidate->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
            return true;
        }
    }
}

void EditorOverlay::keepFocusInside(QWidget *now)
{
    // Whatever moves the focus behind an open editor (a shortcut, a program asking for it), the
    // keyboard must not act on the board beneath the backdrop.
    if (!m_editor || !now || now->window() != window() || m_editor->isAncestorOf(now))
        return;
    m_editor->titleField()->setFocus(Qt::OtherFocusReason);
}
