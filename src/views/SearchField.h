#pragma once

#include "support/GlassFrame.h"

#include <optional>

class QLineEdit;
class QToolButton;

/// The header's search field: a magnifying glass, a borderless text field and, while there is any
/// text, a button that clears it. It holds no text of its own beyond what its host binds to it.
class SearchField : public GlassFrame
{
    Q_OBJECT

public:
    /// With a \a width the field is exactly that wide; without one it takes the width offered.
    explicit SearchField(std::optional<int> width, QWidget *parent = nullptr);

    QString text() const;
    /// Sets the text without reporting it back as an edit.
    void setText(const QString &text);

    QLineEdit *lineEdit() const { return m_lineEdit; }
    QToolButton *clearButton() const { return m_clearButton; }

signals:
    /// The user changed the text, by typing or with the clear button.
    void textEdited(const QString &text);

protected:
    void changeEvent(QEvent *event) override;

private:
    void updateClearButton();
    void updateColors();

    QLineEdit *m_lineEdit = nullptr;
    QToolButton *m_clearButton = nullptr;
    class QLabel *m_icon = nullptr;
};
