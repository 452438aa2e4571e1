#pragma once

#include "AppServices.h"
#include "cloud/CloudAccount.h"

#include <QDialog>

#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;

/// Where a person connects the board to a WebDAV folder and chooses whom to sign in with, without
/// a terminal: the same checks and the same keyring as `lumaret cloud connect` and
/// `lumaret signin configure`, and the change takes effect at once.
class SyncSettingsDialog : public QDialog
{
    Q_OBJECT

public:
    enum class Page { cloud, signIn };

    explicit SyncSettingsDialog(const AppServices &services, QWidget *parent = nullptr);

    void showPage(Page page);

    QLineEdit *urlField() const { return m_url; }
    QLineEdit *userField() const { return m_user; }
    QLineEdit *passwordField() const { return m_password; }
    QPushButton *connectButton() const { return m_connect; }
    QPushButton *sessionOnlyButton() const { return m_sessionOnly; }
    QPushButton *disconnectButton() const { return m_disconnect; }
    /// What the last action found, or why it was refused.
    QLabel *cloudMessage() const { return m_cloudMessage; }
    QLabel *cloudStatus() const { return m_cloudStatus; }
    QLineEdit *issuerField() const { return m_issuer; }
    QLineEdit *clientIdField() const { return m_clientId; }
    QPushButton *saveProviderButton() const { return m_saveProvider; }
    QLabel *signInMessage() const { return m_signInMessage; }

private:
    QWidget *cloudPage();
    QWidget *signInPage();
    std::optional<CloudAccount> typedAccount();
    void connectAccount();
    void connectForThisSession();
    void startSync(const CloudAccount &account, PasswordSource password);
    void disconnectAccount();
    void saveProvider();
    void forgetProvider();
    void useConfiguredProvider();
    void setBusy(bool busy);
    void refreshCloudStatus();
    void refreshSignInStatus();

    AppServices m_services;
    QTabWidget *m_tabs = nullptr;
    QLabel *m_cloudStatus = nullptr;
    QLineEdit *m_url = nullptr;
    QLineEdit *m_user = nullptr;
    QLineEdit *m_password = nullptr;
    QLabel *m_cloudMessage = nullptr;
    QPushButton *m_connect = nullptr;
    QPushButton *m_sessionOnly = nullptr;
    QPushButton *m_disconnect = nullptr;
    QLabel *m_signInStatus = nullptr;
    QLineEdit *m_issuer = nullptr;
    QLineEdit *m_clientId = nullptr;
    QLabel *m_signInMessage = nullptr;
    QPushButton *m_saveProvider = nullptr;
    QPushButton *m_forgetProvider = nullptr;
    /// The account in use when it is not kept anywhere: connected for this session only.
    std::optional<CloudAccount> m_sessionAccount;
    /// The account and password checked last, waiting for the person to accept a session-only
    /// connection after the keyring refused the password.
    std::optional<CloudAccount> m_checkedAccount;
    QString m_checkedPassword;
    /// A check, a keyring write or a disconnection is on its way.
    bool m_busy = false;
};
