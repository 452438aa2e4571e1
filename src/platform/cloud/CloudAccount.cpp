#include "CloudAccount.h"

#include "support/PrivateFiles.h"

#include <qt6keychain/keychain.h>

#include <QCoreApplication>
#include <QHostAddress>
#include <QSettings>
#include <QTimer>

namespace {

const QString keychainService = QStringLiteral("Lumaret");
const QString urlKey = QStringLiteral("cloud/url");
const QString userKey = QStringLiteral("cloud/user");

// The account belongs to the person, so it is kept under the application's own name whatever
// the running application object is called (tests, the command line).
const QString settingsName = QStringLiteral("Lumaret");

// One keyring entry per account, so that connecting another account never reads an old secret.
QString keychainKey(const CloudAccount &account)
{
    return QStringLiteral("cloud:%1@%2")
        .arg(account.user, account.collectionUrl.toString(QUrl::FullyEncoded));
}

void answerLater(std::function<void()> answer)
{
    QTimer::singleShot(0, qApp, std::move(answer));
}

} // namespace

namespace CloudAccounts {

bool isLoopbackHost(const QString &host)
{
    if (host.compare(QStringLiteral("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

std::optional<CloudAccount> configured()
{
    const QString environmentUrl = qEnvironmentVariable("LUMARET_CLOUD_URL").trimmed();
    if (!environmentUrl.isEmpty()) {
        return CloudAccount{collectionUrl(environmentUrl),
                            qEnvironmentVariable("LUMARET_CLOUD_USER"),
                            CloudAccount::Source::environment};
    }
    QSettings stored(settingsName, settingsName);
    const QString url = stored.value(urlKey).toString();
    const QString user = stored.value(userKey).toString();
    if (url.isEmpty() || user.isEmpty())
        return std::nullopt;
    return CloudAccount{collectionUrl(url), user, CloudAccount::Source::settings};
}

QUrl collectionUrl(const QString &text)
{
    QUrl url(text.trimmed(), QUrl::TolerantMode);
    if (url.isValid() && !url.path().endsWith(QLatin1Char('/')))
        url.setPath(url.path() + QLatin1Char('/'));
    return url;
}

std::optional<CloudError> problemWithCollectionUrl(const QUrl &url)
{
    using Kind = CloudError::Kind;
    if (!url.isValid() || url.host().isEmpty())
        return CloudError{Kind::addressInvalid};
    if (!url.userInfo().isEmpty())
        return CloudError{Kind::addressHasCredentials};
    if (url.hasQuery() || url.hasFragment())
        return CloudError{Kind::addressHasQuery};
    const QString scheme = url.scheme().toLower();
    if (scheme == QStringLiteral("https"))
        return std::nullopt;
    if (scheme == QStringLiteral("http"))
        return isLoopbackHost(url.host()) ? std::nullopt
                                          : std::optional(CloudError{Kind::addressPlainHttp});
    return CloudError{Kind::addressNotHttps};
}

PasswordSource passwordSource(const CloudAccount &account)
{
    if (account.source == CloudAccount::Source::environment) {
        return [](std::function<void(CloudResult<QString>)> completion) {
            const QString password = qEnvironmentVariable("LUMARET_CLOUD_PASSWORD");
            const bool hasUser = !qEnvironmentVariable("LUMARET_CLOUD_USER").isEmpty();
            answerLater([completion, password, hasUser] {
                if (!hasUser || password.isEmpty()) {
                    completion(CloudError{CloudError::Kind::environmentIncomplete});
                } else {
                    completion(password);
                }
            });
        };
    }
    const QString key = keychainKey(account);
    return [key](std::function<void(CloudResult<QString>)> completion) {
        auto *job = new QKeychain::ReadPasswordJob(keychainService);
        job->setAutoDelete(true);
        job->setKey(key);
        QObject::connect(job, &QKeychain::Job::finished, qApp, [completion](QKeychain::Job *done) {
            if (done->error() == QKeychain::NoError) {
                completion(static_cast<QKeychain::ReadPasswordJob *>(done)->textData());
            } else if (done->error() == QKeychain::EntryNotFound) {
                completion(CloudError{CloudError::Kind::passwordNotInKeyring});
            } else {
                completion(
                    CloudError{CloudError::Kind::keyringUnreadable, {}, 0, done->errorString()});
            }
        });
        job->start();
    };
}

void store(const CloudAccount &account, const QString &password,
           std::function<void(CloudResult<CloudDone>)> completion)
{
    auto *job = new QKeychain::WritePasswordJob(keychainService);
    job->setAutoDelete(true);
    job->setKey(keychainKey(account));
    job->setTextData(password);
    QObject::connect(
        job, &QKeychain::Job::finished, qApp, [account, completion](QKeychain::Job *done) {
            if (done->error() != QKeychain::NoError) {
                completion(
                    CloudError{CloudError::Kind::keyringUnwritable, {}, 0, done->errorString()});
                return;
            }
            QSettings stored(settingsName, settingsName);
            stored.setValue(urlKey, account.collectionUrl.toString(QUrl::FullyEncoded));
            stored.setValue(userKey, account.user);
            PrivateFiles::sync(stored);
            completion(CloudDone{});
        });
    job->start();
}

void forget(std::function<void(CloudResult<CloudDone>)> completion)
{
    QSettings stored(settingsName, settingsName);
    const QString url = stored.value(urlKey).toString();
    const QString user = stored.value(userKey).toString();
    stored.remove(QStringLiteral("cloud"));
    PrivateFiles::sync(stored);
    if (url.isEmpty() || user.isEmpty()) {
        answerLater([completion] { completion(CloudDone{}); });
        return;
    }
    auto *job = new QKeychain::DeletePasswordJob(keychainService);
    job->setAutoDelete(true);
    job->setKey(
        keychainKey(CloudAccount{collectionUrl(url), user, CloudAccount::Source::settings}));
    QObject::connect(job, &QKeychain::Job::finished, qApp, [completion](QKeychain::Job *done) {
        if (done->error() != QKeychain::NoError && done->error() != QKeychain::EntryNotFound) {
            completion(CloudError{CloudError::Kind::keyringNotCleared, {}, 0, done->errorString()});
            return;
        }
        completion(CloudDone{});
    });
    job->start();
}

} // namespace CloudAccounts
