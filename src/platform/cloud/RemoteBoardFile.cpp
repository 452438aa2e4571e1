#include "RemoteBoardFile.h"

#include <QJsonDocument>
#include <QJsonObject>

CloudResult<QByteArray> boardFileInEnvelope(const QByteArray &envelope)
{
    const QJsonObject record = QJsonDocument::fromJson(envelope).object();
    const QJsonObject payload =
        record.value(QLatin1String("fields")).toObject().value(QLatin1String("payload")).toObject();
    const QJsonValue value = payload.value(QLatin1String("value"));
    const auto decoded = QByteArray::fromBase64Encoding(value.toString().toLatin1(),
                                                        QByteArray::AbortOnBase64DecodingErrors);
    if (record.value(QLatin1String("recordType")).toString() != QLatin1String("BoardSnapshot") ||
        payload.value(QLatin1String("type")).toString() != QLatin1String("data") ||
        !value.isString() || !decoded) {
        return CloudError{CloudError::Kind::envelopeUnrecognised};
    }
    return decoded.decoded;
}
