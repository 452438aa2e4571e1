#pragma once

#include "models/Thought.h"

#include <QWidget>

class BoardStore;
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

    const Thought &thought() const { return m_thought; }
    QString title() const;
    QString note() const;
    ThoughtStatus status() const { return m_status; }

    /// Whether any copy differs from the thought, by plain string equality without trimming.
    bool hasChanges() const;
    /// Whether the title holds something besides whitespace; unchanged thoughts can be saved too.
    bool canSave() const;

    void save();
    void deleteThought();
    /// Closes without saving, only while there are no unsaved edits.
    void cancel();

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
};
