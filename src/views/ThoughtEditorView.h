#pragma once

#include "models/Thought.h"

#include <QWidget>

#include <optional>

class BoardStore;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QToolButton;
class SegmentedControl;

/// The panel in which one thought's title, note and status are edited. It works on its own copies
/// and guards unsaved edits: while the copies differ from the thought, the panel can be left only
/// by saving or deleting, or by undoing the edits by hand.
class ThoughtEditorView : public QWidget
{
    Q_OBJECT

public:
    static constexpr int panelWidth = 520;
    static constexpr qreal cornerRadius = 26;

    ThoughtEditorView(BoardStore *store, const Thought &thought, QWidget *parent = nullptr);

    /// The thought as the editor last took it from the board: what the edits are compared with.
    const Thought &thought() const { return m_thought; }
    QString title() const;
    QString note() const;
    ThoughtStatus status() const { return m_status; }

    /// Whether any copy differs from the thought, by plain string equality without trimming.
    bool hasChanges() const;
    /// Whether the title holds something besides whitespace; unchanged thoughts can be saved too.
    bool canSave() const;

    /// Applies the fields edited here onto the thought as it now is on the board, so that a change
    /// made elsewhere to another field is kept.
    void save();
    void deleteThought();
    /// Closes without saving, only while there are no unsaved edits; otherwise says why not.
    void cancel();

    /// The board holds \a current, a newer version of the thought, changed elsewhere (an undo, a
    /// merge from the cloud, a quick capture). Without edits here the editor shows it; with edits
    /// it says so and lets the person take the new version or keep theirs.
    void thoughtChangedElsewhere(const Thought &current);
    /// Says, next to the buttons, why the editor stays open.
    void explainUnsavedChanges();
    /// Whether the editor is saving or deleting its thought: the change it makes is its own.
    bool isCommitting() const { return m_committing; }

    QLabel *guardLabel() const { return m_guardLabel; }
    QWidget *conflictBar() const { return m_conflictBar; }
    QPushButton *takeNewerButton() const { return m_takeNewerButton; }
    QPushButton *keepMineButton() const { return m_keepMineButton; }

    QLineEdit *titleField() const { return m_titleField; }
    QPlainTextEdit *noteEditor() const { return m_noteEditor; }
    SegmentedControl *statusPicker() const { return m_statusPicker; }
    QToolButton *closeButton() const { return m_closeButton; }
    QPushButton *deleteButton() const { return m_deleteButton; }
    QPushButton *cancelButton() const { return m_cancelButton; }
    QPushButton *saveButton() const { return m_saveButton; }

    /// The panel's shadow: black at 0.16, blurred over 26 points, 18 points below \a panelRect.
    static void paintShadow(QPainter &painter, const QRectF &panelRect, qreal opacity = 1.0);

signals:
    /// The editor is done: saved, deleted or left clean.
    void closeRequested();
    /// Whether there are unsaved edits: once when first shown, then on every change.
    void dirtyChanged(bool hasChanges);

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void close();
    void editsChanged();
    void showThought(const Thought &thought);
    void updateColors();

    BoardStore *m_store = nullptr;
    Thought m_thought;
    ThoughtStatus m_status = ThoughtStatus::notStarted;
    std::optional<bool> m_reportedChanges;

    QLineEdit *m_titleField = nullptr;
    QPlainTextEdit *m_noteEditor = nullptr;
    SegmentedControl *m_statusPicker = nullptr;
    QToolButton *m_closeButton = nullptr;
    QPushButton *m_deleteButton = nullptr;
    QPushButton *m_cancelButton = nullptr;
    QPushButton *m_saveButton = nullptr;
    QLabel *m_guardLabel = nullptr;
    QWidget *m_conflictBar = nullptr;
    QPushButton *m_takeNewerButton = nullptr;
    QPushButton *m_keepMineButton = nullptr;
    /// The version changed elsewhere while this editor held edits, until the person chooses.
    std::optional<Thought> m_newer;
    bool m_committing = false;
};
