#pragma once

class BoardStore;
class SyncService;

/// Links the board store and the sync service, from the outside, so that neither calls the
/// other: the service starts from the store's board (its untouched samples named as such), every
/// change of the person's is handed to it for upload, and every board it merges is put in place.
/// Call it once per pair.
void linkStoreToSync(BoardStore &store, SyncService &service);
