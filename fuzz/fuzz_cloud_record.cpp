// A cloud record comes from a server Lumaret does not control. Reading one must never crash; a
// record that reads must write back to an envelope that reads the same, keeping every field.
#include "cloud/CloudRecord.h"
#include "stores/BoardCodec.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray json(reinterpret_cast<const char *>(data), qsizetype(size));
    const CloudResult<CloudRecord> read = CloudRecord::fromJson(json);
    if (!read.hasValue())
        return 0;
    const CloudRecord &record = read.value();
    if (const std::optional<QByteArray> payload = record.dataField(QStringLiteral("payload")))
        BoardCodec::decode(*payload);
    const CloudResult<CloudRecord> again = CloudRecord::fromJson(record.toJson());
    if (!again.hasValue() || again.value().fields != record.fields ||
        again.value().otherMembers != record.otherMembers ||
        again.value().recordName != record.recordName ||
        again.value().recordType != record.recordType)
        std::abort();
    return 0;
}
