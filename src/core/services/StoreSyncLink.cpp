#include "StoreSyncLink.h"

#include "services/SyncService.h"
#include "stores/BoardStore.h"

#include <QPointer>

void linkStoreToSync(BoardStore &store, SyncService &service)
{
    QPointer<BoardStore> target(&store);
    service.start(
        store.thoughts(),
        [target](const Board &board) {
            if (target)
                target->applyRemote(board);
        },
        store.untouchedSamples());
    // A merged board put in place is no change of the person's: only their changes go up.
    QObject::connect(&store, &BoardStore::changed, &service,
                     [&service, target] { service.scheduleUpload(target->thoughts()); });
}
