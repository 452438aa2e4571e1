#pragma once

#include "models/Thought.h"

#include <QString>

#include <functional>
#include <optional>
#include <variant>

/// The availability of the cloud account, with the raw values of the platform's account status.
enum class CloudAccountStatus : int {
    couldNotDetermine = 0,
    available = 1,
    restricted = 2,
    noAccount = 3,
    temporarilyUnavailable = 4,
};

/// Why a cloud operation failed. The numeric values follow the cloud record database's error codes
/// where one exists, so that a code read in a log means the same thing everywhere.
enum class CloudErrorCode : int {
    internalError = 1,
    networkUnavailable = 3,
    networkFailure = 4,
    serviceUnavailable = 6,
    requestRateLimited = 7,
    notAuthenticated = 9,
    permissionFailure = 10,
    unknownItem = 11,
    serverRecordChanged = 14,
    serverRejectedRequest = 15,
    quotaExceeded = 25,
    limitExceeded = 27,
    /// The record or its payload could not be read as a board; not a database code.
    invalidRecord = 1001,
};

/// A failed cloud operation: its code and the text the interface shows, already worded for the
/// person using the application.
struct CloudError
{
    CloudErrorCode code = CloudErrorCode::internalError;
    QString localizedDescription;

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

/// The cloud record of the board as the sync service sees it: account status, fetch and save.
///
/// Every operation is asynchronous and answers through its completion, which is called exactly
/// once, on the GUI thread, and never before the operation has returned. A completion is dropped
/// without being called only when the store itself is destroyed first.
class CloudKitThoughtSyncing
{
public:
    using AccountStatusCompletion = std::function<void(CloudResult<CloudAccountStatus>)>;
    /// The board in the cloud, or nothing when there is no board record yet.
    using FetchCompletion = std::function<void(CloudResult<std::optional<Board>>)>;
    using SaveCompletion = std::function<void(CloudResult<CloudDone>)>;

    virtual ~CloudKitThoughtSyncing() = default;

    virtual void accountStatus(AccountStatusCompletion completion) = 0;
    /// Reads the board record. A missing record is not an error; a payload that does not decode
    /// is, and nothing of it is handed on.
    virtual void fetch(FetchCompletion completion) = 0;
    /// Writes \a board as the whole board into the record, keeping the record's other fields.
    /// The write is conditional on the version read just before it; a record changed on the server
    /// in between fails with CloudErrorCode::serverRecordChanged. Nothing is retried.
    virtual void save(const Board &board, SaveCompletion completion) = 0;
};
