#include "SignInCommand.h"

#include "CommandOutput.h"
#include "PlatformServices.h"
#include "identity/OidcDiscovery.h"
#include "identity/OidcKeychainSecretStore.h"
#include "identity/OidcSettings.h"
#include "support/SignInMessages.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QSettings>
#include <QTextStream>

using namespace CommandOutput;

namespace {

QSettings settings()
{
    return QSettings(QStringLiteral("Lumaret"), QStringLiteral("Lumaret"));
}

int usage()
{
    err() << QStringLiteral(
        "用法：\n"
        "  lumaret signin configure ISSUER CLIENT_ID  选择登录用的 OpenID Connect 提供方\n"
        "  lumaret signin status                      显示当前的提供方并检查它\n"
        "  lumaret signin reset                       忘记所选的提供方，回到此版本的默认设置\n"
        "也可以用环境变量 LUMARET_OIDC_ISSUER 和 LUMARET_OIDC_CLIENT_ID 指定，它们优先。\n");
    return usageError;
}

std::optional<QString> problemWithIssuer(const QString &issuer)
{
    QNetworkAccessManager network;
    QEventLoop loop;
    std::optional<std::optional<QString>> problem;
    checkOidcIssuer(&network, issuer, &loop, [&](std::optional<AuthorizationError> answer) {
        problem.emplace(answer ? std::optional(SignInMessages::issuerProblem(*answer))
                               : std::nullopt);
        loop.quit();
    });
    // An address that is refused outright is answered at once, before any loop could run.
    if (!problem)
        loop.exec();
    return *problem;
}

void warnAboutEnvironment()
{
    if (const auto choice = configuredIdentityProvider();
        choice && choice->source == OidcProviderChoice::Source::environment)
        out() << QStringLiteral("注意：环境变量 LUMARET_OIDC_ISSUER 和 LUMARET_OIDC_CLIENT_ID "
                                "仍然指定了 %1，它们优先。\n")
                     .arg(choice->issuer);
}

/// Whether the keyring can keep this provider's refresh token, which is what lets the next launch
/// recognise the person.
QString keyringState(const OidcProviderChoice &choice)
{
    OidcSettings settings;
    settings.issuer = choice.issuer;
    settings.clientId = choice.clientId;
    const QString key = settings.secretKey();
    OidcKeychainSecretStore keyring;
    QEventLoop loop;
    std::optional<OidcSecretStore::ReadStatus> status;
    keyring.readSecret(key, [&](OidcSecretStore::ReadResult result) {
        status = result.status;
        loop.quit();
    });
    if (!status)
        loop.exec();
    switch (*status) {
    case OidcSecretStore::ReadStatus::found:
        return QStringLiteral("可用，保存着一次登录");
    case OidcSecretStore::ReadStatus::notFound:
        return QStringLiteral("可用");
    case OidcSecretStore::ReadStatus::unavailable:
        break;
    }
    return QStringLiteral("不可用：登录只在本次运行中有效，下次启动时不会被记住");
}

int configure(const QString &issuer, const QString &clientId)
{
    if (issuer.trimmed().isEmpty() || clientId.trimmed().isEmpty())
        return usage();
    // Nothing is stored before the provider has shown that a sign-in could work with it.
    if (const std::optional<QString> problem = problemWithIssuer(issuer)) {
        err() << QStringLiteral("未设置：%1\n").arg(*problem);
        return failure;
    }
    QSettings stored = settings();
    OidcProviderChoice::store(stored, issuer, clientId);
    if (stored.status() != QSettings::NoError) {
        err() << QStringLiteral("未设置：无法写入设置文件 %1。\n").arg(stored.fileName());
        return failure;
    }
    out() << QStringLiteral("已设置身份提供方 %1（客户端 %2）。下次启动 Lumaret 时生效。\n")
                 .arg(issuer, clientId);
    warnAboutEnvironment();
    return success;
}

int showStatus()
{
    const std::optional<OidcProviderChoice> choice = configuredIdentityProvider();
    if (!choice) {
        out() << QStringLiteral(
            "身份提供方：未设置，无法登录（用 lumaret signin configure 设置）\n");
        return success;
    }
    const QString source = choice->source == OidcProviderChoice::Source::environment
                               ? QStringLiteral("环境变量")
                           : choice->source == OidcProviderChoice::Source::settings
                               ? QStringLiteral("已保存的设置")
                               : QStringLiteral("此版本的默认设置");
    out() << QStringLiteral("身份提供方：%1（客户端 %2，来自%3）\n")
                 .arg(choice->issuer, choice->clientId, source);
    out() << QStringLiteral("钥匙串：%1\n").arg(keyringState(*choice));
    out().flush();
    if (const std::optional<QString> problem = problemWithIssuer(choice->issuer)) {
        out() << QStringLiteral("检查：%1\n").arg(*problem);
        return failure;
    }
    out() << QStringLiteral("检查：可用\n");
    return success;
}

int reset()
{
    QSettings stored = settings();
    OidcProviderChoice::forget(stored);
    out() << QStringLiteral("已忘记所选的身份提供方。\n");
    warnAboutEnvironment();
    return success;
}

} // namespace

int runSignInCommand(const QStringList &arguments)
{
    const QString verb = arguments.value(0);
    int code = usageError;
    if (verb == QStringLiteral("configure") && arguments.size() == 3)
        code = configure(arguments.at(1), arguments.at(2));
    else if (verb == QStringLiteral("status") && arguments.size() == 1)
        code = showStatus();
    else if (verb == QStringLiteral("reset") && arguments.size() == 1)
        code = reset();
    else
        code = usage();
    out().flush();
    err().flush();
    return code;
}
