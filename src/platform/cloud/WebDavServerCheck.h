#pragma once

#include "cloud/WebDavClient.h"

/// Checks on a scratch file \a scratch inside the collection that the server gives strong version
/// tags and refuses writes whose If-Match or If-None-Match does not hold; without that, no write
/// could be guarded. The scratch file is removed whatever the answer.
void checkConditionalWrites(WebDavClient &client, const QUrl &scratch,
                            std::function<void(CloudResult<CloudDone>)> completion);
