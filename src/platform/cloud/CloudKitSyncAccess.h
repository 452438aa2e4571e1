#pragma once

#include <QByteArrayView>
#include <QString>

/// The entitlements this build carries. They are fixed when the application is built, the way
/// signing fixes them elsewhere: a build made without them never reaches the cloud.
namespace CloudKitSyncAccess {

/// The identifier of the application's cloud container; it names the folder the records live in.
QString containerIdentifier();

/// The entitlement document compiled into this build; empty in a build without entitlements.
QByteArrayView compiledEntitlements();

/// Whether this build may use the cloud record database. Evaluated afresh on every call.
bool hasCloudKitEntitlement();

/// Whether \a entitlementsJson grants the cloud services ("CloudKit" or "CloudKit-Anonymous" in
/// "com.apple.developer.icloud-services") for \a container (listed in
/// "com.apple.developer.icloud-container-identifiers"). Both must be arrays of strings; values
/// compare exactly. A document that does not parse grants nothing.
bool hasCloudKitEntitlement(QByteArrayView entitlementsJson, const QString &container);

} // namespace CloudKitSyncAccess
