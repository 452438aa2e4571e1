#pragma once

#include "support/GlassFrame.h"

#include <QAbstractButton>

class QLabel;
class QLineEdit;

/// The round add button of the composer: a white plus on a circle that is the accent colour
/// while there is text to add and a faint grey while there is none.
class ComposerAddButton : public QAbstractButton
{
    Q_OBJECT

public:
    explicit ComposerAddButton(QWidget *parent = nullptr);

    QSize sizeHint() const override { return {34, 34}; }
    /// The circle's colour for the current enabled state.
    QColor circleColor() const;

protected:
    void paintEvent(QPaintEvent *event) override;
};

/// The wide one-line field in which a new thought is typed. Return submits whatever the field
/// holds; the add button submits only text that is not blank. Trimming, clearing and focus after
/// a submit are the host's.
class QuickComposer : public GlassFrame
{
    Q_OBJECT

public:
    explicit QuickComposer(QWidget *parent = nullptr);

    QString text() const;
    void setText(const QString &text);

    /// Puts the caret into the text field.
    void setFocused();
    bool isFocused() const;

    QLineEdit *lineEdit() const { return m_lineEdit; }
    ComposerAddButton *addButton() const { return m_addButton; }

    /// Blank means empty once whitespace and newlines are removed from both ends.
    static bool isBlank(const QString &text);

signals:
    void submitted();

protected:
    void changeEvent(QEvent *event) override;

private:
    void updateAddButton();
    void updateColors();

    QLabel *m_bulb = nullptr;
    QLineEdit *m_lineEdit = nullptr;
    ComposerAddButton *m_addButton = nullptr;
};
