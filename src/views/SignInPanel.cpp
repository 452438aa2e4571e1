#include "SignInPanel.h"

#include "services/SignInService.h"
#include "support/GlassFrame.h"
#include "support/LumaretStyle.h"
#include "support/PlainToolTip.h"
#include "support/SignInMessages.h"
#include "support/SymbolIcon.h"
#include "support/SystemColors.h"
#include "support/TextStyles.h"

#include <QEvent>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QToolButton>

#include <algorithm>

namespace {

constexpr int rowHeight = 34;
constexpr int symbolSize = 16;
constexpr int iconGap = 6;
constexpr int buttonPadding = 14;
constexpr int minimumPanelWidth = 148;
// A long provider name is shortened rather than pushing the search field aside.
constexpr int maximumPanelWidth = 220;

QFont buttonFont()
{
    return systemFont(13, QFont::Medium);
}

} // namespace

SignInButton::SignInButton(QWidget *parent) : QAbstractButton(parent)
{
    setFixedSize(minimumPanelWidth, rowHeight);
    setFocusPolicy(Qt::TabFocus);
    setAttribute(Qt::WA_Hover);
}

QString SignInButton::titleFor(const SignInService &service, int width)
{
    if (!service.hasProvider())
        return QStringLiteral("设置登录…");
    const QString provider = service.providerName();
    if (provider.isEmpty())
        return QStringLiteral("登录");
    const QString frame = QStringLiteral("通过 %1 登录");
    const QFontMetrics metrics(buttonFont());
    int room = width - 2 * buttonPadding - symbolSize - iconGap;
    if (metrics.horizontalAdvance(frame.arg(provider)) <= room)
        return frame.arg(provider);
    room -= metrics.horizontalAdvance(frame.arg(QString()));
    return frame.arg(metrics.elidedText(provider, Qt::ElideMiddle, room));
}

int SignInButton::widthFor(const QString &title)
{
    const int content = symbolSize + iconGap + QFontMetrics(buttonFont()).horizontalAdvance(title);
    return std::clamp(content + 2 * buttonPadding, minimumPanelWidth, maximumPanelWidth);
}

QColor SignInButton::fillColor() const
{
    return isDarkAppearance(palette()) ? QColor(Qt::white) : QColor(Qt::black);
}

QColor SignInButton::labelColor() const
{
    return isDarkAppearance(palette()) ? QColor(Qt::black) : QColor(Qt::white);
}

void SignInButton::paintEvent(QPaintEvent *event)
{
    Q_UNUSED(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), 10, 10);
    QColor fill = fillColor();
    if (isDown())
        fill = isDarkAppearance(palette()) ? fill.darker(112) : fill.lighter(160);
    painter.fillPath(shape, fill);
    // Under the pointer the button keeps its colour and gains a soft inner edge.
    if (underMouse() && !isDown()) {
        painter.setPen(QPen(isDarkAppearance(palette()) ? QColor::fromRgbF(0, 0, 0, 0.28f)
                                                        : QColor::fromRgbF(1, 1, 1, 0.42f),
                            1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 9, 9);
    }
    if (hasFocus())
        paintFocusRing(painter, QRectF(rect()), 10, palette());

    const QFont font = buttonFont();
    const int textWidth = QFontMetrics(font).horizontalAdvance(text());
    const int contentWidth = symbolSize + iconGap + textWidth;
    const qreal left = (width() - contentWidth) / 2.0;
    painter.drawPixmap(QPointF(left, (height() - symbolSize) / 2.0),
                       symbolPixmap(QStringLiteral("person.crop.circle.fill"), labelColor(),
                                    symbolSize, devicePixelRatioF()));
    painter.setFont(font);
    painter.setPen(labelColor());
    painter.drawText(QRectF(left + symbolSize + iconGap, 0, textWidth + 1, height()),
                     Qt::AlignVCenter | Qt::AlignLeft, text());
}

ElidedLabel::ElidedLabel(QWidget *parent) : QLabel(parent)
{
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setWordWrap(false);
    // The name is the provider's, and may hold anything.
    setTextFormat(Qt::PlainText);
}

void ElidedLabel::setFullText(const QString &text)
{
    m_fullText = text;
    setToolTip(QString());
    updateGeometry();
    updateElidedText();
}

QSize ElidedLabel::sizeHint() const
{
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(m_fullText) + 2, metrics.height()};
}

QSize ElidedLabel::minimumSizeHint() const
{
    const QFontMetrics metrics(font());
    return {qMin(sizeHint().width(), metrics.horizontalAdvance(QStringLiteral("…")) * 4),
            metrics.height()};
}

void ElidedLabel::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    updateElidedText();
}

void ElidedLabel::updateElidedText()
{
    setText(QFontMetrics(font()).elidedText(m_fullText, Qt::ElideRight, width()));
}

SignInPanel::SignInPanel(SignInService *authService, QWidget *parent)
    : QWidget(parent), m_authService(authService)
{
    // One page per layout side by side, only the current one shown: hidden pages take no room.
    auto *pages = new QHBoxLayout(this);
    pages->setContentsMargins(0, 0, 0, 0);
    pages->setSpacing(0);

    m_signedIn = new GlassFrame(12, std::nullopt, GlassInteraction::interactive, this);
    m_signedIn->setFixedHeight(rowHeight);
    auto *signedInLayout = new QHBoxLayout(m_signedIn);
    signedInLayout->setContentsMargins(12, 0, 12, 0);
    signedInLayout->setSpacing(8);
    m_personIcon = new QLabel(m_signedIn);
    m_personIcon->setFixedSize(symbolSize, symbolSize);
    signedInLayout->addWidget(m_personIcon);
    m_displayName = new ElidedLabel(m_signedIn);
    m_displayName->setFont(textStyleFont(TextStyle::callout, QFont::Medium));
    signedInLayout->addWidget(m_displayName, 1);
    m_signOutButton = new QToolButton(m_signedIn);
    m_signOutButton->setAutoRaise(true);
    m_signOutButton->setToolTip(QStringLiteral("退出登录"));
    m_signOutButton->setAccessibleName(QStringLiteral("退出登录"));
    setAccessibleName(QStringLiteral("登录"));
    m_signOutButton->setIconSize({symbolSize, symbolSize});
    m_signOutButton->setFixedSize(symbolSize + 4, symbolSize + 4);
    m_signOutButton->setStyleSheet(plainToolButtonStyle());
    signedInLayout->addWidget(m_signOutButton);
    pages->addWidget(m_signedIn);

    m_retryButton = new QPushButton(QStringLiteral("重新登录"), this);
    m_retryButton->setFont(textStyleFont(TextStyle::body));
    m_retryButton->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    pages->addWidget(m_retryButton, 0, Qt::AlignVCenter);

    m_checking = new GlassFrame(12, std::nullopt, GlassInteraction::passive, this);
    m_checking->setFixedHeight(rowHeight);
    m_checking->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    auto *checkingLayout = new QHBoxLayout(m_checking);
    checkingLayout->setContentsMargins(12, 0, 12, 0);
    checkingLayout->setSpacing(6);
    m_checkingIcon = new QLabel(m_checking);
    m_checkingIcon->setFixedSize(symbolSize, symbolSize);
    checkingLayout->addWidget(m_checkingIcon);
    m_checkingText = new QLabel(QStringLiteral("检查登录"), m_checking);
    m_checkingText->setFont(textStyleFont(TextStyle::callout, QFont::Medium));
    checkingLayout->addWidget(m_checkingText);
    pages->addWidget(m_checking);

    m_signInButton = new SignInButton(this);
    pages->addWidget(m_signInButton);

    connect(m_signOutButton, &QToolButton::clicked, m_authService, &SignInService::signOut);
    connect(m_retryButton, &QPushButton::clicked, m_authService, &SignInService::signOut);
    connect(m_signInButton, &SignInButton::clicked, this, [this] {
        // Without a provider a sign-in could only fail: the button leads to choosing one.
        if (m_authService->hasProvider())
            m_authService->signIn();
        else
            emit configureRequested();
    });
    connect(m_authService, &SignInService::stateChanged, this, &SignInPanel::refresh);
    updateColors();
    refresh();
}

SignInPanel::Layout SignInPanel::currentLayout() const
{
    return m_layout;
}

void SignInPanel::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        updateColors();
}

void SignInPanel::refresh()
{
    using Kind = SignInService::SignInState::Kind;
    const SignInService::SignInState state = m_authService->state();
    switch (state.kind) {
    case Kind::signedIn: {
        m_displayName->setFullText(state.displayName);
        // A sign-in that will not outlive this launch says so where the name is, not in a
        // dialog: the person may hover, and is not interrupted.
        const QString notice = SignInMessages::notice(state.notice);
        m_signedIn->setToolTip(plainToolTip(notice));
        setAccessibleDescription(QStringLiteral("已登录：") + state.displayName +
                                 (notice.isEmpty() ? QString() : u'。' + notice));
        m_layout = Layout::signedIn;
        break;
    }
    case Kind::failed: {
        // The button names the way back; its tooltip says what went wrong.
        const QString problem = SignInMessages::failure(state.error);
        m_retryButton->setToolTip(plainToolTip(problem));
        setAccessibleDescription(QStringLiteral("登录失败：") + problem);
        m_layout = Layout::failed;
        break;
    }
    case Kind::checking:
        setAccessibleDescription(QStringLiteral("正在检查登录"));
        m_layout = Layout::checking;
        break;
    case Kind::signedOut:
        setAccessibleDescription(QStringLiteral("未登录"));
        m_layout = Layout::signedOut;
        break;
    }
    m_signedIn->setVisible(m_layout == Layout::signedIn);
    m_retryButton->setVisible(m_layout == Layout::failed);
    m_checking->setVisible(m_layout == Layout::checking);
    m_signInButton->setVisible(m_layout == Layout::signedOut);
    // One width for every state, so that the search field, the archive button and the pill stay
    // where they are whatever the panel shows; a signed-in name is shortened to fit it.
    const int width =
        std::max({SignInButton::widthFor(SignInButton::titleFor(*m_authService, maximumPanelWidth)),
                  m_retryButton->sizeHint().width(), m_checking->sizeHint().width()});
    m_signInButton->setText(SignInButton::titleFor(*m_authService, width));
    m_signInButton->setFixedWidth(width);
    m_signInButton->setAccessibleName(m_signInButton->text());
    setFixedWidth(width);
}

void SignInPanel::updateColors()
{
    const QColor primary = SystemColors::primaryLabel(palette());
    const QColor secondary = SystemColors::secondaryLabel(palette());
    const qreal ratio = devicePixelRatioF();
    m_personIcon->setPixmap(
        symbolPixmap(QStringLiteral("person.crop.circle.fill"), primary, symbolSize, ratio));
    m_signOutButton->setIcon(
        symbolIcon(QStringLiteral("rectangle.portrait.and.arrow.right"), secondary, symbolSize));
    m_retryButton->setIcon(
        symbolIcon(QStringLiteral("exclamationmark.triangle"), primary, symbolSize));
    m_checkingIcon->setPixmap(
        symbolPixmap(QStringLiteral("person.crop.circle"), secondary, symbolSize, ratio));
    QPalette checkingPalette = m_checkingText->palette();
    checkingPalette.setColor(QPalette::WindowText, secondary);
    m_checkingText->setPalette(checkingPalette);
    m_signInButton->update();
}
