#include "Thought.h"

#include <QHash>

namespace {

bool isCanonicallyEqual(const QString &lhs, const QString &rhs)
{
    if (lhs == rhs)
        return true;
    // Equal code units, the common case, settle it without normalising.
    return lhs.normalized(QString::NormalizationForm_C) ==
           rhs.normalized(QString::NormalizationForm_C);
}

size_t canonicalHash(const QString &text, size_t seed)
{
    if (text.isEmpty())
        return qHash(text, seed);
    return qHash(text.normalized(QString::NormalizationForm_C), seed);
}

} // namespace

bool operator==(const Thought &lhs, const Thought &rhs)
{
    return lhs.id == rhs.id && lhs.status == rhs.status && lhs.isDeleted == rhs.isDeleted &&
           lhs.createdAt == rhs.createdAt && lhs.updatedAt == rhs.updatedAt &&
           isCanonicallyEqual(lhs.title, rhs.title) && isCanonicallyEqual(lhs.note, rhs.note);
}

size_t qHash(const Thought &thought, size_t seed) noexcept
{
    QtPrivate::QHashCombine combine;
    seed = combine(seed, thought.id);
    seed = canonicalHash(thought.title, seed);
    seed = canonicalHash(thought.note, seed);
    seed = combine(seed, ThoughtStatuses::rawValue(thought.status));
    seed = combine(seed, thought.createdAt.toMSecsSinceEpoch());
    seed = combine(seed, thought.updatedAt.toMSecsSinceEpoch());
    seed = combine(seed, thought.isDeleted);
    return seed;
}

QString uuidText(const QUuid &id)
{
    return id.toString(QUuid::WithoutBraces).toUpper();
}
