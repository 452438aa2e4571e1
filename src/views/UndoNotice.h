#pragma once

#include "stores/BoardStore.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>

class BoardHistory;
class QLabel;
class QPushButton;

/// The short note at the foot of the window after a thought was deleted or the completed ones
/// archived ("已删除「…」 · 撤销"): it says what just happened, offers to take it back, and goes
/// by itself. It never takes the focus; Tab reaches its button.
class UndoNotice : public QWidget
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds showTime{6000};

    UndoNotice(BoardStore *store, BoardHistory *history, QWidget *parent);

    QLabel *textLabel() const { return m_text; }
    QPushButton *undoButton() const { return m_undoButton; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void announce(BoardStore::Change change, const Board &before, const QList<QUuid> &ids);
    void dismiss();
    void place();

    BoardHistory *m_history;
    QLabel *m_text;
    QPushButton *m_undoButton;
    QTimer m_timer;
    /// The history's index right after the announced step: the button takes back only that step.
    int m_stepIndex = -1;
    QPointer<QWidget> m_focusBefore;
};
