#include "UndoNotice.h"

#include "BoardHistory.h"
#include "support/SystemColors.h"
#include "support/TextStyles.h"

#include <QAccessible>
#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QUndoStack>

#include <algorithm>

namespace {

constexpr int bottomMargin = 22;
constexpr int titleWidth = 260;

} // namespace

UndoNotice::UndoNotice(BoardStore *store, BoardHistory *history, QWidget *parent)
    : QWidget(parent), m_history(history)
{
    setAccessibleName(QStringLiteral("撤销提示"));
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(16, 6, 6, 6);
    row->setSpacing(10);
    m_text = new QLabel(this);
    // Titles are the person's own words: never read as markup.
    m_text->setTextFormat(Qt::PlainText);
    m_text->setFont(textStyleFont(TextStyle::callout));
    row->addWidget(m_text);
    m_undoButton = new QPushButton(QStringLiteral("撤销"), this);
    m_undoButton->setAutoDefault(false);
    m_undoButton->setFont(textStyleFont(TextStyle::callout));
    m_undoButton->setToolTip(QStringLiteral("撤销（Ctrl+Z）"));
    row->addWidget(m_undoButton);

    m_timer.setSingleShot(true);
    m_timer.setInterval(showTime);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        // Not while the person is about to use it.
        if (underMouse() || isAncestorOf(QApplication::focusWidget()))
            m_timer.start();
        else
            dismiss();
    });
    connect(m_undoButton, &QPushButton::clicked, this, [this] {
        if (m_history->stack()->index() == m_stepIndex)
            m_history->stack()->undo();
        dismiss();
    });
    connect(store, &BoardStore::changed, this, &UndoNotice::announce);
    // Any later step, or the announced one taken back by other means, makes the offer stale.
    connect(m_history->stack(), &QUndoStack::indexChanged, this, [this](int index) {
        if (isVisible() && index != m_stepIndex)
            dismiss();
    });
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget *old, QWidget *now) {
        if (now && isAncestorOf(now) && !isAncestorOf(old))
            m_focusBefore = old;
    });
    parent->installEventFilter(this);
    hide();
}

void UndoNotice::announce(BoardStore::Change change, const Board &before, const QList<QUuid> &ids)
{
    if (ids.isEmpty() ||
        (change != BoardStore::Change::remove && change != BoardStore::Change::archive))
        return;
    if (change == BoardStore::Change::remove) {
        const auto removed = std::find_if(before.cbegin(), before.cend(),
                                          [&](const Thought &t) { return t.id == ids.first(); });
        const QString title = removed == before.cend() ? QString() : removed->title;
        m_text->setText(QStringLiteral("已删除「%1」")
                            .arg(m_text->fontMetrics().elidedText(title.simplified(),
                                                                  Qt::ElideRight, titleWidth)));
    } else {
        m_text->setText(QStringLiteral("已归档 %1 条已完成的想法").arg(ids.size()));
    }
    m_stepIndex = m_history->stack()->index();
    adjustSize();
    place();
    show();
    raise();
    m_timer.start();
    QAccessibleEvent alert(this, QAccessible::Alert);
    QAccessible::updateAccessibility(&alert);
}

void UndoNotice::dismiss()
{
    m_timer.stop();
    // The focus goes back to where it came from rather than on along the chain.
    const bool hadFocus = isAncestorOf(QApplication::focusWidget());
    hide();
    if (hadFocus && m_focusBefore && m_focusBefore->isVisible())
        m_focusBefore->setFocus(Qt::OtherFocusReason);
}

void UndoNotice::place()
{
    const QSize size = sizeHint();
    const QRect area = parentWidget()->rect();
    setGeometry(area.center().x() - size.width() / 2, area.bottom() - bottomMargin - size.height(),
                size.width(), size.height());
}

bool UndoNotice::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        place();
    return QWidget::eventFilter(watched, event);
}

void UndoNotice::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF shape = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const qreal radius = shape.height() / 2;
    // Opaque: the note sits over cards whose text would otherwise show through its words.
    painter.setBrush(palette().color(QPalette::Base));
    painter.setPen(QPen(SystemColors::withOpacity(SystemColors::primaryLabel(palette()), 0.22), 1));
    painter.drawRoundedRect(shape, radius, radius);
}
