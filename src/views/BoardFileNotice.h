#pragma once

#include <QWidget>

class BoardStore;
class QLabel;
class QPushButton;

/// The banner above the board that tells what happened to the board file: that the file found at
/// launch could not be used (until dismissed), that the board is not saved (for as long as that
/// is true, with a retry and a copy elsewhere), or a one-off word such as a thought deleted
/// elsewhere while it was being edited. Hidden while there is nothing to say.
class BoardFileNotice : public QWidget
{
    Q_OBJECT

public:
    explicit BoardFileNotice(BoardStore *store, QWidget *parent = nullptr);

    /// Shows \a text until dismissed, unless the board is unsaved, which is said first.
    void showMessage(const QString &text);

    QLabel *textLabel() const { return m_text; }
    QPushButton *retryButton() const { return m_retry; }
    QPushButton *saveCopyButton() const { return m_saveCopy; }
    QPushButton *dismissButton() const { return m_dismiss; }

    /// Asks where to write a copy of the board and writes it there; true once a copy is written.
    static bool saveCopy(BoardStore *store, QWidget *parent);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void refresh();

    BoardStore *m_store = nullptr;
    /// What was said besides the unsaved board, until dismissed.
    QString m_message;
    QLabel *m_text = nullptr;
    QPushButton *m_retry = nullptr;
    QPushButton *m_saveCopy = nullptr;
    QPushButton *m_dismiss = nullptr;
};
