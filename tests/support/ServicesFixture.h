#pragma once

#include "AppServices.h"
#include "BoardFixtures.h"
#include "FakeSettings.h"
#include "ScriptedIdentityProvider.h"
#include "services/SignInService.h"
#include "services/StoreSyncLink.h"
#include "services/SyncService.h"
#include "stores/BoardStore.h"

/// The three services the views reach, wired as the application wires them, over \a board kept in
/// memory, settings of the test's own, a sign-in provider that answers nothing by itself, and no
/// cloud: what a view needs without the application around it.
struct ServicesFixture
{
    RecordingPersistence persistence;
    FakeSettings settings;
    std::unique_ptr<BoardStore> boardStore;
    std::unique_ptr<SignInService> signIn;
    SyncService sync;

    explicit ServicesFixture(const Board &board)
    {
        persistence.stored = board;
        boardStore = std::make_unique<BoardStore>(persistence.persistence());
        signIn = std::make_unique<SignInService>(
            std::make_unique<ScriptedIdentityProvider>(
                std::make_shared<ScriptedIdentityProvider::Script>()),
            settings.open());
        linkStoreToSync(*boardStore, sync);
    }
    AppServices services() { return {boardStore.get(), signIn.get(), &sync}; }
    BoardStore *store() const { return boardStore.get(); }
};
