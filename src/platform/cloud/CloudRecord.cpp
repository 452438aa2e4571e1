#include "CloudRecord.h"

#include "stores/BoardCodec.h"

#include <QJsonDocument>

namespace {

const QString recordNameKey = QStringLiteral("recordName");
const QString recordTypeKey = QStringLiteral("recordType");
const QString fieldsKey = QStringLiteral("fields");
const QString typeKey = QStringLiteral("type");
const QString valueKey = QStringLiteral("value");

CloudError invalidRecord(const QString &detail)
{
    return CloudError{CloudErrorCode::invalidRecord,
                      QStringLiteral("云端的看板记录格式无法识别（%1）").arg(detail)};
}

} // namespace

std::optional<QByteArray> CloudRecord::dataField(const QString &key) const
{
    const QJsonObject field = fields.value(key).toObject();
    const QJsonValue value = field.value(valueKey);
    if (field.value(typeKey).toString() != QStringLiteral("data") || !value.isString())
        return std::nullopt;
    const auto decoded = QByteArray::fromBase64Encoding(value.toString().toLatin1(),
                                                        QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    return decoded.decoded;
}

bool CloudRecord::isDataField(const QString &key) const
{
    return fields.value(key).toObject().value(typeKey).toString() == QStringLiteral("data");
}

void CloudRecord::setDataField(const QString &key, const QByteArray &bytes)
{
    fields.insert(key, QJsonObject{{typeKey, QStringLiteral("data")},
                                   {valueKey, QString::fromLatin1(bytes.toBase64())}});
}

void CloudRecord::setDateField(const QString &key, const QDateTime &date)
{
    fields.insert(key, QJsonObject{{typeKey, QStringLiteral("date")},
                                   {valueKey, QString::fromLatin1(BoardCodec::formatDate(date))}});
}

QByteArray CloudRecord::toJson() const
{
    QJsonObject envelope = otherMembers;
    envelope.insert(recordNameKey, recordName);
    envelope.insert(recordTypeKey, recordType);
    envelope.insert(fieldsKey, fields);
    return QJsonDocument(envelope).toJson(QJsonDocument::Compact);
}

CloudResult<CloudRecord> CloudRecord::fromJson(const QByteArray &json)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return invalidRecord(parseError.errorString());
    if (!document.isObject())
        return invalidRecord(QStringLiteral("不是 JSON 对象"));
    QJsonObject envelope = document.object();
    const QJsonValue name = envelope.take(recordNameKey);
    const QJsonValue type = envelope.take(recordTypeKey);
    const QJsonValue fields = envelope.take(fieldsKey);
    if (!name.isString() || !type.isString())
        return invalidRecord(QStringLiteral("缺少记录名称或类型"));
    if (!fields.isUndefined() && !fields.isObject())
        return invalidRecord(QStringLiteral("字段不是 JSON 对象"));

    CloudRecord record;
    record.recordName = name.toString();
    record.recordType = type.toString();
    record.fields = fields.toObject();
    record.otherMembers = envelope;
    return record;
}
