#include "SearchField.h"

#include "support/LumaretStyle.h"
#include "support/SymbolIcon.h"
#include "support/SystemColors.h"
#include "support/TextStyles.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

namespace {
constexpr int symbolSize = 14;
}

SearchField::SearchField(std::optional<int> width, QWidget *parent)
    : GlassFrame(12, std::nullopt, GlassInteraction::interactive, parent)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 0, 12, 0);
    layout->setSpacing(8);

    m_icon = new QLabel(this);
    m_icon->setFixedSize(symbolSize, symbolSize);
    layout->addWidget(m_icon);

    m_lineEdit = new QLineEdit(this);
    m_lineEdit->setFrame(false);
    m_lineEdit->setPlaceholderText(QStringLiteral("搜索"));
    m_lineEdit->setAccessibleName(QStringLiteral("搜索"));
    m_lineEdit->setAccessibleDescription(QStringLiteral("按标题、备注或状态筛选看板"));
    m_lineEdit->setFont(textStyleFont(TextStyle::callout));
    m_lineEdit->setAttribute(Qt::WA_MacShowFocusRect, false);
    m_lineEdit->setStyleSheet(
        QStringLiteral("QLineEdit { background: transparent; border: none; padding: 0; }"));
    layout->addWidget(m_lineEdit, 1);

    m_clearButton = new QToolButton(this);
    m_clearButton->setAutoRaise(true);
    m_clearButton->setToolTip(QStringLiteral("清空搜索"));
    m_clearButton->setAccessibleName(QStringLiteral("清空搜索"));
    m_clearButton->setCursor(Qt::ArrowCursor);
    m_clearButton->setFocusPolicy(Qt::NoFocus);
    m_clearButton->setIconSize({symbolSize, symbolSize});
    m_clearButton->setFixedSize(symbolSize + 4, symbolSize + 4);
    m_clearButton->setStyleSheet(plainToolButtonStyle());
    layout->addWidget(m_clearButton);

    setFixedHeight(34);
    if (width)
        setFixedWidth(*width);
    else
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

    connect(m_lineEdit, &QLineEdit::textEdited, this, [this](const QString &text) {
        updateClearButton();
        emit textEdited(text);
    });
    connect(m_clearButton, &QToolButton::clicked, this, [this] {
        m_lineEdit->clear();
        updateClearButton();
        emit textEdited(QString());
    });
    updateColors();
    updateClearButton();
}

QString SearchField::text() const
{
    return m_lineEdit->text();
}

void SearchField::setText(const QString &text)
{
    if (m_lineEdit->text() != text)
        m_lineEdit->setText(text);
    updateClearButton();
}

void SearchField::changeEvent(QEvent *event)
{
    GlassFrame::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        updateColors();
}

void SearchField::updateClearButton()
{
    // Any text, a single space included, can be cleared.
    m_clearButton->setVisible(!m_lineEdit->text().isEmpty());
}

void SearchField::updateColors()
{
    const QColor secondary = SystemColors::secondaryLabel(palette());
    // The style's faint placeholder does not reach 4.5:1 on the glass.
    QPalette field = m_lineEdit->palette();
    field.setColor(QPalette::PlaceholderText, secondary);
    m_lineEdit->setPalette(field);
    m_icon->setPixmap(symbolPixmap(QStringLiteral("magnifyingglass"), secondary, symbolSize,
                                   devicePixelRatioF()));
    m_clearButton->setIcon(symbolIcon(QStringLiteral("xmark.circle.fill"), secondary, symbolSize));
}
