#include "CloudCommand.h"

#include "CommandOutput.h"
#include "TerminalEchoOff.h"
#include "cloud/CloudAccount.h"
#include "cloud/SyncBuild.h"
#include "cloud/WebDavCloudDatabase.h"
#include "support/CloudMessages.h"

#include <QEventLoop>
#include <QFile>
#include <QTextStream>

#include <optional>

using namespace CommandOutput;

namespace {

int usage()
{
    err() << QStringLiteral(
        "用法：\n"
        "  lumaret cloud connect URL --user NAME   连接 WebDAV "
        "云端账户（密码从终端或标准输入读取）\n"
        "  lumaret cloud status                    显示云端账户并检查服务器\n"
        "  lumaret cloud disconnect                断开云端账户并删除钥匙串中的密码\n"
        "例如：lumaret cloud connect https://cloud.example.com/remote.php/dav/files/NAME/ --user "
        "NAME\n");
    err().flush();
    return usageError;
}

/// Reads one line: from a terminal without echoing it, otherwise as it comes on standard input.
std::optional<QString> readPassword()
{
    const TerminalEchoOff echoOff;
    if (echoOff.isActive()) {
        err() << QStringLiteral("密码：");
        err().flush();
    }
    QFile input;
    std::optional<QString> password;
    if (input.open(stdin, QIODevice::ReadOnly)) {
        const QByteArray line = input.readLine();
        if (!line.isEmpty() || !input.atEnd())
            password = QString::fromUtf8(line).remove(QLatin1Char('\n')).remove(QLatin1Char('\r'));
    }
    if (echoOff.isActive())
        err() << Qt::endl;
    return password;
}

/// Runs one asynchronous call of the cloud layer to its end.
template <typename T, typename Call> CloudResult<T> wait(Call call)
{
    std::optional<CloudResult<T>> result;
    QEventLoop loop;
    call([&](CloudResult<T> answer) {
        result.emplace(std::move(answer));
        loop.quit();
    });
    if (!result)
        loop.exec();
    return *result;
}

enum class ServerCheck { accountOnly, conditionalWritesToo };

void checkServer(const CloudAccount &account, PasswordSource password, ServerCheck check,
                 std::function<void(CloudResult<CloudAccountStatus>)> completion)
{
    auto *database = new WebDavCloudDatabase(account, std::move(password));
    // The database goes once its last answer is handled, not inside the reply giving it.
    auto finish = [database, completion](CloudResult<CloudAccountStatus> result) {
        database->deleteLater();
        completion(std::move(result));
    };
    database->accountStatus([database, check, finish](CloudResult<CloudAccountStatus> status) {
        if (!status.hasValue() || check == ServerCheck::accountOnly)
            return finish(status);
        // A server that ignores the guards would turn every guarded write into a blind one.
        database->checkConditionalWrites([status, finish](CloudResult<CloudDone> guarded) {
            finish(guarded.hasValue() ? status : CloudResult<CloudAccountStatus>(guarded.error()));
        });
    });
}

CloudResult<CloudAccountStatus> checkServer(const CloudAccount &account, PasswordSource password,
                                            ServerCheck check = ServerCheck::accountOnly)
{
    return wait<CloudAccountStatus>(
        [&](auto completion) { checkServer(account, std::move(password), check, completion); });
}

void warnWithoutSync()
{
    if (!SyncBuild::isSyncEnabled())
        err() << QStringLiteral("注意：此版本构建时未包含云同步，看板仍只保存在本机。\n");
}

int connectAccount(const QStringList &arguments)
{
    QString url;
    QString user;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (argument == QStringLiteral("--user") && i + 1 < arguments.size())
            user = arguments.at(++i);
        else if (argument.startsWith(QStringLiteral("--user=")))
            user = argument.mid(7);
        else if (url.isEmpty() && !argument.startsWith(QStringLiteral("--")))
            url = argument;
        else
            return usage();
    }
    if (url.isEmpty() || user.isEmpty())
        return usage();

    const CloudAccount account{CloudAccounts::collectionUrl(url), user,
                               CloudAccount::Source::settings};
    if (const std::optional<CloudError> problem =
            CloudAccounts::problemWithCollectionUrl(account.collectionUrl)) {
        err() << CloudMessages::describe(*problem) << '\n';
        return usageError;
    }
    const std::optional<QString> password = readPassword();
    if (!password || password->isEmpty()) {
        err() << QStringLiteral("没有读到密码，未连接。\n");
        return failure;
    }

    const CloudResult<CloudAccountStatus> status = checkServer(
        account,
        [password](std::function<void(CloudResult<QString>)> completion) { completion(*password); },
        ServerCheck::conditionalWritesToo);
    if (!status.hasValue()) {
        err() << QStringLiteral("未连接：%1\n").arg(CloudMessages::describe(status.error()));
        return failure;
    }
    const CloudResult<CloudDone> stored = wait<CloudDone>(
        [&](auto completion) { CloudAccounts::store(account, *password, completion); });
    if (!stored.hasValue()) {
        err() << QStringLiteral("未连接：%1\n").arg(CloudMessages::describe(stored.error()));
        return failure;
    }
    out() << QStringLiteral("已连接云端账户 %1（用户 %2）。下次启动 Lumaret 时开始同步。\n")
                 .arg(account.collectionUrl.toString(), user);
    warnWithoutSync();
    return success;
}

int showStatus()
{
    out() << (SyncBuild::isSyncEnabled()
                  ? QStringLiteral("云同步：此版本包含\n")
                  : QStringLiteral("云同步：此版本未包含（只在本机保存）\n"));
    const std::optional<CloudAccount> account = CloudAccounts::configured();
    if (!account) {
        out() << QStringLiteral("云端账户：未连接，看板只保存在本机\n");
        return success;
    }
    out() << QStringLiteral("云端账户：%1（用户 %2，来自%3）\n")
                 .arg(account->collectionUrl.toString(), account->user,
                      account->source == CloudAccount::Source::environment
                          ? QStringLiteral("环境变量")
                          : QStringLiteral("已保存的设置"));
    out().flush();
    const CloudResult<CloudAccountStatus> status =
        checkServer(*account, CloudAccounts::passwordSource(*account));
    if (!status.hasValue()) {
        out() << QStringLiteral("服务器：%1\n").arg(CloudMessages::describe(status.error()));
        return failure;
    }
    out() << QStringLiteral("服务器：可用\n");
    return success;
}

int disconnectAccount()
{
    const CloudResult<CloudDone> forgotten =
        wait<CloudDone>([](auto completion) { CloudAccounts::forget(completion); });
    if (!forgotten.hasValue()) {
        err() << CloudMessages::describe(forgotten.error()) << '\n';
        return failure;
    }
    out() << QStringLiteral("已断开云端账户，看板只保存在本机。\n");
    if (!qEnvironmentVariable("LUMARET_CLOUD_URL").isEmpty())
        out() << QStringLiteral("注意：环境变量 LUMARET_CLOUD_URL 仍然设置了一个账户。\n");
    return success;
}

} // namespace

int runCloudCommand(const QStringList &arguments)
{
    const QString verb = arguments.value(0);
    int code = usageError;
    if (verb == QStringLiteral("connect"))
        code = connectAccount(arguments.mid(1));
    else if (verb == QStringLiteral("status") && arguments.size() == 1)
        code = showStatus();
    else if (verb == QStringLiteral("disconnect") && arguments.size() == 1)
        code = disconnectAccount();
    else
        code = usage();
    out().flush();
    err().flush();
    return code;
}

void checkCloudServerForConnect(const CloudAccount &account, PasswordSource password,
                                std::function<void(CloudResult<CloudAccountStatus>)> completion)
{
    checkServer(account, std::move(password), ServerCheck::conditionalWritesToo,
                std::move(completion));
}
