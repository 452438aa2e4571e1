#include "BoardStore.h"

#include <QHash>

#include <algorithm>
#include <utility>
#include <vector>

namespace {

// Whether no character but \a c itself folds to \a c: ASCII other than letters, and letters
// without case (Chinese, Japanese kana, Hangul …), which no case folding produces.
bool isCaseless(QChar c)
{
    if (c.unicode() < 0x80)
        return !((c.unicode() | 0x20) >= 'a' && (c.unicode() | 0x20) <= 'z');
    return c.category() == QChar::Letter_Other;
}

/// Whether a thought shows for a search: its title, note or column title holds the query,
/// case-insensitively.
class SearchMatcher
{
public:
    explicit SearchMatcher(const QString &query) : m_query(query)
    {
        // A query of caseless characters matches exactly where it matches case-sensitively, and
        // the case-sensitive search is several times faster: it runs on every keystroke over
        // every thought.
        const bool caseless = std::all_of(query.cbegin(), query.cend(), isCaseless);
        m_sensitivity = caseless ? Qt::CaseSensitive : Qt::CaseInsensitive;
        for (ThoughtStatus status : ThoughtStatuses::allCases) {
            m_columnMatches[size_t(status)] =
                ThoughtStatuses::title(status).contains(query, Qt::CaseInsensitive);
        }
    }

    bool matches(const Thought &thought) const
    {
        return thought.title.contains(m_query, m_sensitivity) ||
               thought.note.contains(m_query, m_sensitivity) ||
               m_columnMatches[size_t(thought.status)];
    }

private:
    QString m_query;
    Qt::CaseSensitivity m_sensitivity;
    std::array<bool, 4> m_columnMatches{};
};

} // namespace

BoardStore::BoardStore(BoardPersistence persistence, QObject *parent)
    : QObject(parent), m_persistence(std::move(persistence))
{
    LoadedBoard loaded = m_persistence.load ? m_persistence.load() : LoadedBoard();
    m_loadProblem = loaded.problem;
    if (loaded.board) {
        m_thoughts = std::move(*loaded.board);
    } else if (!m_loadProblem) {
        m_samples = m_thoughts = sampleThoughts();
    }
    m_saved = m_thoughts;
    m_retryTimer = new QTimer(this);
    m_retryTimer->setInterval(retryInterval);
    connect(m_retryTimer, &QTimer::timeout, this, &BoardStore::retrySave);
}

BoardStore::~BoardStore() = default;

void BoardStore::setSearchText(const QString &text)
{
    if (m_searchText == text)
        return;
    m_searchText = text;
    emit searchTextChanged();
}

Board BoardStore::visibleThoughts() const
{
    const QString query = m_searchText.trimmed();
    const SearchMatcher matcher(query);
    Board visible;
    visible.reserve(m_thoughts.size());
    for (const Thought &thought : m_thoughts) {
        if (!thought.isDeleted && (query.isEmpty() || matcher.matches(thought)))
            visible.append(thought);
    }
    return visible;
}

ThoughtsByStatus BoardStore::visibleThoughtsByStatus() const
{
    // Two passes: the first decides which thoughts show, the second copies them into columns
    // allocated at their exact sizes. The columns live as long as the board shows them, and
    // growing them one thought at a time would copy them over and over and leave them with up to
    // twice the room they need.
    const QString query = m_searchText.trimmed();
    const SearchMatcher matcher(query);
    std::vector<bool> shown(size_t(m_thoughts.size()));
    std::array<qsizetype, 4> counts{};
    for (qsizetype i = 0; i < m_thoughts.size(); ++i) {
        const Thought &thought = m_thoughts[i];
        if (!thought.isDeleted && (query.isEmpty() || matcher.matches(thought))) {
            shown[size_t(i)] = true;
            ++counts[size_t(thought.status)];
        }
    }
    ThoughtsByStatus byStatus;
    for (size_t column = 0; column < counts.size(); ++column)
        byStatus.columns[column].reserve(counts[column]);
    for (qsizetype i = 0; i < m_thoughts.size(); ++i) {
        if (shown[size_t(i)])
            byStatus[m_thoughts[i].status].append(m_thoughts[i]);
    }
    return byStatus;
}

void BoardStore::addQuickThought(const QString &text)
{
    addQuickThoughts({text});
}

qsizetype BoardStore::addQuickThoughts(const QStringList &texts)
{
    const QDateTime now = m_clock();
    Board added;
    QList<QUuid> ids;
    for (const QString &text : texts) {
        const QString title = text.trimmed();
        if (title.isEmpty())
            continue;
        const QUuid id = QUuid::createUuid();
        // As if typed one after another into the composer: the last one ends up on top.
        added.prepend(Thought{id, title, QString(), ThoughtStatus::notStarted, now, now, false});
        ids.append(id);
    }
    if (added.isEmpty())
        return 0;
    m_thoughts = added + m_thoughts;
    persist(Change::add, ids);
    return added.size();
}

void BoardStore::update(const Thought &thought, const QString &title, const QString &note,
                        ThoughtStatus status)
{
    const qsizetype index = indexOf(thought.id);
    if (index < 0)
        return;
    const QString trimmedTitle = title.trimmed();
    if (trimmedTitle.isEmpty())
        return;
    Thought &stored = m_thoughts[index];
    stored.title = trimmedTitle;
    stored.note = note.trimmed();
    stored.status = status;
    stored.updatedAt = editTime(stored);
    persist(Change::edit, {thought.id});
}

void BoardStore::deleteThought(const Thought &thought)
{
    const qsizetype index = indexOf(thought.id);
    if (index < 0)
        return;
    m_thoughts[index].isDeleted = true;
    m_thoughts[index].updatedAt = editTime(m_thoughts[index]);
    persist(Change::remove, {thought.id});
}

void BoardStore::archiveCompleted()
{
    const QDateTime now = m_clock();
    QList<QUuid> archived;
    for (Thought &thought : m_thoughts) {
        if (thought.status == ThoughtStatus::completed && !thought.isDeleted) {
            thought.status = ThoughtStatus::archived;
            thought.updatedAt = std::max(now, editTime(thought));
            archived.append(thought.id);
        }
    }
    persist(Change::archive, archived);
}

void BoardStore::move(const QUuid &id, ThoughtStatus status, const std::optional<QUuid> &before)
{
    if (before && *before == id)
        return;
    place(id, status, Placement{before});
}

void BoardStore::advance(const QUuid &id)
{
    const auto it = std::find_if(m_thoughts.cbegin(), m_thoughts.cend(),
                                 [&](const Thought &t) { return t.id == id && !t.isDeleted; });
    if (it == m_thoughts.cend())
        return;
    const ThoughtStatus next = ThoughtStatuses::next(it->status);
    if (next == it->status)
        return;
    place(id, next, Placement{});
}

void BoardStore::place(const QUuid &id, ThoughtStatus status, const Placement &placement)
{
    const qsizetype from = indexOf(id);
    if (from < 0)
        return;
    Thought moved = m_thoughts.takeAt(from);
    if (moved.status != status) {
        moved.status = status;
        moved.updatedAt = editTime(moved);
    }
    qsizetype to = placement.before ? indexOf(*placement.before) : -1;
    if (to < 0)
        to = endIndex(status);
    m_thoughts.insert(qMin(to, m_thoughts.size()), std::move(moved));
    persist(Change::move, {id});
}

QDateTime BoardStore::editTime(const Thought &replaced) const
{
    // A clock that runs behind must still order this machine's edit after the version it
    // replaces, which may come from a machine whose clock runs ahead.
    return std::max(m_clock(), replaced.updatedAt.addSecs(1));
}

qsizetype BoardStore::endIndex(ThoughtStatus status) const
{
    // Tombstones count: a deleted thought of the column is still a valid anchor.
    for (qsizetype i = m_thoughts.size() - 1; i >= 0; --i) {
        if (m_thoughts[i].status == status)
            return i + 1;
    }
    return m_thoughts.size();
}

qsizetype BoardStore::indexOf(const QUuid &id) const
{
    for (qsizetype i = 0; i < m_thoughts.size(); ++i) {
        if (m_thoughts[i].id == id)
            return i;
    }
    return -1;
}

void BoardStore::restore(const Board &board)
{
    const QDateTime now = m_clock();
    QHash<QUuid, Thought> current;
    for (const Thought &thought : std::as_const(m_thoughts))
        current.insert(thought.id, thought);
    Board restored;
    restored.reserve(board.size());
    QList<QUuid> ids;
    for (Thought thought : board) {
        const auto found = current.constFind(thought.id);
        if (found == current.cend() || *found != thought) {
            thought.updatedAt = found == current.cend() ? now : std::max(now, editTime(*found));
            ids.append(thought.id);
        }
        current.remove(thought.id);
        restored.append(std::move(thought));
    }
    for (const Thought &thought : std::as_const(m_thoughts)) {
        if (current.contains(thought.id))
            restored.append(thought);
    }
    m_thoughts = std::move(restored);
    persist(Change::restore, ids);
}

void BoardStore::persist(Change change, const QList<QUuid> &ids)
{
    // The file first: whatever a view or the sync service does with the change, it is on disk.
    save();
    emit thoughtsChanged();
    const Board before = std::exchange(m_saved, m_thoughts);
    emit changed(change, before, ids);
}

Board BoardStore::untouchedSamples() const
{
    Board untouched;
    for (const Thought &sample : m_samples) {
        if (m_thoughts.contains(sample))
            untouched.append(sample);
    }
    return untouched;
}

void BoardStore::applyRemote(const Board &board)
{
    // Whatever the cloud held, the board is now shared: a sample left on it is shared content.
    m_samples.clear();
    // An equal board is stored without telling anyone, but it is saved all the same: the file
    // must hold what the cloud now holds.
    if (m_thoughts != board) {
        QHash<QUuid, Thought> previous;
        for (const Thought &thought : std::as_const(m_thoughts))
            previous.insert(thought.id, thought);
        QSet<QUuid> changedIds;
        for (const Thought &thought : board) {
            const auto found = previous.constFind(thought.id);
            if (found == previous.cend() || *found != thought)
                changedIds.insert(thought.id);
        }
        m_thoughts = board;
        m_saved = m_thoughts;
        emit thoughtsChanged();
        emit remoteApplied(changedIds);
    }
    save();
}

void BoardStore::save()
{
    if (!m_persistence.save)
        return;
    const SavedBoard saved = m_persistence.save(m_thoughts);
    const bool movedAside = !saved.movedAside.isEmpty();
    if (movedAside)
        m_movedAsidePath = saved.movedAside;
    if (saved.problem != m_saveProblem || movedAside) {
        m_saveProblem = saved.problem;
        emit fileStateChanged();
    }
    // A board the disk refused stays in memory and is offered to the disk again and again: a
    // full disk or a folder made read-only is often set right while the window stays open.
    if (m_saveProblem && !m_retryTimer->isActive())
        m_retryTimer->start();
    else if (!m_saveProblem)
        m_retryTimer->stop();
}

bool BoardStore::retrySave()
{
    if (m_saveProblem)
        save();
    return !m_saveProblem;
}

std::optional<BoardFileProblem> BoardStore::saveCopy(const QString &path) const
{
    return BoardPersistence::file(path).save(m_thoughts).problem;
}

Board BoardStore::sampleThoughts() const
{
    const QDateTime now = m_clock();
    return {
        Thought{QUuid::createUuid(), QStringLiteral("把今天冒出来的产品灵感先放进这里"),
                QStringLiteral("短句就够，之后再整理。"), ThoughtStatus::notStarted,
                now.addSecs(-7200), now.addSecs(-7200), false},
        Thought{QUuid::createUuid(), QStringLiteral("研究 WebDAV 云端同步结构"),
                QStringLiteral("下一阶段让几台电脑共享同一批想法。"), ThoughtStatus::inProgress,
                now.addSecs(-5400), now.addSecs(-1200), false},
        Thought{QUuid::createUuid(), QStringLiteral("确定四列看板状态"), QString(),
                ThoughtStatus::completed, now.addSecs(-3600), now.addSecs(-900), false},
    };
}
