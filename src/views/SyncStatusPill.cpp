#include "SyncStatusPill.h"

#include "support/CloudMessages.h"
#include "support/PlainToolTip.h"
#include "support/SymbolIcon.h"
#include "support/SystemColors.h"
#include "support/TextStyles.h"

#include "support/LumaretStyle.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>

SyncStatusVisualStyle SyncStatusVisualStyle::forState(const SyncService::State &state,
                                                      const QPalette &palette)
{
    using Kind = SyncService::State::Kind;
    switch (state.kind) {
    case Kind::localOnly:
        return {QStringLiteral("cloud.and.arrow.up"), SystemColors::secondaryLabel(palette),
                QStringLiteral("当前保存在本机；点按这里连接 WebDAV 文件夹即可同步到云端"),
                QStringLiteral("本机")};
    case Kind::ready:
        return {QStringLiteral("cloud.fill"), SystemColors::green(palette),
                state.movedAsideAs.isEmpty()
                    ? QStringLiteral("云端同步已就绪")
                    : QStringLiteral("云端同步已就绪\n") +
                          CloudMessages::movedAsideNotice(state.movedAsideAs),
                QStringLiteral("云端")};
    case Kind::syncing:
        return {QStringLiteral("cloud.and.arrow.up"), SystemColors::blue(palette),
                QStringLiteral("正在上传同步"), QStringLiteral("同步中")};
    case Kind::failed:
        return {QStringLiteral("exclamationmark.triangle.fill"), SystemColors::red(palette),
                CloudMessages::describe(state.problem), QStringLiteral("同步异常")};
    }
    return {};
}

SyncStatusIcon::SyncStatusIcon(QWidget *parent) : QWidget(parent)
{
    setFixedSize(24, 24);
}

void SyncStatusIcon::setStyle(const QString &symbolName, const QColor &color)
{
    m_symbolName = symbolName;
    m_color = color;
    update();
}

void SyncStatusIcon::paintEvent(QPaintEvent *event)
{
    Q_UNUSED(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(SystemColors::withOpacity(m_color, 0.14));
    painter.drawEllipse(QRectF(rect()));
    // A symbol in the 13-point semibold system font is drawn about 14 points tall.
    const int symbolSize = 14;
    painter.drawPixmap(QPointF((width() - symbolSize) / 2.0, (height() - symbolSize) / 2.0),
                       symbolPixmap(m_symbolName, m_color, symbolSize, devicePixelRatioF()));
}

SyncStatusPill::SyncStatusPill(SyncService *syncService, QWidget *parent)
    : GlassFrame(12, std::nullopt, GlassInteraction::interactive, parent),
      m_syncService(syncService)
{
    setFocusPolicy(Qt::TabFocus);
    setCursor(Qt::PointingHandCursor);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 0, 12, 0);
    layout->setSpacing(8);
    m_icon = new SyncStatusIcon(this);
    layout->addWidget(m_icon);
    m_word = new QLabel(this);
    m_word->setFont(textStyleFont(TextStyle::caption, QFont::DemiBold));
    m_word->setWordWrap(false);
    m_word->setTextFormat(Qt::PlainText);
    layout->addWidget(m_word);
    setFixedHeight(34);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(m_syncService, &SyncService::stateChanged, this, &SyncStatusPill::refresh);
    connect(m_syncService, &SyncService::lastInSyncChanged, this, &SyncStatusPill::refresh);
    refresh();
}

QString SyncStatusPill::word() const
{
    return m_word->text();
}

SyncStatusVisualStyle SyncStatusPill::visualStyle() const
{
    return SyncStatusVisualStyle::forState(m_syncService->state(), palette());
}

void SyncStatusPill::changeEvent(QEvent *event)
{
    GlassFrame::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        refresh();
}

void SyncStatusPill::paintEvent(QPaintEvent *event)
{
    GlassFrame::paintEvent(event);
    if (hasFocus()) {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        paintFocusRing(painter, QRectF(rect()), cornerRadius(), palette());
    }
}

void SyncStatusPill::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
    else
        GlassFrame::mouseReleaseEvent(event);
}

void SyncStatusPill::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        emit clicked();
        return;
    default:
        GlassFrame::keyPressEvent(event);
    }
}

void SyncStatusPill::refresh()
{
    const SyncStatusVisualStyle style = visualStyle();
    setTint(style.color);
    m_icon->setStyle(style.symbolName, style.color);
    m_word->setText(style.word);
    QPalette wordPalette = m_word->palette();
    wordPalette.setColor(QPalette::WindowText,
                         SystemColors::withOpacity(SystemColors::primaryLabel(palette()), 0.72));
    m_word->setPalette(wordPalette);
    QString text = style.text;
    // Whatever the state, the person can tell how fresh the board is against the other machines.
    if (const QDateTime last = m_syncService->lastInSync(); last.isValid()) {
        text += QStringLiteral("\n上次与云端一致：") +
                last.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    }
    // The text may carry a server's own words.
    setToolTip(plainToolTip(text));
    setAccessibleName(QStringLiteral("云同步：") + style.word);
    setAccessibleDescription(text);
}
