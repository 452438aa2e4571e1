#include "SyncService.h"

#include "CloudKitThoughtSyncing.h"

SyncService::SyncService(std::unique_ptr<CloudKitThoughtSyncing> cloudKit, QObject *parent)
    : QObject(parent), m_cloudKit(std::move(cloudKit))
{
}

SyncService::~SyncService() = default;

void SyncService::start(const Board &localThoughts, ApplyRemote applyRemote)
{
    Q_UNUSED(localThoughts);
    Q_UNUSED(applyRemote);
    if (m_hasStarted)
        return;
    m_hasStarted = true;
    // FIXME: pull, merge, apply and upload once the cloud record store exists.
    setState(State::localOnly());
}

void SyncService::scheduleUpload(const Board &board)
{
    Q_UNUSED(board);
    setState(State::localOnly());
}

void SyncService::setState(const State &state)
{
    if (m_state == state)
        return;
    m_state = state;
    emit stateChanged();
}
