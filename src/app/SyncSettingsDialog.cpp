#include "SyncSettingsDialog.h"

#include "CloudCommand.h"
#include "PlatformServices.h"
#include "identity/OidcDiscovery.h"
#include "services/SignInService.h"
#include "services/SyncService.h"
#include "support/CloudMessages.h"
#include "support/SignInMessages.h"
#include "support/TextStyles.h"

#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

QSettings lumaretSettings()
{
    return QSettings(QStringLiteral("Lumaret"), QStringLiteral("Lumaret"));
}

QLabel *messageLabel(QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setWordWrap(true);
    // Reasons may quote a server; they are never markup.
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

QLineEdit *field(const QString &name, QWidget *parent)
{
    auto *edit = new QLineEdit(parent);
    edit->setAccessibleName(name);
    edit->setMinimumWidth(360);
    return edit;
}

} // namespace

SyncSettingsDialog::SyncSettingsDialog(const AppServices &services, QWidget *parent)
    : QDialog(parent), m_services(services)
{
    setWindowTitle(QStringLiteral("云同步与登录"));
    setAccessibleName(windowTitle());
    auto *layout = new QVBoxLayout(this);
    m_tabs = new QTabWidget(this);
    m_tabs->addTab(cloudPage(), QStringLiteral("云同步"));
    m_tabs->addTab(signInPage(), QStringLiteral("登录"));
    layout->addWidget(m_tabs);
    // Enter acts on the page in front, never on the one behind it.
    connect(m_tabs, &QTabWidget::currentChanged, this, [this](int index) {
        m_connect->setDefault(index == 0);
        m_saveProvider->setDefault(index == 1);
    });
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setText(QStringLiteral("关闭"));
    buttons->button(QDialogButtonBox::Close)->setIcon({});
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    connect(m_services.syncService, &SyncService::stateChanged, this,
            &SyncSettingsDialog::refreshCloudStatus);
    connect(m_services.syncService, &SyncService::lastInSyncChanged, this,
            &SyncSettingsDialog::refreshCloudStatus);
    refreshCloudStatus();
    refreshSignInStatus();
}

void SyncSettingsDialog::showPage(Page page)
{
    m_tabs->setCurrentIndex(page == Page::cloud ? 0 : 1);
    (page == Page::cloud ? m_url : m_issuer)->setFocus();
}

QWidget *SyncSettingsDialog::cloudPage()
{
    auto *page = new QWidget(this);
    auto *layout = new QVBoxLayout(page);
    m_cloudStatus = messageLabel(page);
    m_cloudStatus->setFont(textStyleFont(TextStyle::body, QFont::DemiBold));
    layout->addWidget(m_cloudStatus);

    auto *form = new QFormLayout;
    m_url = field(QStringLiteral("WebDAV 文件夹地址"), page);
    m_url->setPlaceholderText(
        QStringLiteral("https://cloud.example.com/remote.php/dav/files/NAME/"));
    m_user = field(QStringLiteral("用户名"), page);
    m_password = field(QStringLiteral("密码"), page);
    m_password->setEchoMode(QLineEdit::Password);
    form->addRow(QStringLiteral("文件夹地址(&U)："), m_url);
    form->addRow(QStringLiteral("用户名(&N)："), m_user);
    form->addRow(QStringLiteral("密码(&P)："), m_password);
    // The "&" in each label text makes QFormLayout give the label its field as buddy.
    layout->addLayout(form);

    m_cloudMessage = messageLabel(page);
    m_cloudMessage->setAccessibleName(QStringLiteral("云同步消息"));
    layout->addWidget(m_cloudMessage);

    auto *row = new QHBoxLayout;
    m_sessionOnly = new QPushButton(QStringLiteral("仅在本次运行中使用(&S)"), page);
    m_sessionOnly->setVisible(false);
    m_disconnect = new QPushButton(QStringLiteral("断开(&D)"), page);
    m_connect = new QPushButton(QStringLiteral("连接(&C)"), page);
    m_connect->setDefault(true);
    row->addWidget(m_sessionOnly);
    row->addStretch(1);
    row->addWidget(m_disconnect);
    row->addWidget(m_connect);
    layout->addLayout(row);
    layout->addStretch(1);

    connect(m_connect, &QPushButton::clicked, this, &SyncSettingsDialog::connectAccount);
    connect(m_sessionOnly, &QPushButton::clicked, this, &SyncSettingsDialog::connectForThisSession);
    connect(m_disconnect, &QPushButton::clicked, this, &SyncSettingsDialog::disconnectAccount);
    return page;
}

QWidget *SyncSettingsDialog::signInPage()
{
    auto *page = new QWidget(this);
    auto *layout = new QVBoxLayout(page);
    m_signInStatus = messageLabel(page);
    m_signInStatus->setFont(textStyleFont(TextStyle::body, QFont::DemiBold));
    layout->addWidget(m_signInStatus);
    auto *explanation = messageLabel(page);
    explanation->setText(
        QStringLiteral("登录只用于显示账户，同步不依赖登录。填写 OpenID Connect 提供方的地址和为 "
                       "Lumaret 注册的客户端 ID。"));
    layout->addWidget(explanation);

    auto *form = new QFormLayout;
    m_issuer = field(QStringLiteral("提供方地址"), page);
    m_issuer->setPlaceholderText(QStringLiteral("https://id.example.org"));
    m_clientId = field(QStringLiteral("客户端 ID"), page);
    form->addRow(QStringLiteral("提供方地址(&I)："), m_issuer);
    form->addRow(QStringLiteral("客户端 ID(&L)："), m_clientId);
    layout->addLayout(form);

    m_signInMessage = messageLabel(page);
    m_signInMessage->setAccessibleName(QStringLiteral("登录设置消息"));
    layout->addWidget(m_signInMessage);

    auto *row = new QHBoxLayout;
    m_forgetProvider = new QPushButton(QStringLiteral("忘记提供方(&F)"), page);
    m_saveProvider = new QPushButton(QStringLiteral("检查并保存(&V)"), page);
    row->addStretch(1);
    row->addWidget(m_forgetProvider);
    row->addWidget(m_saveProvider);
    layout->addLayout(row);
    layout->addStretch(1);

    connect(m_saveProvider, &QPushButton::clicked, this, &SyncSettingsDialog::saveProvider);
    connect(m_forgetProvider, &QPushButton::clicked, this, &SyncSettingsDialog::forgetProvider);
    return page;
}

std::optional<CloudAccount> SyncSettingsDialog::typedAccount()
{
    const CloudAccount account{CloudAccounts::collectionUrl(m_url->text()),
                               m_user->text().trimmed(), CloudAccount::Source::settings};
    std::optional<QString> problem;
    if (const std::optional<CloudError> badUrl =
            CloudAccounts::problemWithCollectionUrl(account.collectionUrl))
        problem = CloudMessages::describe(*badUrl);
    else if (account.user.isEmpty())
        problem = QStringLiteral("请填写用户名");
    else if (m_password->text().isEmpty())
        problem = QStringLiteral("请填写密码");
    if (problem) {
        m_cloudMessage->setText(*problem);
        return std::nullopt;
    }
    return account;
}

void SyncSettingsDialog::connectAccount()
{
    m_sessionOnly->setVisible(false);
    const std::optional<CloudAccount> account = typedAccount();
    if (!account)
        return;
    const QString password = m_password->text();
    setBusy(true);
    m_cloudMessage->setText(QStringLiteral("正在检查服务器…"));
    const QPointer<SyncSettingsDialog> self(this);
    checkCloudServerForConnect(
        *account,
        [password](std::function<void(CloudResult<QString>)> completion) { completion(password); },
        [self, account = *account, password](CloudResult<CloudAccountStatus> status) {
            if (!self)
                return;
            if (!status.hasValue()) {
                self->setBusy(false);
                self->m_cloudMessage->setText(
                    QStringLiteral("未连接：%1").arg(CloudMessages::describe(status.error())));
                return;
            }
            CloudAccounts::store(
                account, password, [self, account, password](CloudResult<CloudDone> stored) {
                    if (!self)
                        return;
                    self->setBusy(false);
                    if (!stored.hasValue()) {
                        // The server said yes; only the keyring did not.
                        self->m_checkedAccount = account;
                        self->m_checkedPassword = password;
                        self->m_sessionOnly->setVisible(true);
                        self->m_cloudMessage->setText(QStringLiteral(
                            "服务器可用，但没有可用的系统钥匙串，密码无法保存。可以只在本次"
                            "运行中使用这个密码同步，下次启动 Lumaret 时需要重新连接。"));
                        self->m_sessionOnly->setFocus();
                        return;
                    }
                    self->m_sessionAccount.reset();
                    self->startSync(account, CloudAccounts::passwordSource(account));
                });
        });
}

void SyncSettingsDialog::connectForThisSession()
{
    if (!m_checkedAccount)
        return;
    m_sessionOnly->setVisible(false);
    m_sessionAccount = m_checkedAccount;
    const QString password = std::exchange(m_checkedPassword, QString());
    startSync(
        *std::exchange(m_checkedAccount, std::nullopt),
        [password](std::function<void(CloudResult<QString>)> completion) { completion(password); });
}

void SyncSettingsDialog::startSync(const CloudAccount &account, PasswordSource password)
{
    m_password->clear();
    std::unique_ptr<RemoteBoard> store = makeCloudStore(account, std::move(password));
    if (!store) {
        m_cloudMessage->setText(
            QStringLiteral("已保存账户，但此版本构建时未包含云同步，看板仍只保存在本机。"));
        refreshCloudStatus();
        return;
    }
    m_services.syncService->replaceCloudStore(std::move(store));
    m_cloudMessage->setText(QStringLiteral("已连接，正在与云端合并看板。"));
    refreshCloudStatus();
}

void SyncSettingsDialog::disconnectAccount()
{
    m_sessionOnly->setVisible(false);
    m_sessionAccount.reset();
    // Sync stops at once; the board stays on this machine as it is.
    m_services.syncService->replaceCloudStore(nullptr);
    setBusy(true);
    const QPointer<SyncSettingsDialog> self(this);
    CloudAccounts::forget([self](CloudResult<CloudDone> forgotten) {
        if (!self)
            return;
        self->setBusy(false);
        self->m_cloudMessage->setText(forgotten.hasValue()
                                          ? QStringLiteral("已断开，看板只保存在本机。")
                                          : CloudMessages::describe(forgotten.error()));
        self->refreshCloudStatus();
    });
}

void SyncSettingsDialog::setBusy(bool busy)
{
    m_busy = busy;
    m_connect->setEnabled(!busy);
    m_sessionOnly->setEnabled(!busy);
    refreshCloudStatus();
}

void SyncSettingsDialog::refreshCloudStatus()
{
    const SyncService *sync = m_services.syncService;
    const std::optional<CloudAccount> account =
        sync->hasCloudStore() ? (m_sessionAccount ? m_sessionAccount : CloudAccounts::configured())
                              : std::nullopt;
    m_disconnect->setEnabled(!m_busy &&
                             (account.has_value() || CloudAccounts::configured().has_value()));
    if (!account) {
        m_cloudStatus->setText(QStringLiteral("未连接：看板只保存在本机。"));
        m_cloudStatus->setAccessibleName(m_cloudStatus->text());
        return;
    }
    QString text = QStringLiteral("已连接：%1\n用户：%2")
                       .arg(account->collectionUrl.toString(QUrl::RemovePassword), account->user);
    if (m_sessionAccount)
        text += QStringLiteral("（密码只在本次运行中使用）");
    else if (account->source == CloudAccount::Source::environment)
        text += QStringLiteral("（来自环境变量 LUMARET_CLOUD_URL）");
    const QDateTime last = sync->lastInSync();
    text += QStringLiteral("\n上次与云端一致：") +
            (last.isValid() ? last.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                            : QStringLiteral("尚未同步"));
    if (sync->state().kind == SyncService::State::Kind::failed)
        text += QStringLiteral("\n同步异常：") + CloudMessages::describe(sync->state().problem);
    m_cloudStatus->setText(text);
    m_cloudStatus->setAccessibleName(text);
}

void SyncSettingsDialog::saveProvider()
{
    const QString issuer = m_issuer->text().trimmed();
    const QString clientId = m_clientId->text().trimmed();
    if (issuer.isEmpty() || clientId.isEmpty()) {
        m_signInMessage->setText(QStringLiteral("请填写提供方地址和客户端 ID"));
        return;
    }
    m_saveProvider->setEnabled(false);
    m_signInMessage->setText(QStringLiteral("正在检查提供方…"));
    auto *network = new QNetworkAccessManager(this);
    const QPointer<SyncSettingsDialog> self(this);
    // Nothing is stored before the provider has shown that a sign-in could work with it.
    checkOidcIssuer(
        network, issuer, this,
        [self, network, issuer, clientId](std::optional<AuthorizationError> problem) {
            network->deleteLater();
            if (!self)
                return;
            self->m_saveProvider->setEnabled(true);
            if (problem) {
                self->m_signInMessage->setText(
                    QStringLiteral("未设置：%1").arg(SignInMessages::issuerProblem(*problem)));
                return;
            }
            QSettings stored = lumaretSettings();
            OidcProviderChoice::store(stored, issuer, clientId);
            self->useConfiguredProvider();
            self->m_signInMessage->setText(QStringLiteral("已设置身份提供方 %1。").arg(issuer));
        });
}

void SyncSettingsDialog::forgetProvider()
{
    QSettings stored = lumaretSettings();
    OidcProviderChoice::forget(stored);
    useConfiguredProvider();
    m_signInMessage->setText(QStringLiteral("已忘记所选的身份提供方。"));
}

void SyncSettingsDialog::useConfiguredProvider()
{
    m_services.authService->setProvider(makeDefaultIdentityProvider(
        [](const QUrl &url) { return QDesktopServices::openUrl(url); }, &SignInMessages::failure));
    refreshSignInStatus();
}

void SyncSettingsDialog::refreshSignInStatus()
{
    const std::optional<OidcProviderChoice> choice = configuredIdentityProvider();
    QString text;
    if (!choice) {
        text = QStringLiteral("身份提供方：未设置，无法登录。");
    } else {
        text =
            QStringLiteral("身份提供方：%1\n客户端 ID：%2").arg(choice->issuer, choice->clientId);
        if (choice->source == OidcProviderChoice::Source::environment)
            text += QStringLiteral("\n（来自环境变量 LUMARET_OIDC_ISSUER，它们优先）");
        if (m_issuer->text().isEmpty()) {
            m_issuer->setText(choice->issuer);
            m_clientId->setText(choice->clientId);
        }
    }
    m_signInStatus->setText(text);
    m_signInStatus->setAccessibleName(text);
    m_forgetProvider->setEnabled(choice && choice->source == OidcProviderChoice::Source::settings);
}
