#pragma once

#include "services/RemoteBoard.h"

#include <QByteArray>
#include <QString>

/// One board file on the server as it travels: the bytes exactly as the local board file holds
/// them, so that a person, a script or a backup reads the same board on both sides, and the
/// version the server gave those bytes.
struct RemoteBoardFile
{
    /// The file's name in the board folder, without ".json".
    QString recordName;
    QByteArray body;

    /// Whether this record was read from the server; a record made here is created on save.
    bool isOnServer = false;
    /// The server's strong version tag of the record as read, or empty when the server gave none
    /// or only a weak one. A record on the server without one cannot be saved safely.
    QByteArray versionTag;
};

/// The board file inside the JSON envelope older versions kept on the server, e.g.
///   {"recordName":"default-board","recordType":"BoardSnapshot",
///    "fields":{"payload":{"type":"data","value":"<base64>"}, ...}}
/// It is only ever read, to carry such a board over; fails with
/// CloudError::Kind::envelopeUnrecognised when \a envelope is not one.
CloudResult<QByteArray> boardFileInEnvelope(const QByteArray &envelope);
