#pragma once

#include <QAbstractButton>
#include <QLabel>
#include <QWidget>

class SignInService;
class GlassFrame;
class QPushButton;
class QToolButton;

/// The sign-in button: black with white text in the light appearance and white with black text in
/// the dark one, 148 by 34 points with corners of radius 10.
class SignInButton : public QAbstractButton
{
    Q_OBJECT

public:
    explicit SignInButton(QWidget *parent = nullptr);

    QSize sizeHint() const override { return size(); }
    /// What the button says for \a service's provider within \a width.
    static QString titleFor(const SignInService &service, int width);
    /// The width that shows \a title whole, within the panel's bounds.
    static int widthFor(const QString &title);
    QColor fillColor() const;
    QColor labelColor() const;

protected:
    void paintEvent(QPaintEvent *event) override;
};

/// A one-line label that shows as much of its text as fits and ends in an ellipsis otherwise.
class ElidedLabel : public QLabel
{
    Q_OBJECT

public:
    explicit ElidedLabel(QWidget *parent = nullptr);

    void setFullText(const QString &text);
    QString fullText() const { return m_fullText; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void updateElidedText();

    QString m_fullText;
};

/// The header control that shows the sign-in state and offers the one action that fits it: sign
/// in, sign out, or start over after a failure; with no provider configured, choosing one. It
/// keeps nothing of its own.
class SignInPanel : public QWidget
{
    Q_OBJECT

public:
    enum class Layout { signedIn, failed, checking, signedOut };

    explicit SignInPanel(SignInService *authService, QWidget *parent = nullptr);

    Layout currentLayout() const;

    SignInButton *signInButton() const { return m_signInButton; }
    QPushButton *retryButton() const { return m_retryButton; }
    QToolButton *signOutButton() const { return m_signOutButton; }
    ElidedLabel *displayNameLabel() const { return m_displayName; }
    GlassFrame *checkingLabel() const { return m_checking; }
    GlassFrame *signedInRow() const { return m_signedIn; }

signals:
    /// The person asked to sign in while no provider is configured.
    void configureRequested();

protected:
    void changeEvent(QEvent *event) override;

private:
    void refresh();
    void updateColors();

    SignInService *m_authService = nullptr;
    Layout m_layout = Layout::signedOut;
    GlassFrame *m_signedIn = nullptr;
    QLabel *m_personIcon = nullptr;
    ElidedLabel *m_displayName = nullptr;
    QToolButton *m_signOutButton = nullptr;
    QPushButton *m_retryButton = nullptr;
    GlassFrame *m_checking = nullptr;
    QLabel *m_checkingIcon = nullptr;
    QLabel *m_checkingText = nullptr;
    SignInButton *m_signInButton = nullptr;
};
