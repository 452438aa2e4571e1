#include "CloudMessages.h"

namespace CloudMessages {

namespace {

QString server(const CloudError &error)
{
    return error.server.isEmpty() ? QStringLiteral("云端服务器")
                                  : QStringLiteral("云端服务器 %1").arg(error.server);
}

} // namespace

QString describe(const CloudError &error)
{
    using Kind = CloudError::Kind;
    switch (error.kind) {
    case Kind::unreachable:
        return QStringLiteral("无法连接到%1，请检查网络和地址").arg(server(error));
    case Kind::timedOut:
        return QStringLiteral("连接%1超时").arg(server(error));
    case Kind::insecureConnection:
        return QStringLiteral("无法与%1建立安全连接：证书无效或不受信任").arg(server(error));
    case Kind::connectionCut:
        return QStringLiteral("与%1的连接意外中断，收到的数据不完整").arg(server(error));
    case Kind::networkFailure:
        return QStringLiteral("与%1通信失败（网络错误 %2）").arg(server(error)).arg(error.code);
    case Kind::answerTooLarge:
        return QStringLiteral("%1返回的数据超过 %2 MiB，已拒绝读取")
            .arg(server(error))
            .arg(error.code);
    case Kind::credentialsRefused:
        return QStringLiteral("云端服务器拒绝了用户名或密码，请重新连接账户");
    case Kind::accessDenied:
        return QStringLiteral("云端服务器不允许此账户访问同步文件夹");
    case Kind::notFound:
        return QStringLiteral("云端没有找到所需的记录或文件夹");
    case Kind::changedElsewhere:
        return QStringLiteral("云端看板已被其他设备修改，本次上传没有完成，下次修改时会重新上传");
    case Kind::lockedElsewhere:
        return QStringLiteral("云端看板正由其他设备写入，本次上传没有完成，稍后会重新上传");
    case Kind::rateLimited:
        return QStringLiteral("云端服务器认为请求过于频繁，请稍后再试");
    case Kind::serverUnavailable:
        return QStringLiteral("云端服务器暂时不可用（HTTP %1），请稍后再试").arg(error.code);
    case Kind::quotaExceeded:
        return QStringLiteral("云端存储空间已满，无法上传看板");
    case Kind::redirected:
        return QStringLiteral("云端服务器要求跳转到其他地址（HTTP %1）。为保护密码，Lumaret "
                              "不跟随跳转，请直接使用最终的 WebDAV 地址")
            .arg(error.code);
    case Kind::refused:
        return QStringLiteral("云端服务器拒绝了请求（HTTP %1）").arg(error.code);
    case Kind::notWebDavFolder:
        return QStringLiteral("此地址不是 WebDAV 文件夹，请检查云端地址");
    case Kind::parentFolderMissing:
        return QStringLiteral("云端地址指向的文件夹不存在，请检查 WebDAV 地址");
    case Kind::noStrongVersions:
        return QStringLiteral("云端服务器没有为看板文件提供可靠的版本标记（强 ETag），为避免覆盖"
                              "其他设备的修改，没有同步");
    case Kind::noVersionsForJson:
        return QStringLiteral("云端服务器没有为 .json 文件提供强 ETag 版本标记，Lumaret 无法安全"
                              "地写入。lighttpd 只为有 MIME 类型的文件发送 ETag：请在 "
                              "mimetype.assign 中加入 \".json\"；Apache 请使用 FileETag Digest");
    case Kind::ignoresWriteConditions:
        return QStringLiteral("云端服务器忽略了条件写入（%1），Lumaret 无法避免覆盖其他设备的修改，"
                              "因此不能使用此服务器。请换用 Nextcloud、ownCloud、Apache mod_dav 或 "
                              "lighttpd mod_webdav")
            .arg(error.detail);
    case Kind::addressInvalid:
        return QStringLiteral("云端地址无效：请填写完整的 WebDAV 文件夹地址，例如 "
                              "https://cloud.example.com/remote.php/dav/files/NAME/");
    case Kind::addressHasCredentials:
        return QStringLiteral("云端地址中不能包含用户名或密码，请另外填写用户名");
    case Kind::addressHasQuery:
        return QStringLiteral("云端地址中不能包含查询参数或片段（? 或 #）");
    case Kind::addressPlainHttp:
        return QStringLiteral("已拒绝明文 http:// 地址：密码会以明文在网络上传输。请改用 https://"
                              "（只有本机回环地址可以使用 http://）");
    case Kind::addressNotHttps:
        return QStringLiteral("云端地址必须以 https:// 开头");
    case Kind::outsideFolder:
        return QStringLiteral("已拒绝向同步文件夹以外的地址发送请求，没有传送密码");
    case Kind::environmentIncomplete:
        return QStringLiteral("已设置 LUMARET_CLOUD_URL，但缺少 LUMARET_CLOUD_USER 或 "
                              "LUMARET_CLOUD_PASSWORD");
    case Kind::passwordNotInKeyring:
        return QStringLiteral("钥匙串中没有云端账户的密码，请重新连接云端账户");
    case Kind::keyringUnreadable:
        return QStringLiteral("无法从系统钥匙串读取云端账户的密码（%1）").arg(error.detail);
    case Kind::keyringUnwritable:
        return QStringLiteral("无法把密码存入系统钥匙串（%1）。没有钥匙串时，可用环境变量 "
                              "LUMARET_CLOUD_URL、LUMARET_CLOUD_USER、LUMARET_CLOUD_PASSWORD "
                              "提供账户")
            .arg(error.detail);
    case Kind::keyringNotCleared:
        return QStringLiteral("账户已断开，但无法从系统钥匙串删除密码（%1）").arg(error.detail);
    case Kind::envelopeUnrecognised:
        return QStringLiteral("旧版本留下的云端看板记录格式无法识别");
    case Kind::boardUnreadable:
        return QStringLiteral("云端的看板文件无法读取（%1）。没有合并也没有上传；下次修改看板时，"
                              "Lumaret 会把它改名保留在云端文件夹中，再上传本机的看板")
            .arg(error.detail);
    case Kind::keptChanging:
        return QStringLiteral("云端看板在上传时被其他设备反复修改，这次没有同步完成。本机的修改已"
                              "保存，稍后会再次同步");
    }
    return QStringLiteral("云同步出错");
}

QString movedAsideNotice(const QString &name)
{
    return QStringLiteral("云端原有的看板记录无法读取，已改名为 %1 保留在云端文件夹中").arg(name);
}

} // namespace CloudMessages
