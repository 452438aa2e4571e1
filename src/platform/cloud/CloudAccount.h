#pragma once

#include "services/RemoteBoard.h"

#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

/// The person's cloud account: a WebDAV collection and a user name. The password is never part
/// of it; it lives in the desktop's keyring (or, for headless use, in the environment) and is
/// asked for only when a request needs it.
struct CloudAccount
{
    enum class Source { settings, environment };

    QUrl collectionUrl;
    QString user;
    Source source = Source::settings;
};

/// Hands the account's password to the completion, or why it has none.
using PasswordSource = std::function<void(std::function<void(CloudResult<QString>)>)>;

namespace CloudAccounts {

/// The account Lumaret uses: the three LUMARET_CLOUD_* environment variables when
/// LUMARET_CLOUD_URL is set, otherwise the account stored by "lumaret cloud connect", otherwise
/// nothing.
std::optional<CloudAccount> configured();

/// Turns what a person typed into a collection URL: surrounding blanks dropped and a trailing
/// slash added, so that relative names resolve inside the collection.
QUrl collectionUrl(const QString &text);

/// Why \a url cannot be used as a collection, or nothing when it can. Credentials travel only
/// over https, or over plain http to this machine's own loopback address.
std::optional<CloudError> problemWithCollectionUrl(const QUrl &url);

/// Whether \a host names this machine's loopback interface.
bool isLoopbackHost(const QString &host);

/// Where the password of \a account comes from: the environment or the keyring.
PasswordSource passwordSource(const CloudAccount &account);

/// Remembers \a account in the user's configuration folder and \a password in the keyring.
void store(const CloudAccount &account, const QString &password,
           std::function<void(CloudResult<CloudDone>)> completion);
/// Forgets the stored account and its keyring entry.
void forget(std::function<void(CloudResult<CloudDone>)> completion);

} // namespace CloudAccounts
