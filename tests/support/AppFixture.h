#pragma once

#include "BoardFixtures.h"
#include "FakeSettings.h"
#include "LumaretApp.h"
#include "ScriptedIdentityProvider.h"
#include "services/RemoteBoard.h"
#include "stores/BoardStore.h"

/// The application's own launch and wiring over \a board kept in memory, settings of the test's
/// own, a sign-in provider that answers nothing by itself, and no cloud.
struct AppFixture
{
    using Script = ScriptedIdentityProvider::Script;
    RecordingPersistence persistence;
    FakeSettings settings;
    std::unique_ptr<LumaretApp> app;

    explicit AppFixture(const Board &board)
    {
        persistence.stored = board;
        app = std::make_unique<LumaretApp>(beginLaunch(AppDependencies{
            persistence.persistence(),
            [] { return std::make_unique<ScriptedIdentityProvider>(std::make_shared<Script>()); },
            [this] { return settings.open(); }, [] { return std::unique_ptr<RemoteBoard>(); }}));
    }
    AppServices services() const { return app->services(); }
    BoardStore *store() const { return app->services().store; }
};
