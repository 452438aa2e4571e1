#include "QuickComposer.h"

#include "support/SymbolIcon.h"
#include "support/SystemColors.h"
#include "support/TextStyles.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>

ComposerAddButton::ComposerAddButton(QWidget *parent) : QAbstractButton(parent)
{
    setFixedSize(34, 34);
    setToolTip(QStringLiteral("添加"));
    // Return in the field does what the button does; Tab goes on from the field to the board.
    setFocusPolicy(Qt::NoFocus);
}

QColor ComposerAddButton::circleColor() const
{
    return isEnabled() ? SystemColors::accent(palette())
                       : SystemColors::withOpacity(SystemColors::secondaryLabel(palette()), 0.35);
}

void ComposerAddButton::paintEvent(QPaintEvent *event)
{
    Q_UNUSED(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    QColor circle = circleColor();
    if (isDown())
        circle = circle.darker(115);
    painter.setBrush(circle);
    painter.drawEllipse(QRectF(rect()));
    // A bold plus at size 15: the outline icon drawn a little larger reads as the heavier weight.
    const int symbolSize = 17;
    painter.drawPixmap(
        QPointF((width() - symbolSize) / 2.0, (height() - symbolSize) / 2.0),
        symbolPixmap(QStringLiteral("plus"),
                     isEnabled() ? QColor(Qt::white) : SystemColors::tertiaryLabel(palette()),
                     symbolSize, devicePixelRatioF()));
}

QuickComposer::QuickComposer(QWidget *parent)
    : GlassFrame(22, QColor(Qt::white), GlassInteraction::interactive, parent)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(16, 12, 16, 12);
    layout->setSpacing(12);

    m_bulb = new QLabel(this);
    m_bulb->setFixedWidth(26);
    m_bulb->setAlignment(Qt::AlignCenter);
    layout->addWidget(m_bulb);

    m_lineEdit = new QLineEdit(this);
    m_lineEdit->setFrame(false);
    m_lineEdit->setPlaceholderText(QStringLiteral("记录瞬间想法"));
    m_lineEdit->setAccessibleName(QStringLiteral("记录瞬间想法"));
    m_lineEdit->setAccessibleDescription(QStringLiteral("输入想法后按回车添加到未开始"));
    m_lineEdit->setFont(systemFont(17, QFont::Medium));
    m_lineEdit->setStyleSheet(
        QStringLiteral("QLineEdit { background: transparent; border: none; padding: 0; }"));
    layout->addWidget(m_lineEdit, 1);

    m_addButton = new ComposerAddButton(this);
    m_addButton->setAccessibleName(QStringLiteral("添加"));
    setAccessibleName(QStringLiteral("快速记录"));
    layout->addWidget(m_addButton);

    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(m_lineEdit, &QLineEdit::textChanged, this, &QuickComposer::updateAddButton);
    connect(m_lineEdit, &QLineEdit::returnPressed, this, &QuickComposer::submitted);
    connect(m_addButton, &QAbstractButton::clicked, this, [this] {
        if (!isBlank(text()))
            emit submitted();
    });
    updateColors();
    updateAddButton();
}

QString QuickComposer::text() const
{
    return m_lineEdit->text();
}

void QuickComposer::setText(const QString &text)
{
    if (m_lineEdit->text() != text)
        m_lineEdit->setText(text);
}

void QuickComposer::setFocused()
{
    m_lineEdit->setFocus(Qt::OtherFocusReason);
}

bool QuickComposer::isFocused() const
{
    return m_lineEdit->hasFocus();
}

bool QuickComposer::isBlank(const QString &text)
{
    // QString::trimmed removes Unicode whitespace, line and paragraph separators included.
    return text.trimmed().isEmpty();
}

void QuickComposer::changeEvent(QEvent *event)
{
    GlassFrame::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        updateColors();
}

void QuickComposer::updateAddButton()
{
    m_addButton->setEnabled(!isBlank(text()));
    m_addButton->update();
}

void QuickComposer::updateColors()
{
    // The style's faint placeholder does not reach 4.5:1 on the glass.
    QPalette field = m_lineEdit->palette();
    field.setColor(QPalette::PlaceholderText, SystemColors::secondaryLabel(palette()));
    m_lineEdit->setPalette(field);
    m_bulb->setPixmap(symbolPixmap(QStringLiteral("lightbulb.max"), SystemColors::yellow(palette()),
                                   20, devicePixelRatioF()));
}
