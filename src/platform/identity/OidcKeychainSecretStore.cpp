#include "identity/OidcKeychainSecretStore.h"

#include <qt6keychain/keychain.h>

namespace {

// The cloud account's password lives under the same service name, so the keyring shows one
// entry group for the application.
QString keychainService()
{
    return QStringLiteral("Lumaret");
}

template <typename Job> Job *makeJob(const QString &key)
{
    auto *job = new Job(keychainService());
    job->setAutoDelete(true);
    job->setInsecureFallback(false);
    job->setKey(key);
    return job;
}

} // namespace

void OidcKeychainSecretStore::readSecret(const QString &key,
                                         std::function<void(ReadResult)> completion)
{
    auto *job = makeJob<QKeychain::ReadPasswordJob>(key);
    QObject::connect(job, &QKeychain::Job::finished, job,
                     [job, completion = std::move(completion)] {
                         switch (job->error()) {
                         case QKeychain::NoError:
                             completion({ReadStatus::found, job->textData()});
                             return;
                         case QKeychain::EntryNotFound:
                             completion({ReadStatus::notFound, {}});
                             return;
                         default:
                             completion({ReadStatus::unavailable, {}});
                             return;
                         }
                     });
    job->start();
}

void OidcKeychainSecretStore::writeSecret(const QString &key, const QString &secret,
                                          std::function<void(WriteStatus)> completion)
{
    auto *job = makeJob<QKeychain::WritePasswordJob>(key);
    job->setTextData(secret);
    QObject::connect(job, &QKeychain::Job::finished, job,
                     [job, completion = std::move(completion)] {
                         completion(job->error() == QKeychain::NoError ? WriteStatus::stored
                                                                       : WriteStatus::failed);
                     });
    job->start();
}

void OidcKeychainSecretStore::removeSecret(const QString &key, std::function<void()> completion)
{
    auto *job = makeJob<QKeychain::DeletePasswordJob>(key);
    QObject::connect(job, &QKeychain::Job::finished, job,
                     [completion = std::move(completion)] { completion(); });
    job->start();
}
