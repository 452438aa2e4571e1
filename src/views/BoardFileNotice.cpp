#include "BoardFileNotice.h"

#include "stores/BoardStore.h"
#include "support/BoardFileMessages.h"
#include "support/SystemColors.h"
#include "support/TextStyles.h"

#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>

BoardFileNotice::BoardFileNotice(BoardStore *store, QWidget *parent)
    : QWidget(parent), m_store(store)
{
    setAccessibleName(QStringLiteral("看板文件提示"));
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(14, 8, 8, 8);
    row->setSpacing(8);
    m_text = new QLabel(this);
    // The path and the reason come from the file system: shown as they are, never as markup.
    m_text->setTextFormat(Qt::PlainText);
    m_text->setWordWrap(true);
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_text->setFont(textStyleFont(TextStyle::callout));
    row->addWidget(m_text, 1);
    m_retry = new QPushButton(QStringLiteral("重试"), this);
    m_saveCopy = new QPushButton(QStringLiteral("另存副本…"), this);
    m_dismiss = new QPushButton(QStringLiteral("知道了"), this);
    for (QPushButton *button : {m_retry, m_saveCopy, m_dismiss}) {
        button->setAutoDefault(false);
        button->setFont(textStyleFont(TextStyle::callout));
        row->addWidget(button);
    }
    connect(m_retry, &QPushButton::clicked, m_store, &BoardStore::retrySave);
    connect(m_saveCopy, &QPushButton::clicked, this, [this] { saveCopy(m_store, window()); });
    connect(m_dismiss, &QPushButton::clicked, this, [this] {
        m_message.clear();
        refresh();
    });
    connect(m_store, &BoardStore::fileStateChanged, this, [this] {
        if (m_store->loadProblem() && !m_store->movedAsidePath().isEmpty())
            m_message =
                BoardFileMessages::loadNotice(*m_store->loadProblem(), m_store->movedAsidePath());
        refresh();
    });
    if (const std::optional<BoardFileProblem> &problem = m_store->loadProblem())
        m_message = BoardFileMessages::loadNotice(*problem, m_store->movedAsidePath());
    refresh();
}

void BoardFileNotice::showMessage(const QString &text)
{
    m_message = text;
    refresh();
}

void BoardFileNotice::refresh()
{
    const std::optional<BoardFileProblem> &unsaved = m_store->saveProblem();
    m_text->setText(unsaved ? BoardFileMessages::saveNotice(*unsaved) : m_message);
    m_retry->setVisible(unsaved.has_value());
    m_saveCopy->setVisible(unsaved.has_value());
    m_dismiss->setVisible(!unsaved);
    setAccessibleDescription(m_text->text());
    setVisible(unsaved || !m_message.isEmpty());
    update();
}

bool BoardFileNotice::saveCopy(BoardStore *store, QWidget *parent)
{
    const QString path =
        QFileDialog::getSaveFileName(parent, QStringLiteral("另存看板副本"),
                                     QDir::homePath() + QStringLiteral("/Lumaret 看板副本.json"),
                                     QStringLiteral("看板文件 (*.json)"));
    if (path.isEmpty())
        return false;
    if (const std::optional<BoardFileProblem> problem = store->saveCopy(path)) {
        QMessageBox::warning(
            parent, QStringLiteral("另存副本"),
            QStringLiteral("无法写入 %1：%2。")
                .arg(QDir::toNativeSeparators(path), BoardFileMessages::reason(*problem)));
        return false;
    }
    return true;
}

void BoardFileNotice::paintEvent(QPaintEvent *event)
{
    Q_UNUSED(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // Red while words are only in memory, the calmer yellow for what has already been dealt with.
    const QColor tint = m_store->hasUnsavedChanges() ? SystemColors::red(palette())
                                                     : SystemColors::yellow(palette());
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 12, 12);
    painter.fillPath(shape,
                     SystemColors::withOpacity(SystemColors::windowBackground(palette()), 0.9));
    painter.fillPath(shape, SystemColors::withOpacity(tint, 0.16));
    painter.setPen(QPen(SystemColors::withOpacity(tint, 0.7), 1));
    painter.drawPath(shape);
}
