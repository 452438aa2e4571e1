#include "SyncBuild.h"

namespace SyncBuild {

bool isSyncEnabled()
{
#ifdef LUMARET_SYNC
    return true;
#else
    return false;
#endif
}

} // namespace SyncBuild
