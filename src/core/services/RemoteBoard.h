#pragma once

#include "models/Thought.h"

#include <QString>

#include <functional>
#include <optional>
#include <variant>

/// Whether there is a cloud account to sync with.
enum class CloudAccountStatus { available, noAccount };

/// What went wrong in a cloud operation, with the details the person needs to act on it. The
/// views and commands word it; nothing below them writes a sentence.
struct CloudError
{
    enum class Kind {
        // Reaching the server; server names it.
        unreachable,
        timedOut,
        insecureConnection,
        connectionCut,
        /// Any other network error; code holds Qt's network error.
        networkFailure,
        /// An answer past the size limit; code holds the limit in MiB.
        answerTooLarge,

        // The server's answer; code holds the HTTP status.
        credentialsRefused,
        accessDenied,
        notFound,
        /// Another machine wrote the record since this one read it.
        changedElsewhere,
        /// Another machine holds the record's write lock.
        lockedElsewhere,
        rateLimited,
        serverUnavailable,
        quotaExceeded,
        redirected,
        /// Any other refusal.
        refused,

        // What the server is: each makes it unfit for guarded writes.
        notWebDavFolder,
        parentFolderMissing,
        /// No strong version tag (ETag) on the board file: no write could be guarded.
        noStrongVersions,
        /// The server gives .json files no strong version tag (found by the check at connect).
        noVersionsForJson,
        /// The server ignored a write condition; detail names the header.
        ignoresWriteConditions,

        // The account as configured on this machine.
        addressInvalid,
        addressHasCredentials,
        addressHasQuery,
        addressPlainHttp,
        addressNotHttps,
        /// A request that would have left the connected folder; nothing was sent.
        outsideFolder,
        /// LUMARET_CLOUD_URL is set without LUMARET_CLOUD_USER or LUMARET_CLOUD_PASSWORD.
        environmentIncomplete,
        passwordNotInKeyring,
        keyringUnreadable,
        /// detail holds the keyring's own message.
        keyringUnwritable,
        keyringNotCleared,

        // The board record.
        /// The envelope older versions kept is not one.
        envelopeUnrecognised,
        /// The board record does not decode; detail says why.
        boardUnreadable,
        /// The record kept changing under this machine's writes.
        keptChanging,
    };

    CloudError(Kind what = Kind::refused, QString host = {}, int number = 0, QString more = {})
        : kind(what), server(std::move(host)), code(number), detail(std::move(more))
    {}

    Kind kind;
    /// The server's host, where one was asked.
    QString server;
    /// The HTTP status, the network error or a limit, as the kind says.
    int code;
    QString detail;

    friend bool operator==(const CloudError &, const CloudError &) = default;
};

/// The outcome of one asynchronous cloud operation: a value or an error.
template <typename T> class CloudResult
{
public:
    CloudResult(T value) : m_outcome(std::move(value)) {}
    CloudResult(CloudError error) : m_outcome(std::move(error)) {}

    bool hasValue() const { return m_outcome.index() == 0; }
    const T &value() const { return std::get<0>(m_outcome); }
    T &value() { return std::get<0>(m_outcome); }
    const CloudError &error() const { return std::get<1>(m_outcome); }

private:
    std::variant<T, CloudError> m_outcome;
};

/// The empty value of an operation that only succeeds or fails.
struct CloudDone
{
};

/// The board record as read at one version of the record.
struct CloudSnapshot
{
    enum class Kind {
        /// There is no board record yet.
        missing,
        /// The record holds a board.
        board,
        /// The record exists but cannot be read as a board; it is never merged nor overwritten.
        unreadable,
    };

    Kind kind = Kind::missing;
    Board board;
    /// The record's version as read; empty for a missing record.
    QByteArray version;
    /// Why an unreadable record cannot be read, as the decoder says.
    QString problem;
};

/// A record moved out of the way because it could not be read, kept beside the board record.
struct CloudAside
{
    /// The name the person finds in the cloud folder.
    QString name;
    /// When it was moved aside; invalid when the name does not say.
    QDateTime movedAt;
};

/// The cloud record of the board as the sync service sees it.
///
/// Every write is guarded by the version the writer last saw, so that a board written by another
/// machine in the meantime is never replaced by one that has not been merged with it.
///
/// Every operation is asynchronous and answers through its completion, which is called exactly
/// once, on the GUI thread, and never before the operation has returned. A completion is dropped
/// without being called only when the store itself is destroyed first.
class RemoteBoard
{
public:
    using AccountStatusCompletion = std::function<void(CloudResult<CloudAccountStatus>)>;
    using FetchCompletion = std::function<void(CloudResult<CloudSnapshot>)>;
    /// The version the record is now at, or empty when the server did not say.
    using SaveCompletion = std::function<void(CloudResult<QByteArray>)>;
    /// The record's current version, or empty when there is no record.
    using VersionCompletion = std::function<void(CloudResult<QByteArray>)>;
    /// Where the unreadable record went, as a name the person can find in the cloud folder.
    using MoveAsideCompletion = std::function<void(CloudResult<QString>)>;
    using AsidesCompletion = std::function<void(CloudResult<QList<CloudAside>>)>;
    using DoneCompletion = std::function<void(CloudResult<CloudDone>)>;

    virtual ~RemoteBoard() = default;

    virtual void accountStatus(AccountStatusCompletion completion) = 0;
    /// Reads the board record with its version.
    virtual void fetch(FetchCompletion completion) = 0;
    /// Writes \a board as the whole board into the record, keeping the record's other fields.
    /// With an empty \a basedOn the write only creates a record that does not exist yet;
    /// otherwise it only replaces the record while it is still at version \a basedOn. Either
    /// guard failing answers CloudError::Kind::changedElsewhere and writes nothing.
    virtual void save(const Board &board, const QByteArray &basedOn, SaveCompletion completion) = 0;
    /// Asks for the record's current version without reading the board.
    virtual void version(VersionCompletion completion) = 0;
    /// Moves the record, still at version \a version, out of the way under a new name, so that a
    /// board can be written in its place without destroying it.
    virtual void moveAside(const QByteArray &version, MoveAsideCompletion completion) = 0;
    /// The records moved aside so far.
    virtual void asides(AsidesCompletion completion) = 0;
    /// Reads the record moved aside as \a name, as fetch() reads the board record.
    virtual void fetchAside(const QString &name, FetchCompletion completion) = 0;
    virtual void removeAside(const QString &name, DoneCompletion completion) = 0;
};
