#include "SignInMessages.h"

namespace SignInMessages {

namespace {

QString tokenFaultText(AuthorizationError::TokenFault fault)
{
    using Fault = AuthorizationError::TokenFault;
    switch (fault) {
    case Fault::malformed:
        return QStringLiteral("格式错误");
    case Fault::unsupportedAlgorithm:
        return QStringLiteral("签名算法不受支持");
    case Fault::noMatchingKey:
        return QStringLiteral("找不到签名所用的密钥");
    case Fault::badSignature:
        return QStringLiteral("签名无法验证");
    case Fault::wrongIssuer:
        return QStringLiteral("签发者不符");
    case Fault::wrongAudience:
        return QStringLiteral("接收方不符");
    case Fault::expired:
        return QStringLiteral("已过期");
    case Fault::wrongNonce:
        return QStringLiteral("与本次登录不符");
    case Fault::missingSubject:
        return QStringLiteral("缺少用户标识");
    }
    return QString();
}

} // namespace

QString failure(const AuthorizationError &error)
{
    using Kind = AuthorizationError::Kind;
    switch (error.kind) {
    case Kind::unexplained:
        break;
    case Kind::notConfigured:
        return QStringLiteral("此版本未配置登录服务，无法登录。");
    case Kind::superseded:
        return QStringLiteral("登录已被新的登录取代。");
    case Kind::randomUnavailable:
        return QStringLiteral("无法生成安全的随机数，无法登录。");
    case Kind::providerUnreachable:
        return QStringLiteral("无法连接登录服务，请检查网络后重试。");
    case Kind::discoveryInvalid:
        return QStringLiteral("登录服务的配置无效，无法登录。");
    case Kind::answerRedirected:
        return QStringLiteral("登录服务要求跳转到别处，Lumaret 不跟随登录请求的跳转。");
    case Kind::answerTooLarge:
        return QStringLiteral("登录服务的回答超过 %1 MiB，已拒绝读取。").arg(error.detail);
    case Kind::listenerFailed:
        return QStringLiteral("无法在本机接收登录结果，请稍后重试。");
    case Kind::browserUnavailable:
        return QStringLiteral("无法打开浏览器进行登录。");
    case Kind::timedOut:
        return QStringLiteral("登录超时：没有在限定时间内从浏览器收到登录结果。");
    case Kind::redirectTampered:
        return QStringLiteral("浏览器返回的登录结果无效，可能被篡改，已中止登录。");
    case Kind::cancelled:
        return QStringLiteral("登录已被拒绝或取消。");
    case Kind::providerRefused:
        return QStringLiteral("登录服务报告了错误（%1），登录未完成。").arg(error.detail);
    case Kind::tokenExchangeFailed:
        return QStringLiteral("登录服务没有接受这次登录（%1），请重新登录。").arg(error.detail);
    case Kind::idTokenMissing:
        return QStringLiteral("登录服务没有返回身份令牌，无法登录。");
    case Kind::keysUnavailable:
        return QStringLiteral("无法取得登录服务的签名密钥，无法验证登录。");
    case Kind::idTokenInvalid:
        return QStringLiteral("登录服务返回的身份令牌无效（%1），已拒绝这次登录。")
            .arg(tokenFaultText(error.tokenFault));
    case Kind::credentialUnreadable:
        return QStringLiteral("无法读取登录凭证");
    }
    return QStringLiteral("登录没有完成，提供方没有说明原因");
}

QString issuerProblem(const AuthorizationError &error)
{
    if (error.kind != AuthorizationError::Kind::discoveryInvalid)
        return failure(error);
    return QStringLiteral("发现文档无效：地址须为 https（本机可用 http）且不跳转，文档中的 issuer "
                          "须与此地址完全相同，并列出授权、令牌和密钥地址。");
}

QString notice(IdentityCredential::Notice notice)
{
    switch (notice) {
    case IdentityCredential::Notice::none:
        break;
    case IdentityCredential::Notice::noRefreshToken:
        return QStringLiteral("身份提供方没有给出刷新令牌：下次启动 Lumaret 时需要重新登录。");
    case IdentityCredential::Notice::noKeyring:
        return QStringLiteral("没有可用的密钥环（Secret Service），无法保存登录：下次启动 "
                              "Lumaret 时需要重新登录。");
    }
    return QString();
}

} // namespace SignInMessages
