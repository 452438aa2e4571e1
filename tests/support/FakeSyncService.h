#pragma once

#include "services/SyncService.h"

/// A sync service without a cloud that a test can put in any state.
class FakeSyncService : public SyncService
{
    Q_OBJECT

public:
    FakeSyncService() : SyncService(nullptr) {}
    void setStateForTest(const State &state) { setState(state); }
};
