#include "CloudFakes.h"

#include <QCoreApplication>
#include <QTimer>

void MemoryCloud::releaseNext()
{
    if (!pending.isEmpty())
        pending.takeFirst()();
}

void MemoryCloud::writeFromElsewhere(const Board &board)
{
    record = CloudSnapshot{
        CloudSnapshot::Kind::board, board, QByteArray::number(++writes) + "-elsewhere", {}};
}

void MemoryCloudStore::answer(const QString &call, std::function<void()> effect,
                              std::function<void(const CloudError &)> fail)
{
    m_cloud->log.append(call);
    auto reply = [cloud = m_cloud, call, effect = std::move(effect), fail = std::move(fail)] {
        if (cloud->failures.contains(call))
            fail(cloud->failures.value(call));
        else
            effect();
    };
    if (m_cloud->answersAtOnce)
        QTimer::singleShot(0, QCoreApplication::instance(), std::move(reply));
    else
        m_cloud->pending.append(std::move(reply));
}

void MemoryCloudStore::accountStatus(AccountStatusCompletion completion)
{
    answer(
        QStringLiteral("accountStatus"),
        [completion, cloud = m_cloud] { completion(cloud->accountStatus); }, completion);
}

void MemoryCloudStore::fetch(FetchCompletion completion)
{
    answer(
        QStringLiteral("fetch"), [completion, cloud = m_cloud] { completion(cloud->record); },
        completion);
}

void MemoryCloudStore::save(const Board &board, const QByteArray &basedOn,
                            SaveCompletion completion)
{
    answer(
        QStringLiteral("save"),
        [completion, cloud = m_cloud, board, basedOn] {
            if (cloud->record.version != basedOn) {
                completion(CloudError{CloudErrorCode::serverRecordChanged,
                                      QStringLiteral("changed elsewhere")});
                return;
            }
            cloud->record = CloudSnapshot{
                CloudSnapshot::Kind::board, board, QByteArray::number(++cloud->writes), {}};
            completion(cloud->savesAnswerWithoutVersion ? QByteArray() : cloud->record.version);
        },
        completion);
}

void MemoryCloudStore::version(VersionCompletion completion)
{
    answer(
        QStringLiteral("version"),
        [completion, cloud = m_cloud] { completion(cloud->record.version); }, completion);
}

void MemoryCloudStore::moveAside(const QByteArray &version, MoveAsideCompletion completion)
{
    answer(
        QStringLiteral("moveAside"),
        [completion, cloud = m_cloud, version] {
            if (cloud->record.version != version) {
                completion(CloudError{CloudErrorCode::serverRecordChanged,
                                      QStringLiteral("changed elsewhere")});
                return;
            }
            cloud->record = CloudSnapshot{};
            completion(QStringLiteral("default-board.unreadable.json"));
        },
        completion);
}

SyncService::StartDelay ManualDelays::startDelay()
{
    return [this](std::chrono::milliseconds duration, std::function<void()> elapsed) {
        auto delay = std::make_shared<Delay>(Delay{m_now + duration, std::move(elapsed)});
        m_delays->append(delay);
        return [delay] { delay->isCancelled = true; };
    };
}

void ManualDelays::advance(std::chrono::milliseconds duration)
{
    const std::chrono::milliseconds target = m_now + duration;
    for (;;) {
        std::shared_ptr<Delay> next;
        for (const auto &delay : *m_delays) {
            if (!delay->isCancelled && delay->dueAt <= target &&
                (!next || delay->dueAt < next->dueAt))
                next = delay;
        }
        if (!next)
            break;
        m_now = next->dueAt;
        m_delays->removeOne(next);
        next->elapsed();
    }
    m_now = target;
    m_delays->removeIf([](const auto &delay) { return delay->isCancelled; });
}

int ManualDelays::pendingCount() const
{
    int count = 0;
    for (const auto &delay : *m_delays)
        count += delay->isCancelled ? 0 : 1;
    return count;
}
