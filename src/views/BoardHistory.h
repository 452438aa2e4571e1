#pragma once

#include "stores/BoardStore.h"

#include <QObject>
#include <QSet>

class QAction;
class QLineEdit;
class QUndoStack;

/// The person's recent board changes, to take back and do again from the 编辑 menu.
///
/// Every step remembers the thoughts it touched as they were before and after it. Undo and redo
/// put those versions back as an ordinary change of the store, so the board is saved, the undone
/// state gets a new updatedAt and wins the next merge, and the upload follows. A board merged in
/// from the cloud drops every step whose thoughts it changed: an undo never overwrites another
/// machine's newer edit. The history lives in memory only.
class BoardHistory : public QObject
{
    Q_OBJECT

public:
    static constexpr int maxSteps = 100;

    explicit BoardHistory(BoardStore *store, QObject *parent = nullptr);
    ~BoardHistory() override;

    QUndoStack *stack() const { return m_stack; }
    /// "撤销" and "重做", named after the step they take (for example "撤销 移动"), disabled when
    /// there is none. Their keys give way to a text field that has the focus, which keeps its
    /// own undo.
    QAction *undoAction() const { return m_undoAction; }
    QAction *redoAction() const { return m_redoAction; }

    /// Lets Ctrl+Z and Ctrl+Shift+Z in \a field act on the board whenever the field has nothing
    /// of its own to take back: right after a thought was added from the composer, the keys undo
    /// the add rather than nothing.
    void shareKeysWith(QLineEdit *field);

    /// The name of a change as the menu shows it.
    static QString label(BoardStore::Change change);

signals:
    /// An undo or redo put back the thoughts of \a ids, as the step left them.
    void stepReplayed(const QList<QUuid> &ids);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    /// The thoughts a step touched as one side of it holds them, in board order, each with the
    /// untouched thought that followed it there (a null id: the end of the board). Only these
    /// are kept, so a step costs what it touched, not the whole board.
    struct Side
    {
        Board thoughts;
        QList<QUuid> anchors;
    };
    struct Step
    {
        BoardStore::Change change;
        QList<QUuid> ids;
        Side before;
        Side after;
    };
    class Command;

    static Side sideOf(const Board &board, const QSet<QUuid> &touched);
    static Board rebuilt(const Board &current, const Side &side, const QList<QUuid> &ids);
    static bool changesNothing(const Side &before, const Side &after);
    void record(BoardStore::Change change, const Board &before, const QList<QUuid> &ids);
    void forget(const QSet<QUuid> &ids);
    void apply(const Step &step, const Side &side);

    BoardStore *m_store;
    QUndoStack *m_stack;
    QAction *m_undoAction;
    QAction *m_redoAction;
    QSet<const QObject *> m_sharingFields;
    /// Set while the history itself changes the board or rebuilds its stack, so that neither is
    /// taken for a new step.
    bool m_replaying = false;
};
