#pragma once

#include "ThoughtStatus.h"

#include <QDateTime>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QUuid>

/// One card of the board. A plain value: every change to a thought goes through BoardStore.
struct Thought
{
    QUuid id;
    QString title;
    QString note;
    ThoughtStatus status = ThoughtStatus::notStarted;
    QDateTime createdAt;
    QDateTime updatedAt;
    bool isDeleted = false;

    /// Equal when all seven fields are; texts compare by Unicode canonical equivalence, so a
    /// title typed precomposed equals the same title typed with combining marks.
    friend bool operator==(const Thought &lhs, const Thought &rhs);
};

/// The whole board: every thought, tombstones included, in board order.
using Board = QList<Thought>;

size_t qHash(const Thought &thought, size_t seed = 0) noexcept;

/// The standard textual form of an id as stored: upper case, no braces.
QString uuidText(const QUuid &id);

Q_DECLARE_METATYPE(Thought)
