#pragma once

/// Whether this build may sync at all. It is fixed when Lumaret is built (the CMake option
/// LUMARET_SYNC, on by default): a build without it keeps the board on this machine only, whatever
/// account is configured.
namespace SyncBuild {

bool isSyncEnabled();

} // namespace SyncBuild
