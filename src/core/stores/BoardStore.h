#pragma once

#include "models/Thought.h"
#include "stores/BoardPersistence.h"

#include <QObject>
#include <QSet>
#include <QTimer>

#include <array>
#include <chrono>
#include <functional>
#include <optional>

/// The visible thoughts grouped by column; there is always a list for each of the four statuses.
struct ThoughtsByStatus
{
    std::array<Board, 4> columns;

    Board &operator[](ThoughtStatus status) { return columns[size_t(status)]; }
    const Board &operator[](ThoughtStatus status) const { return columns[size_t(status)]; }
};

/// The single owner of the board while the application runs. Every change to a thought goes
/// through one of its operations, which saves the whole board at once and announces it (the
/// application hands it on to the sync service).
class BoardStore : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString searchText READ searchText WRITE setSearchText NOTIFY searchTextChanged)

public:
    using Clock = std::function<QDateTime()>;

    /// Loads the board at once; with no board file the board starts with three sample thoughts,
    /// which reach the file only with the first change. A board file that exists but cannot be
    /// used leaves the board empty (see loadProblem()): the samples greet only a first launch.
    explicit BoardStore(BoardPersistence persistence, QObject *parent = nullptr);
    ~BoardStore() override;

    /// Every thought, tombstones included, in board order.
    const Board &thoughts() const { return m_thoughts; }

    QString searchText() const { return m_searchText; }
    void setSearchText(const QString &text);

    /// The live thoughts that match the trimmed search text (title, note or column title,
    /// case-insensitively), in board order.
    Board visibleThoughts() const;
    ThoughtsByStatus visibleThoughtsByStatus() const;

    void addQuickThought(const QString &text);
    /// Adds each text as addQuickThought() would, the last on top, as one change with one save.
    /// Returns how many thoughts were added.
    qsizetype addQuickThoughts(const QStringList &texts);
    void update(const Thought &thought, const QString &title, const QString &note,
                ThoughtStatus status);
    void deleteThought(const Thought &thought);
    void archiveCompleted();

    /// Moves a thought into \a status, before the thought \a before or, without one, to the end of
    /// that column. Dropping a card on itself does nothing.
    void move(const QUuid &id, ThoughtStatus status, const std::optional<QUuid> &before);
    /// Moves a live thought to the end of the next column; archived thoughts stay put.
    void advance(const QUuid &id);

    /// Puts \a board in place as one change of the person's, saved and uploaded like any other.
    /// Every thought of \a board that differs from the one on the board gets the current time as
    /// updatedAt, so that it wins the next merge; thoughts on the board that \a board lacks are
    /// kept, at the end, so that nothing is lost.
    void restore(const Board &board);

    /// The board file that existed at launch but could not be used, if any; the board then started
    /// empty and the file is kept until the first save moves it aside to movedAsidePath().
    const std::optional<BoardFileProblem> &loadProblem() const { return m_loadProblem; }
    QString movedAsidePath() const { return m_movedAsidePath; }
    /// Why the last save failed, while the board in memory is newer than the file. Saving is
    /// tried again with every change and every retryInterval until it succeeds.
    const std::optional<BoardFileProblem> &saveProblem() const { return m_saveProblem; }
    bool hasUnsavedChanges() const { return m_saveProblem.has_value(); }
    /// Tries the failed save again now; true when the board is on disk.
    bool retrySave();
    /// Writes the board as it is to \a path, for a person who cannot save it in its own place.
    std::optional<BoardFileProblem> saveCopy(const QString &path) const;

    static constexpr std::chrono::seconds retryInterval{5};

    /// Puts a board merged with the cloud in place: saved, but no change of the person's (it
    /// is neither uploaded again nor an undo step).
    void applyRemote(const Board &board);
    /// The sample thoughts of a first start still on the board exactly as they were made.
    Board untouchedSamples() const;

    /// For tests and benchmarks that need a fixed "now".
    void setClock(Clock clock) { m_clock = std::move(clock); }

    /// What a change of the person's was, as the undo history names it.
    enum class Change { add, edit, remove, move, archive, restore };
    Q_ENUM(Change)

signals:
    void thoughtsChanged();
    /// A change of the person's has been saved: \a before is the board as it was, \a ids the
    /// thoughts the change touched.
    void changed(BoardStore::Change change, const Board &before, const QList<QUuid> &ids);
    /// A merged board from the cloud has been applied; \a ids are the thoughts whose values it
    /// changed.
    void remoteApplied(const QSet<QUuid> &ids);
    /// saveProblem() or movedAsidePath() changed.
    void fileStateChanged();
    void searchTextChanged();

private:
    struct Placement
    {
        /// Nothing means the end of the column.
        std::optional<QUuid> before;
    };

    void place(const QUuid &id, ThoughtStatus status, const Placement &placement);
    /// The updatedAt of an edit of \a replaced: now, but never before a second after it.
    QDateTime editTime(const Thought &replaced) const;
    qsizetype endIndex(ThoughtStatus status) const;
    qsizetype indexOf(const QUuid &id) const;
    void persist(Change change, const QList<QUuid> &ids);
    void save();
    Board sampleThoughts() const;

    Board m_thoughts;
    /// The board as last saved: the "before" of the next change.
    Board m_saved;
    QString m_searchText;
    BoardPersistence m_persistence;
    /// The sample thoughts of a first start, as they were made.
    Board m_samples;
    std::optional<BoardFileProblem> m_loadProblem;
    std::optional<BoardFileProblem> m_saveProblem;
    QString m_movedAsidePath;
    QTimer *m_retryTimer = nullptr;
    Clock m_clock = [] { return QDateTime::currentDateTimeUtc(); };
};
