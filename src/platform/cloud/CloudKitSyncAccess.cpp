#include "CloudKitSyncAccess.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <optional>

namespace {

std::optional<QStringList> stringArray(const QJsonObject &entitlements, const QString &key)
{
    const QJsonValue value = entitlements.value(key);
    if (!value.isArray())
        return std::nullopt;
    QStringList strings;
    for (const QJsonValue &element : value.toArray()) {
        if (!element.isString())
            return std::nullopt;
        strings.append(element.toString());
    }
    return strings;
}

} // namespace

namespace CloudKitSyncAccess {

QString containerIdentifier()
{
    return QStringLiteral("iCloud.app.lumaret");
}

QByteArrayView compiledEntitlements()
{
#ifdef LUMARET_CLOUD_ENTITLEMENTS
    return R"({"com.apple.developer.icloud-services":["CloudKit"],)"
           R"("com.apple.developer.icloud-container-identifiers":["iCloud.app.lumaret"]})";
#else
    return {};
#endif
}

bool hasCloudKitEntitlement()
{
    return hasCloudKitEntitlement(compiledEntitlements(), containerIdentifier());
}

bool hasCloudKitEntitlement(QByteArrayView entitlementsJson, const QString &container)
{
    QJsonParseError parseError;
    const QJsonDocument document =
        QJsonDocument::fromJson(entitlementsJson.toByteArray(), &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        return false;
    const QJsonObject entitlements = document.object();

    const std::optional<QStringList> services =
        stringArray(entitlements, QStringLiteral("com.apple.developer.icloud-services"));
    if (!services || (!services->contains(QStringLiteral("CloudKit")) &&
                      !services->contains(QStringLiteral("CloudKit-Anonymous"))))
        return false;

    const std::optional<QStringList> containers = stringArray(
        entitlements, QStringLiteral("com.apple.developer.icloud-container-identifiers"));
    return containers && containers->contains(container);
}

} // namespace CloudKitSyncAccess
