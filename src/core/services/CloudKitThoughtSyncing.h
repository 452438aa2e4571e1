#pragma once

#include "models/Thought.h"

/// The cloud record of the board as the sync service sees it: account status, fetch and save,
/// all asynchronous and able to fail.
class CloudKitThoughtSyncing
{
public:
    virtual ~CloudKitThoughtSyncing() = default;
};
