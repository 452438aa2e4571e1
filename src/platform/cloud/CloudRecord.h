#pragma once

#include "services/CloudKitThoughtSyncing.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>

#include <optional>

/// One record of the cloud record database as it travels: a JSON envelope holding the record's
/// name, its type and its typed fields, e.g.
///   {"recordName":"default-board","recordType":"BoardSnapshot",
///    "fields":{"payload":{"type":"data","value":"<base64>"},
///              "updatedAt":{"type":"date","value":"2026-03-01T09:00:00Z"}}}
/// Fields and envelope members this application does not know are carried through untouched, so
/// saving a fetched record never drops what another writer put there.
struct CloudRecord
{
    QString recordName;
    QString recordType;
    /// Every field, typed, exactly as read; set...Field() replaces one entry.
    QJsonObject fields;
    /// Envelope members other than the three above.
    QJsonObject otherMembers;

    /// Whether this record was read from the server; a record made here is created on save.
    bool isOnServer = false;
    /// The server's strong version tag of the record as read, or empty when the server gave none
    /// or only a weak one. A record on the server without one cannot be saved safely.
    QByteArray versionTag;
    /// Why what the server holds under this record's name is not a record, worded for the
    /// person; empty when it is one. Such a record has only its name and version.
    QString unreadableProblem;

    /// The bytes of a data field, or nothing when the field is missing or holds no data value.
    std::optional<QByteArray> dataField(const QString &key) const;
    /// Whether the field is typed as data, whether or not its value can be read.
    bool isDataField(const QString &key) const;
    void setDataField(const QString &key, const QByteArray &bytes);
    void setDateField(const QString &key, const QDateTime &date);

    QByteArray toJson() const;
    /// Reads an envelope; fails with CloudErrorCode::invalidRecord when \a json is not one.
    static CloudResult<CloudRecord> fromJson(const QByteArray &json);
};
