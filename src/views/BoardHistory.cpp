#include "BoardHistory.h"

#include <QAction>
#include <QApplication>
#include <QHash>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSet>
#include <QTextEdit>
#include <QUndoStack>

#include <algorithm>
#include <type_traits>
#include <utility>

namespace {

enum class Direction { back, forward };

bool hasOwnStep(const QLineEdit *field, Direction direction)
{
    return direction == Direction::back ? field->isUndoAvailable() : field->isRedoAvailable();
}

/// A menu action whose keys give way to the text field with the focus, which keeps its own undo
/// and redo; a click in the menu always acts on the board. Most fields claim Ctrl+Z themselves,
/// but not every key the board uses (Ctrl+Y), so the action hands those on, except to a field
/// that shares the keys with the board and has nothing to take back.
class BoardAction : public QAction
{
public:
    BoardAction(Direction direction, const QSet<const QObject *> &sharing, QObject *parent)
        : QAction(parent), m_direction(direction), m_sharing(sharing)
    {}

protected:
    bool event(QEvent *event) override
    {
        if (event->type() == QEvent::Shortcut && takeTextBack(QApplication::focusWidget()))
            return true;
        return QAction::event(event);
    }

private:
    template <typename Field> bool takeBack(QWidget *widget) const
    {
        auto *field = qobject_cast<Field *>(widget);
        if (!field || field->isReadOnly())
            return false;
        if constexpr (std::is_same_v<Field, QLineEdit>) {
            if (m_sharing.contains(field) && !hasOwnStep(field, m_direction))
                return false;
        }
        m_direction == Direction::back ? field->undo() : field->redo();
        return true;
    }
    bool takeTextBack(QWidget *widget) const
    {
        return takeBack<QLineEdit>(widget) || takeBack<QPlainTextEdit>(widget) ||
               takeBack<QTextEdit>(widget);
    }

    Direction m_direction;
    const QSet<const QObject *> &m_sharing;
};

} // namespace

class BoardHistory::Command : public QUndoCommand
{
public:
    Command(BoardHistory *history, Step step)
        : QUndoCommand(label(step.change)), m_history(history), m_step(std::move(step))
    {}

    const Step &step() const { return m_step; }

    void undo() override
    {
        if (!m_history->m_replaying)
            m_history->apply(m_step, m_step.before);
    }
    void redo() override
    {
        if (!m_history->m_replaying)
            m_history->apply(m_step, m_step.after);
    }

private:
    BoardHistory *m_history;
    Step m_step;
};

BoardHistory::BoardHistory(BoardStore *store, QObject *parent)
    : QObject(parent), m_store(store), m_stack(new QUndoStack(this)),
      m_undoAction(new BoardAction(Direction::back, m_sharingFields, this)),
      m_redoAction(new BoardAction(Direction::forward, m_sharingFields, this))
{
    m_stack->setUndoLimit(maxSteps);
    m_undoAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    m_redoAction->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
    const auto name = [](QAction *action, const QString &verb, const QString &step) {
        action->setText(step.isEmpty() ? verb : verb + QLatin1Char(' ') + step);
    };
    const auto update = [this, name] {
        name(m_undoAction, QStringLiteral("撤销"), m_stack->undoText());
        name(m_redoAction, QStringLiteral("重做"), m_stack->redoText());
        m_undoAction->setEnabled(m_stack->canUndo());
        m_redoAction->setEnabled(m_stack->canRedo());
    };
    update();
    connect(m_stack, &QUndoStack::indexChanged, this, update);
    connect(m_stack, &QUndoStack::cleanChanged, this, update);
    connect(m_undoAction, &QAction::triggered, m_stack, &QUndoStack::undo);
    connect(m_redoAction, &QAction::triggered, m_stack, &QUndoStack::redo);
    connect(store, &BoardStore::changed, this, &BoardHistory::record);
    connect(store, &BoardStore::remoteApplied, this, &BoardHistory::forget);
}

BoardHistory::~BoardHistory() = default;

void BoardHistory::shareKeysWith(QLineEdit *field)
{
    m_sharingFields.insert(field);
    field->installEventFilter(this);
    connect(field, &QObject::destroyed, this,
            [this](QObject *gone) { m_sharingFields.remove(gone); });
}

bool BoardHistory::eventFilter(QObject *watched, QEvent *event)
{
    // A line edit claims the undo keys whether or not it has anything to undo; left unclaimed,
    // they reach the 编辑 menu's actions.
    if (event->type() == QEvent::ShortcutOverride && m_sharingFields.contains(watched)) {
        const auto *key = static_cast<QKeyEvent *>(event);
        const auto *field = static_cast<QLineEdit *>(watched);
        if ((key->matches(QKeySequence::Undo) && !hasOwnStep(field, Direction::back)) ||
            (key->matches(QKeySequence::Redo) && !hasOwnStep(field, Direction::forward)))
            return true;
    }
    return QObject::eventFilter(watched, event);
}

QString BoardHistory::label(BoardStore::Change change)
{
    switch (change) {
    case BoardStore::Change::add:
        return QStringLiteral("添加");
    case BoardStore::Change::edit:
        return QStringLiteral("编辑");
    case BoardStore::Change::remove:
        return QStringLiteral("删除");
    case BoardStore::Change::move:
        return QStringLiteral("移动");
    case BoardStore::Change::archive:
        return QStringLiteral("归档已完成");
    case BoardStore::Change::restore:
        break;
    }
    return QStringLiteral("恢复");
}

BoardHistory::Side BoardHistory::sideOf(const Board &board, const QSet<QUuid> &touched)
{
    Side side;
    QUuid anchor;
    for (auto it = board.crbegin(); it != board.crend(); ++it) {
        if (touched.contains(it->id)) {
            side.thoughts.prepend(*it);
            side.anchors.prepend(anchor);
        } else {
            anchor = it->id;
        }
    }
    return side;
}

Board BoardHistory::rebuilt(const Board &current, const Side &side, const QList<QUuid> &ids)
{
    const QSet<QUuid> touched(ids.cbegin(), ids.cend());
    QSet<QUuid> placed;
    QHash<QUuid, Board> waiting;
    for (qsizetype i = 0; i < side.thoughts.size(); ++i) {
        placed.insert(side.thoughts[i].id);
        waiting[side.anchors[i]].append(side.thoughts[i]);
    }
    Board board;
    board.reserve(current.size());
    for (Thought thought : current) {
        if (placed.contains(thought.id))
            continue;
        board.append(waiting.take(thought.id));
        // A touched thought this side does not know was added by the step. It becomes a
        // tombstone where it is: the cloud may hold it already and would bring it back.
        if (touched.contains(thought.id))
            thought.isDeleted = true;
        board.append(std::move(thought));
    }
    // Thoughts are never taken off the board, so every anchor is still there; should one not
    // be, its thoughts go to the end rather than get lost.
    board.append(waiting.take(QUuid()));
    for (const Board &rest : std::as_const(waiting))
        board.append(rest);
    return board;
}

// Whether a step left the thoughts it touched where and as they were, but for updatedAt: saving
// an unchanged editor, or dropping a card back into its place.
bool BoardHistory::changesNothing(const Side &before, const Side &after)
{
    if (before.anchors != after.anchors)
        return false;
    for (qsizetype i = 0; i < before.thoughts.size(); ++i) {
        Thought was = before.thoughts[i];
        was.updatedAt = after.thoughts[i].updatedAt;
        if (was != after.thoughts[i])
            return false;
    }
    return true;
}

void BoardHistory::record(BoardStore::Change change, const Board &before, const QList<QUuid> &ids)
{
    if (m_replaying || ids.isEmpty())
        return;
    const QSet<QUuid> touched(ids.cbegin(), ids.cend());
    Step step{change, ids, sideOf(before, touched), sideOf(m_store->thoughts(), touched)};
    if (changesNothing(step.before, step.after))
        return;
    m_replaying = true;
    m_stack->push(new Command(this, std::move(step)));
    m_replaying = false;
}

void BoardHistory::forget(const QSet<QUuid> &ids)
{
    QList<Step> kept;
    qsizetype keptDone = 0;
    for (int i = 0; i < m_stack->count(); ++i) {
        const Step &step = static_cast<const Command *>(m_stack->command(i))->step();
        if (std::any_of(step.ids.cbegin(), step.ids.cend(),
                        [&](const QUuid &id) { return ids.contains(id); }))
            continue;
        kept.append(step);
        if (i < m_stack->index())
            ++keptDone;
    }
    if (kept.size() == m_stack->count())
        return;
    // The stack cannot lose a step in its middle: build it again from the steps that still apply,
    // without touching the board.
    m_replaying = true;
    m_stack->clear();
    for (Step &step : kept)
        m_stack->push(new Command(this, std::move(step)));
    m_stack->setIndex(int(keptDone));
    m_replaying = false;
}

void BoardHistory::apply(const Step &step, const Side &side)
{
    m_replaying = true;
    m_store->restore(rebuilt(m_store->thoughts(), side, step.ids));
    m_replaying = false;
    emit stepReplayed(step.ids);
}
