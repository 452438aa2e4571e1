#include "CloudFakes.h"

#include <QCoreApplication>
#include <QTimer>

void CloudScript::releaseNext()
{
    if (!pending.isEmpty())
        pending.takeFirst()();
}

void CloudScript::releaseAll()
{
    while (!pending.isEmpty())
        releaseNext();
}

void FakeCloudStore::answer(std::function<void()> reply)
{
    if (m_script->answersAtOnce)
        QTimer::singleShot(0, QCoreApplication::instance(), std::move(reply));
    else
        m_script->pending.append(std::move(reply));
}

void FakeCloudStore::accountStatus(AccountStatusCompletion completion)
{
    m_script->log.append(QStringLiteral("accountStatus"));
    answer([completion, result = m_script->accountStatus] { completion(result); });
}

void FakeCloudStore::fetch(FetchCompletion completion)
{
    m_script->log.append(QStringLiteral("fetch"));
    answer([completion, result = m_script->fetch] { completion(result); });
}

void FakeCloudStore::save(const Board &board, SaveCompletion completion)
{
    m_script->log.append(QStringLiteral("save"));
    m_script->savedBoards.append(board);
    answer([completion, result = m_script->save] { completion(result); });
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
