#include "ThoughtEditorView.h"

#include "stores/BoardStore.h"
#include "support/LumaretStyle.h"
#include "support/MaterialFrame.h"
#include "support/PanelShadow.h"
#include "support/SegmentedControl.h"
#include "support/SymbolIcon.h"
#include "support/SystemColors.h"
#include "support/TextStyles.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMetaMethod>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace {

// Compared after canonical composition, as the thought itself compares its texts.
bool sameText(const QString &lhs, const QString &rhs)
{
    return lhs == rhs || lhs.normalized(QString::NormalizationForm_C) ==
                             rhs.normalized(QString::NormalizationForm_C);
}

} // namespace

ThoughtEditorView::ThoughtEditorView(BoardStore *store, const Thought &thought, QWidget *parent)
    : QWidget(parent), m_store(store), m_thought(thought), m_status(thought.status)
{
    setFixedWidth(panelWidth);
    setAttribute(Qt::WA_StyledBackground, false);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(18);

    auto *header = new QHBoxLayout;
    auto *heading = new QLabel(QStringLiteral("编辑想法"), this);
    heading->setFont(textStyleFont(TextStyle::title3, QFont::DemiBold));
    header->addWidget(heading);
    header->addStretch(1);
    m_closeButton = new QToolButton(this);
    m_closeButton->setAutoRaise(true);
    m_closeButton->setFixedSize(28, 28);
    m_closeButton->setIconSize({14, 14});
    m_closeButton->setToolTip(QStringLiteral("关闭"));
    m_closeButton->setStyleSheet(plainToolButtonStyle());
    header->addWidget(m_closeButton);
    layout->addLayout(header);

    auto *titleFrame = new MaterialFrame(14, this);
    auto *titleLayout = new QHBoxLayout(titleFrame);
    titleLayout->setContentsMargins(12, 12, 12, 12);
    m_titleField = new QLineEdit(thought.title, titleFrame);
    m_titleField->setPlaceholderText(QStringLiteral("标题"));
    m_titleField->setFrame(false);
    m_titleField->setFont(textStyleFont(TextStyle::title3, QFont::Medium));
    m_titleField->setStyleSheet(
        QStringLiteral("QLineEdit { background: transparent; border: none; padding: 0; }"));
    titleLayout->addWidget(m_titleField);
    layout->addWidget(titleFrame);

    auto *statusRow = new QHBoxLayout;
    statusRow->setSpacing(8);
    auto *statusLabel = new QLabel(QStringLiteral("状态"), this);
    statusLabel->setFont(textStyleFont(TextStyle::body));
    statusRow->addWidget(statusLabel);
    QList<SegmentedControl::Segment> segments;
    for (ThoughtStatus status : ThoughtStatuses::allCases)
        segments.append({ThoughtStatuses::title(status), ThoughtStatuses::systemImage(status)});
    m_statusPicker = new SegmentedControl(segments, this);
    m_statusPicker->setCurrentIndex(int(thought.status));
    m_statusPicker->setAccessibleName(QStringLiteral("状态"));
    statusRow->addWidget(m_statusPicker, 1);
    layout->addLayout(statusRow);

    auto *noteLabel = new QLabel(QStringLiteral("备注"), this);
    noteLabel->setFont(textStyleFont(TextStyle::body));
    layout->addWidget(noteLabel);
    auto *noteFrame = new MaterialFrame(14, this);
    noteFrame->setFixedHeight(150);
    auto *noteLayout = new QHBoxLayout(noteFrame);
    noteLayout->setContentsMargins(10, 10, 10, 10);
    m_noteEditor = new QPlainTextEdit(noteFrame);
    m_noteEditor->setPlainText(thought.note);
    m_noteEditor->setPlaceholderText(QStringLiteral("补充细节、链接或下一步（可选）"));
    m_noteEditor->setAccessibleName(QStringLiteral("备注"));
    noteLabel->setBuddy(m_noteEditor);
    m_noteEditor->setFont(textStyleFont(TextStyle::body));
    m_noteEditor->setFrameShape(QFrame::NoFrame);
    m_noteEditor->viewport()->setAutoFillBackground(false);
    m_noteEditor->setStyleSheet(
        QStringLiteral("QPlainTextEdit { background: transparent; border: none; }"));
    m_noteEditor->document()->setDocumentMargin(0);
    // Tab moves on to the next control, as in every other field of the panel.
    m_noteEditor->setTabChangesFocus(true);
    m_noteEditor->installEventFilter(this);
    noteLayout->addWidget(m_noteEditor);
    layout->addWidget(noteFrame);

    m_conflictBar = new QWidget(this);
    auto *conflictRow = new QHBoxLayout(m_conflictBar);
    conflictRow->setContentsMargins(0, 0, 0, 0);
    auto *conflictText = new QLabel(QStringLiteral("这条想法已在别处修改。"), m_conflictBar);
    conflictText->setFont(textStyleFont(TextStyle::callout));
    conflictRow->addWidget(conflictText, 1);
    m_takeNewerButton = new QPushButton(QStringLiteral("采用新版本"), m_conflictBar);
    m_keepMineButton = new QPushButton(QStringLiteral("保留我的修改"), m_conflictBar);
    for (QPushButton *button : {m_takeNewerButton, m_keepMineButton}) {
        button->setAutoDefault(false);
        button->setFont(textStyleFont(TextStyle::callout));
        conflictRow->addWidget(button);
    }
    m_conflictBar->hide();
    layout->addWidget(m_conflictBar);

    auto *footer = new QHBoxLayout;
    m_deleteButton = new QPushButton(QStringLiteral("删除"), this);
    m_deleteButton->setAutoDefault(false);
    footer->addWidget(m_deleteButton);
    footer->addStretch(1);
    m_guardLabel = new QLabel(this);
    m_guardLabel->setFont(textStyleFont(TextStyle::callout));
    footer->addWidget(m_guardLabel);
    m_cancelButton = new QPushButton(QStringLiteral("取消"), this);
    m_cancelButton->setAutoDefault(false);
    footer->addWidget(m_cancelButton);
    m_saveButton = new QPushButton(QStringLiteral("保存"), this);
    m_saveButton->setDefault(true);
    footer->addWidget(m_saveButton);
    layout->addLayout(footer);

    for (QPushButton *button : {m_deleteButton, m_cancelButton, m_saveButton})
        button->setFont(textStyleFont(TextStyle::body));

    connect(m_titleField, &QLineEdit::textChanged, this, &ThoughtEditorView::editsChanged);
    connect(m_noteEditor, &QPlainTextEdit::textChanged, this, &ThoughtEditorView::editsChanged);
    connect(m_statusPicker, &SegmentedControl::activated, this, [this](int index) {
        m_status = ThoughtStatuses::allCases[size_t(index)];
        editsChanged();
    });
    connect(m_closeButton, &QToolButton::clicked, this, &ThoughtEditorView::cancel);
    connect(m_cancelButton, &QPushButton::clicked, this, &ThoughtEditorView::cancel);
    connect(m_saveButton, &QPushButton::clicked, this, &ThoughtEditorView::save);
    connect(m_deleteButton, &QPushButton::clicked, this, &ThoughtEditorView::deleteThought);
    connect(m_takeNewerButton, &QPushButton::clicked, this, [this] {
        if (m_newer)
            showThought(*std::exchange(m_newer, std::nullopt));
        m_conflictBar->hide();
    });
    connect(m_keepMineButton, &QPushButton::clicked, this, [this] {
        m_newer.reset();
        m_conflictBar->hide();
        m_titleField->setFocus();
    });

    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WidgetWithChildrenShortcut);
    connect(escape, &QShortcut::activated, this, &ThoughtEditorView::cancel);
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto *defaultAction = new QShortcut(QKeySequence(key), this);
        defaultAction->setContext(Qt::WidgetWithChildrenShortcut);
        connect(defaultAction, &QShortcut::activated, this, [this] {
            if (canSave())
                save();
        });
    }

    updateColors();
    editsChanged();
}

QString ThoughtEditorView::title() const
{
    return m_titleField->text();
}

QString ThoughtEditorView::note() const
{
    return m_noteEditor->toPlainText();
}

bool ThoughtEditorView::hasChanges() const
{
    return !sameText(title(), m_thought.title) || !sameText(note(), m_thought.note) ||
           m_status != m_thought.status;
}

bool ThoughtEditorView::canSave() const
{
    return !title().trimmed().isEmpty();
}

void ThoughtEditorView::save()
{
    if (!canSave())
        return;
    const Board &board = m_store->thoughts();
    const auto current = std::find_if(board.cbegin(), board.cend(),
                                      [this](const Thought &t) { return t.id == m_thought.id; });
    if (current == board.cend()) {
        close();
        return;
    }
    // Only what was edited here: a field changed elsewhere meanwhile keeps its newer value.
    m_committing = true;
    m_store->update(*current, sameText(title(), m_thought.title) ? current->title : title(),
                    sameText(note(), m_thought.note) ? current->note : note(),
                    m_status != m_thought.status ? m_status : current->status);
    close();
}

void ThoughtEditorView::thoughtChangedElsewhere(const Thought &current)
{
    const bool sameAsShown =
        current.title == title() && current.note == note() && current.status == m_status;
    if (sameAsShown || (current.title == m_thought.title && current.note == m_thought.note &&
                        current.status == m_thought.status)) {
        m_thought = current;
        editsChanged();
        return;
    }
    if (!hasChanges()) {
        showThought(current);
        return;
    }
    m_newer = current;
    m_conflictBar->show();
}

void ThoughtEditorView::showThought(const Thought &thought)
{
    m_thought = thought;
    m_status = thought.status;
    m_titleField->setText(thought.title);
    if (m_noteEditor->toPlainText() != thought.note)
        m_noteEditor->setPlainText(thought.note);
    m_statusPicker->setCurrentIndex(int(thought.status));
    editsChanged();
}

void ThoughtEditorView::explainUnsavedChanges()
{
    m_guardLabel->setText(QStringLiteral("有未保存的修改"));
    QTimer::singleShot(std::chrono::seconds(4), m_guardLabel,
                       [label = m_guardLabel] { label->clear(); });
}

void ThoughtEditorView::deleteThought()
{
    m_committing = true;
    m_store->deleteThought(m_thought);
    close();
}

void ThoughtEditorView::cancel()
{
    if (hasChanges()) {
        explainUnsavedChanges();
        return;
    }
    close();
}

void ThoughtEditorView::close()
{
    if (isSignalConnected(QMetaMethod::fromSignal(&ThoughtEditorView::closeRequested)))
        emit closeRequested();
    else
        hide();
}

void ThoughtEditorView::editsChanged()
{
    const bool changes = hasChanges();
    m_closeButton->setEnabled(!changes);
    m_cancelButton->setEnabled(!changes);
    const QString why = changes ? QStringLiteral("有未保存的修改：先保存，或撤回修改") : QString();
    m_closeButton->setToolTip(changes ? why : QStringLiteral("关闭"));
    m_cancelButton->setToolTip(why);
    if (!changes) {
        m_guardLabel->clear();
        m_conflictBar->hide();
        // Edits undone by hand while a newer version waited: nothing of the person's is left to
        // keep, so the newer version shows.
        if (m_newer)
            showThought(*std::exchange(m_newer, std::nullopt));
    }
    m_saveButton->setEnabled(canSave());
    // Before the first report the host hears nothing; showEvent sends the first one.
    if (m_reportedChanges && *m_reportedChanges != changes) {
        m_reportedChanges = changes;
        emit dirtyChanged(changes);
    }
}

void ThoughtEditorView::paintEvent(QPaintEvent *event)
{
    Q_UNUSED(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), cornerRadius, cornerRadius);
    painter.fillPath(shape, SystemColors::regularMaterial(palette()));
    painter.fillPath(shape,
                     SystemColors::withOpacity(SystemColors::windowBackground(palette()), 0.58));
}

void ThoughtEditorView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!m_reportedChanges) {
        m_reportedChanges = hasChanges();
        emit dirtyChanged(*m_reportedChanges);
    }
}

void ThoughtEditorView::mousePressEvent(QMouseEvent *event)
{
    // A click on the panel itself must not reach the backdrop behind it.
    event->accept();
}

void ThoughtEditorView::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
}

void ThoughtEditorView::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        updateColors();
}

bool ThoughtEditorView::eventFilter(QObject *watched, QEvent *event)
{
    // Return in the note starts a new line rather than saving.
    if (watched == m_noteEditor && event->type() == QEvent::ShortcutOverride) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            event->accept();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void ThoughtEditorView::updateColors()
{
    const QPalette &colors = palette();
    m_closeButton->setIcon(
        symbolIcon(QStringLiteral("xmark"), SystemColors::secondaryLabel(colors), 14));
    const QColor red = SystemColors::red(colors);
    QPalette warning = m_guardLabel->palette();
    warning.setColor(QPalette::WindowText, red);
    m_guardLabel->setPalette(warning);
    m_deleteButton->setIcon(symbolIcon(QStringLiteral("trash"), red, 14));
    QPalette destructive = m_deleteButton->palette();
    destructive.setColor(QPalette::ButtonText, red);
    m_deleteButton->setPalette(destructive);
}

void ThoughtEditorView::paintShadow(QPainter &painter, const QRectF &panelRect, qreal opacity)
{
    PanelShadow::paint(painter, panelRect, cornerRadius, opacity);
}
