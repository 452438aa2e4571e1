#pragma once

#include "services/SyncService.h"

/// A sync service without a cloud that counts how often it is started and lets a test put it in
/// any state.
class FakeSyncService : public SyncService
{
    Q_OBJECT

public:
    using SyncService::SyncService;

    void start(const Board &localThoughts, ApplyRemote applyRemote, LocalBoard origin) override
    {
        Q_UNUSED(localThoughts);
        Q_UNUSED(applyRemote);
        Q_UNUSED(origin);
        ++startCount;
    }
    void scheduleUpload(const Board &board) override { uploads.append(board); }

    void setStateForTest(const State &state) { setState(state); }

    int startCount = 0;
    QList<Board> uploads;
};
