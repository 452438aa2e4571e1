#include "BoardHistory.h"

#include <QAction>
#include <QApplication>
#include <QHash>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSet>
#include <QTextEdit>
#include <QUndoStack>

#include <algorithm>
#include <utility>

namespace {

/// The board as it is now, with the thoughts of \a ids as \a source holds them, each put back
/// just before the thought that followed it in \a source and is still on the board. A touched
/// thought that \a source does not know was added by the step: it becomes a tombstone where it
/// is, because the cloud may already hold it and would bring it back.
Board rebuilt(const Board &current, const Board &source, const QList<QUuid> &ids)
{
    const QSet<QUuid> touched(ids.cbegin(), ids.cend());
    QSet<QUuid> fromSource;
    for (const Thought &thought : source) {
        if (touched.contains(thought.id))
            fromSource.insert(thought.id);
    }
    Board staying;
    QSet<QUuid> stayingIds;
    for (const Thought &thought : current) {
        if (fromSource.contains(thought.id))
            continue;
        staying.append(thought);
        stayingIds.insert(thought.id);
        if (touched.contains(thought.id))
            staying.last().isDeleted = true;
    }
    // Walking backwards, the anchor is the nearest following thought that stays; a null id
    // stands for the end of the board.
    QHash<QUuid, Board> waiting;
    QUuid anchor;
    for (auto it = source.crbegin(); it != source.crend(); ++it) {
        if (fromSource.contains(it->id))
            waiting[anchor].prepend(*it);
        else if (stayingIds.contains(it->id))
            anchor = it->id;
    }
    Board board;
    board.reserve(staying.size() + fromSource.size());
    for (const Thought &thought : std::as_const(staying)) {
        board.append(waiting.take(thought.id));
        board.append(thought);
    }
    board.append(waiting.take(QUuid()));
    return board;
}

/// Whether a change left the touched thoughts where and as they were, but for updatedAt: saving
/// an unchanged editor, or dropping a card back into its place.
bool changesNothing(const Board &before, const Board &after, const QList<QUuid> &ids)
{
    const auto indexIn = [](const Board &board, const QUuid &id) {
        for (qsizetype i = 0; i < board.size(); ++i) {
            if (board[i].id == id)
                return i;
        }
        return qsizetype(-1);
    };
    for (const QUuid &id : ids) {
        const qsizetype from = indexIn(before, id);
        const qsizetype to = indexIn(after, id);
        if (from < 0 || from != to)
            return false;
        Thought was = before[from];
        was.updatedAt = after[to].updatedAt;
        if (was != after[to])
            return false;
    }
    return true;
}

enum class Direction { back, forward };

/// A menu action whose keys give way to the text field with the focus, which keeps its own undo
/// and redo; a click in the menu always acts on the board. Most fields claim Ctrl+Z themselves,
/// but not every key the board uses (Ctrl+Y), so the action hands those on.
class BoardAction : public QAction
{
public:
    BoardAction(Direction direction, QObject *parent) : QAction(parent), m_direction(direction) {}

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
        m_direction == Direction::back ? field->undo() : field->redo();
        return true;
    }
    bool takeTextBack(QWidget *widget) const
    {
        return takeBack<QLineEdit>(widget) || takeBack<QPlainTextEdit>(widget) ||
               takeBack<QTextEdit>(widget);
    }

    Direction m_direction;
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
      m_undoAction(new BoardAction(Direction::back, this)),
      m_redoAction(new BoardAction(Direction::forward, this))
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

void BoardHistory::record(BoardStore::Change change, const Board &before, const QList<QUuid> &ids)
{
    if (m_replaying || ids.isEmpty() || changesNothing(before, m_store->thoughts(), ids))
        return;
    m_replaying = true;
    m_stack->push(new Command(this, Step{change, ids, before, m_store->thoughts()}));
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

void BoardHistory::apply(const Step &step, const Board &source)
{
    m_replaying = true;
    m_store->restore(rebuilt(m_store->thoughts(), source, step.ids));
    m_replaying = false;
}
