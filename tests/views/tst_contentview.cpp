#include "BoardFileNotice.h"
#include "ContentView.h"
#include "EditorOverlay.h"
#include "FakeSyncService.h"
#include "KanbanBoardView.h"
#include "KanbanCardList.h"
#include "KanbanColumn.h"
#include "QuickComposer.h"
#include "SearchField.h"
#include "ServicesFixture.h"
#include "SyncStatusPill.h"
#include "ThoughtCard.h"
#include "ThoughtEditorView.h"
#include "board/DragAutoScroll.h"
#include "board/KanbanDragState.h"
#include "support/CloudMessages.h"
#include "support/SegmentedControl.h"
#include "support/SignInMessages.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStyleHints>
#include <QTest>
#include <QTextDocumentFragment>
#include <QToolButton>

#include <cmath>

namespace {

constexpr int doubleClickInterval = 120;

// What the platform sends while a drag passes \a pos. Move events carry whole pixels.
bool dragOver(QWidget *viewport, const QPointF &pos, const QMimeData *mime)
{
    const QPoint point(int(pos.x()), int(std::floor(pos.y())));
    QDragEnterEvent enter(point, Qt::MoveAction, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &enter);
    QDragMoveEvent move(point, Qt::MoveAction, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &move);
    return enter.isAccepted() && move.isAccepted();
}

bool drop(QWidget *viewport, const QPointF &pos, const QMimeData *mime)
{
    QDropEvent event(pos, Qt::MoveAction, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &event);
    return event.isAccepted();
}

Board sampleBoard()
{
    return {makeThought("A"), makeThought("B"), makeThought("C"),
            makeThought("D", ThoughtStatus::inProgress), makeThought("E", ThoughtStatus::archived)};
}

} // namespace

Q_DECLARE_METATYPE(ThoughtStatus)

/// A shown content view over the services wired as the application wires them.
struct ContentFixture : ServicesFixture
{
    std::unique_ptr<ContentView> view;

    explicit ContentFixture(const Board &board = {makeThought("写周报"),
                                                  makeThought("修车", ThoughtStatus::completed)})
        : ServicesFixture(board), view(std::make_unique<ContentView>(services()))
    {
        view->resize(1120, 720);
        view->show();
        view->activateWindow();
    }

    const Thought &first() const { return store()->thoughts().first(); }
    Thought thought(const QString &title) const
    {
        for (const Thought &candidate : store()->thoughts())
            if (candidate.title == title)
                return candidate;
        return {};
    }
    KanbanCardList *list(ThoughtStatus status) const
    {
        return view->board()->column(status)->cardList();
    }
    QStringList column(ThoughtStatus status) const
    {
        return titles(store()->visibleThoughtsByStatus()[status]);
    }
};

class ContentViewTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void composerAddsOnlyTextThatShows();
    void searchFiltersTheBoardUntilCleared();
    void pillNamesEveryState_data();
    void pillNamesEveryState();
    void everyCloudFailureIsToldApart();
    void everySignInFailureIsToldApart();
    void cardsShowAnyNoteAndUpToThreeTitleLines_data();
    void cardsShowAnyNoteAndUpToThreeTitleLines();
    void cardsAreMeasuredAgainForANewNoteOrWidth();
    void editorWithChangesLeavesOnlyBySavingOrDeleting_data();
    void editorWithChangesLeavesOnlyBySavingOrDeleting();
    void editorFollowsChangesMadeElsewhere_data();
    void editorFollowsChangesMadeElsewhere();
    void clickEditsOnlyWhenNoSecondClickFollows_data();
    void clickEditsOnlyWhenNoSecondClickFollows();
    void dragEndedWithoutADropLeavesNoIndicator();
    void dragNearAnEdgeScrollsTheColumn_data();
    void dragNearAnEdgeScrollsTheColumn();
    void dropLandsWhereTheIndicatorPoints_data();
    void dropLandsWhereTheIndicatorPoints();

private:
    // The board over A B C (未开始), D (进行中) and E (归档).
    std::unique_ptr<ContentFixture> m_board;
    // Where a drag points: "B 0.25" a quarter down card B, "end completed" a column's end zone,
    // "bottom" the foot of 未开始's list, "column" its header, "board" the gap beside it.
    ThoughtStatus statusUnder(const QStringList &at) const
    {
        return at[0] == "end"                        ? *ThoughtStatuses::fromRawValue(at[1])
               : m_board->thought(at[0]).id.isNull() ? ThoughtStatus::notStarted
                                                     : m_board->thought(at[0]).status;
    }
    std::pair<QWidget *, QPointF> position(const QStringList &at) const
    {
        KanbanCardList *list = m_board->list(statusUnder(at));
        KanbanColumn *column = m_board->view->board()->column(ThoughtStatus::notStarted);
        if (at[0] == "column" || at[0] == "board")
            return at[0] == "column" ? std::pair<QWidget *, QPointF>(column, {40, 20})
                                     : std::pair<QWidget *, QPointF>(m_board->view->board(),
                                                                     {column->width() + 7.0, 300});
        if (at[0] == "bottom")
            return {list->viewport(), QPointF(20, list->viewport()->height() - 2)};
        const QRect zone =
            at[0] == "end" ? list->endZoneRect() : list->cardRect(m_board->thought(at[0]).id);
        return {list->viewport(),
                QPointF(zone.center().x(), zone.top() + at.value(1).toDouble() * zone.height())};
    }
};

void ContentViewTest::composerAddsOnlyTextThatShows()
{
    ContentFixture fixture;
    QVERIFY(QTest::qWaitForWindowActive(fixture.view.get()));
    QuickComposer *composer = fixture.view->composer();
    fixture.view->searchField()->lineEdit()->setFocus(); // Adding brings the caret back.
    for (const QString typed : {"\u3000 ", " buy milk "}) {
        composer->setText(typed);
        // The round button is live only for text that shows; Return hands over any text.
        QCOMPARE(composer->addButton()->isEnabled(), typed != "\u3000 ");
        QTest::mouseClick(composer->addButton(), Qt::LeftButton);
        QTest::keyClick(composer->lineEdit(), Qt::Key_Return);
        QCOMPARE(composer->text(), QString());
        QVERIFY(composer->isFocused());
    }
    QCOMPARE(titles(fixture.store()->thoughts()), (QStringList{"buy milk", "写周报", "修车"}));
}

void ContentViewTest::searchFiltersTheBoardUntilCleared()
{
    ContentFixture fixture;
    SearchField *search = fixture.view->searchField();
    const auto shown = [&](ThoughtStatus status) {
        return fixture.list(status)->thoughts().size();
    };
    QVERIFY(!search->clearButton()->isVisible());
    QTest::keyClicks(search->lineEdit(), " "); // A space alone is text that can be cleared.
    QVERIFY(search->clearButton()->isVisible());
    QTest::sendKeyEvent(QTest::Click, search->lineEdit(), Qt::Key_unknown, "修", Qt::NoModifier);
    QCOMPARE(shown(ThoughtStatus::notStarted) + shown(ThoughtStatus::completed), 1);
    QLabel *noMatch = fixture.view->board()->noMatchLabel();
    QVERIFY(!noMatch->isVisibleTo(fixture.view.get()));
    QTest::keyClicks(search->lineEdit(), "zz"); // Said once across the board.
    QVERIFY(noMatch->isVisibleTo(fixture.view.get()) && noMatch->text().contains("修zz"));
    QTest::keyClick(search->lineEdit(), Qt::Key_Backspace);
    QTest::keyClick(search->lineEdit(), Qt::Key_Backspace);
    QTest::mouseClick(search->clearButton(), Qt::LeftButton);
    QCOMPARE(fixture.store()->searchText(), QString());
    QCOMPARE(shown(ThoughtStatus::notStarted) + shown(ThoughtStatus::completed), 2);
    QVERIFY(!search->clearButton()->isVisible());
    fixture.store()->setSearchText("周报"); // The field shows what the board is filtered by.
    QCOMPARE(search->text(), "周报");
}

void ContentViewTest::pillNamesEveryState_data()
{
    // A failed state's reason, or the name a ready one kept an unreadable board under.
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("problem");
    QTest::addColumn<QString>("detail");
    QTest::addColumn<QString>("word");
    QTest::addColumn<QString>("text");
    using Kind = SyncService::State::Kind;
    using Problem = CloudError::Kind;
    QTest::newRow("local") << int(Kind::localOnly) << 0 << ""
                           << "本机"
                           << "当前保存在本机；点按这里连接 WebDAV 文件夹即可同步到云端";
    QTest::newRow("ready") << int(Kind::ready) << 0 << ""
                           << "云端"
                           << "云端同步已就绪";
    QTest::newRow("ready, an unreadable board kept")
        << int(Kind::ready) << 0 << "board.unreadable-1.json"
        << "云端"
        << "云端同步已就绪\n云端原有的看板记录无法读取，已改名为 board.unreadable-1.json "
           "保留在云端文件夹中";
    QTest::newRow("syncing") << int(Kind::syncing) << 0 << ""
                             << "同步中"
                             << "正在上传同步";
    QTest::newRow("failed") << int(Kind::failed) << int(Problem::credentialsRefused) << ""
                            << "同步异常"
                            << "云端服务器拒绝了用户名或密码，请重新连接账户";
    const QString markup = "<img src=\"/usr/share/pixmaps/debian-logo.png\">";
    QTest::newRow("failed, markup in the keyring's answer")
        << int(Kind::failed) << int(Problem::keyringUnreadable) << markup << "同步异常"
        << "无法从系统钥匙串读取云端账户的密码（" + markup + "）";
}

void ContentViewTest::pillNamesEveryState()
{
    QFETCH(int, kind);
    QFETCH(int, problem);
    QFETCH(QString, detail);
    QFETCH(QString, word);
    QFETCH(QString, text);
    FakeSyncService sync;
    SyncStatusPill pill(&sync);
    sync.setStateForTest(SyncService::State::failed({CloudError::Kind::timedOut}));
    SyncService::State state{SyncService::State::Kind(kind), CloudError::Kind(problem), {}};
    if (state.kind == SyncService::State::Kind::ready)
        state.movedAsideAs = detail;
    else
        state.problem.detail = detail;
    sync.setStateForTest(state);
    QCOMPARE(pill.word(), word);
    // Qt shows a tooltip that looks like markup as markup: what the person reads is compared.
    const QString tip = pill.toolTip();
    QCOMPARE(Qt::mightBeRichText(tip) ? QTextDocumentFragment::fromHtml(tip).toPlainText() : tip,
             text);
    QCOMPARE(pill.accessibleDescription(), text);
}

void ContentViewTest::everyCloudFailureIsToldApart()
{
    // Each kind reads differently, and what it carries (the server, a status or limit, the
    // detail) is in what the person reads.
    using Kind = CloudError::Kind;
    const QList<Kind> naming{Kind::unreachable,   Kind::timedOut,       Kind::insecureConnection,
                             Kind::connectionCut, Kind::networkFailure, Kind::answerTooLarge};
    const QList<Kind> numbered{Kind::networkFailure, Kind::answerTooLarge, Kind::serverUnavailable,
                               Kind::redirected, Kind::refused};
    const QList<Kind> detailed{Kind::ignoresWriteConditions, Kind::keyringUnreadable,
                               Kind::keyringUnwritable, Kind::keyringNotCleared,
                               Kind::boardUnreadable};
    QSet<QString> told;
    for (int value = 0; value <= int(Kind::keptChanging); ++value) {
        const Kind kind = Kind(value);
        const QString text = CloudMessages::describe({kind, "dav.invalid", 599, "原因"});
        QVERIFY2(!told.contains(text) && !text.contains('%'), qPrintable(text));
        told.insert(text);
        QVERIFY2(text.contains("dav.invalid") == naming.contains(kind), qPrintable(text));
        QCOMPARE(text.contains("599"), numbered.contains(kind));
        QCOMPARE(text.contains("原因"), detailed.contains(kind));
    }
}

void ContentViewTest::everySignInFailureIsToldApart()
{
    // The same for sign-in, a refused ID token by each check it failed.
    using Kind = AuthorizationError::Kind;
    using Fault = AuthorizationError::TokenFault;
    const QList<Kind> detailed{Kind::answerTooLarge, Kind::providerRefused,
                               Kind::tokenExchangeFailed};
    QList<AuthorizationError> errors;
    for (int value = 0; value <= int(Kind::credentialUnreadable); ++value) {
        if (Kind(value) != Kind::idTokenInvalid)
            errors.append(AuthorizationError(Kind(value), "invalid_grant"));
    }
    for (int value = 0; value <= int(Fault::missingSubject); ++value)
        errors.append(AuthorizationError::invalidIdToken(Fault(value)));
    QSet<QString> told;
    for (const AuthorizationError &error : errors) {
        const QString text = SignInMessages::failure(error);
        QVERIFY2(!told.contains(text) && !text.contains('%'), qPrintable(text));
        told.insert(text);
        QCOMPARE(text.contains("invalid_grant"), detailed.contains(error.kind));
    }
}

void ContentViewTest::cardsShowAnyNoteAndUpToThreeTitleLines_data()
{
    QTest::addColumn<QString>("title");
    QTest::newRow("long") << QString(200, QChar(0x7075));
    // Laid out whole, a title this long overflows Qt's text widths and spills over its neighbours.
    QTest::newRow("millions of characters") << QString(4'000'000, QChar(0x7075));
}

void ContentViewTest::cardsShowAnyNoteAndUpToThreeTitleLines()
{
    QFETCH(QString, title);
    Thought thought = makeThought(title);
    thought.note = " ";
    const ThoughtCard::Layout layout = ThoughtCard::layout(thought, 240);
    QCOMPARE(layout.title.lines.size(), 3);
    // Within the card's title room: 240 less the padding, the dot and the gap.
    QVERIFY2(layout.title.widestLine <= 200, qPrintable(QString::number(layout.title.widestLine)));
    QVERIFY(layout.note);
}

void ContentViewTest::cardsAreMeasuredAgainForANewNoteOrWidth()
{
    ContentFixture fixture;
    KanbanCardList *list = fixture.list(ThoughtStatus::notStarted);
    const Thought thought = fixture.first();
    const int bare = list->cardRect(thought.id).height();
    fixture.store()->update(thought, thought.title, QString(12, QChar(0x7075)), thought.status);
    const int withNote = list->cardRect(thought.id).height();
    QVERIFY2(withNote > bare, qPrintable(QString("%1 %2").arg(bare).arg(withNote)));
    // Narrower columns wrap the note, one line wide before, into two.
    fixture.view->resize(760, 720);
    QTRY_VERIFY(list->cardRect(thought.id).height() > withNote);
}

void ContentViewTest::editorFollowsChangesMadeElsewhere_data()
{
    QTest::addColumn<QString>("editedTitle");
    QTest::addColumn<QString>("editedNote");
    QTest::addColumn<QString>("elsewhere"); // A new title, or "delete".
    QTest::addColumn<QString>("answer");    // The button the person chooses, if asked.
    QTest::addColumn<QString>("savedTitle");
    QTest::addColumn<QString>("savedNote");
    const QString none;
    QTest::newRow("clean: shows the new version") << none << none << "写月报" << none << "写月报"
                                                  << "";
    QTest::newRow("note edited, renamed elsewhere, keep mine: both kept") << none << "周五"
                                                                          << "写月报"
                                                                          << "保留我的修改"
                                                                          << "写月报"
                                                                          << "周五";
    QTest::newRow("title edited, renamed elsewhere, keep mine") << "写日报" << none << "写月报"
                                                                << "保留我的修改"
                                                                << "写日报"
                                                                << "";
    QTest::newRow("title edited, renamed elsewhere, take the newer") << "写日报" << none << "写月报"
                                                                     << "采用新版本"
                                                                     << "写月报"
                                                                     << "";
    QTest::newRow("edited, deleted elsewhere: closes and keeps the words in sight")
        << "写日报"
        << "周五"
        << "delete" << none << none << none;
}

// An undo from the menu bar, a merge from the cloud or a quick capture can change the thought
// under the open editor: it never writes the older version back over the newer one.
void ContentViewTest::editorFollowsChangesMadeElsewhere()
{
    QFETCH(QString, editedTitle);
    QFETCH(QString, editedNote);
    QFETCH(QString, elsewhere);
    QFETCH(QString, answer);
    QFETCH(QString, savedTitle);
    QFETCH(QString, savedNote);
    ContentFixture fixture;
    fixture.view->openEditor(fixture.first());
    ThoughtEditorView *editor = fixture.view->editor();
    if (!editedTitle.isNull())
        editor->titleField()->setText(editedTitle);
    if (!editedNote.isNull())
        editor->noteEditor()->setPlainText(editedNote);
    if (elsewhere == "delete")
        fixture.store()->deleteThought(fixture.first());
    else
        fixture.store()->update(fixture.first(), elsewhere, QString(), ThoughtStatus::notStarted);
    if (elsewhere == "delete") {
        QVERIFY(!fixture.view->editingThought());
        const QString notice = fixture.view->fileNotice()->textLabel()->text();
        QVERIFY2(notice.contains(editedTitle) && notice.contains(editedNote), qPrintable(notice));
        return;
    }
    QCOMPARE(editor->conflictBar()->isVisibleTo(editor), !answer.isNull());
    if (answer.isNull())
        QCOMPARE(editor->title(), elsewhere);
    else
        QTest::mouseClick(answer == "采用新版本" ? editor->takeNewerButton()
                                                 : editor->keepMineButton(),
                          Qt::LeftButton);
    QTest::mouseClick(editor->saveButton(), Qt::LeftButton);
    QVERIFY(!fixture.view->editingThought());
    QCOMPARE(fixture.first().title, savedTitle);
    QCOMPARE(fixture.first().note, savedNote);
}

void ContentViewTest::editorWithChangesLeavesOnlyBySavingOrDeleting_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("note");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("closes");
    const QString none;
    const int same = -1;
    const int archived = int(ThoughtStatus::archived);
    QTest::newRow("clean, backdrop") << none << none << same << "backdrop" << true;
    QTest::newRow("clean, escape") << none << none << same << "escape" << true;
    QTest::newRow("clean, click on the panel") << none << none << same << "panel" << false;
    QTest::newRow("clean, return saves") << none << none << same << "return" << true;
    QTest::newRow("title, backdrop") << "写周报?" << none << same << "backdrop" << false;
    QTest::newRow("title, escape") << "写周报?" << none << same << "escape" << false;
    QTest::newRow("title, over the archive button")
        << "写周报?" << none << same << "archive" << false;
    QTest::newRow("title undone by hand, backdrop") << "undo" << none << same << "backdrop" << true;
    QTest::newRow("note, backdrop") << none << "周五" << same << "backdrop" << false;
    QTest::newRow("status alone, escape") << none << none << archived << "escape" << false;
    QTest::newRow("return in the note") << none << none << same << "noteReturn" << false;
    QTest::newRow("padded title, archived, save") << " 整理 " << none << archived << "save" << true;
    QTest::newRow("blank title, save") << " \t\u3000" << none << same << "save" << false;
    QTest::newRow("blank title, return") << "  " << none << same << "return" << false;
    QTest::newRow("title, delete") << "写周报?" << none << same << "delete" << true;
}

void ContentViewTest::editorWithChangesLeavesOnlyBySavingOrDeleting()
{
    QFETCH(QString, title);
    QFETCH(QString, note);
    QFETCH(int, status);
    QFETCH(QString, action);
    QFETCH(bool, closes);
    ContentFixture fixture;
    QVERIFY(QTest::qWaitForWindowActive(fixture.view.get()));
    const Thought original = fixture.first();
    fixture.view->openEditor(original);
    QTRY_VERIFY(!fixture.view->editorOverlay()->isAnimating());
    ThoughtEditorView *editor = fixture.view->editor();
    if (!title.isNull())
        editor->titleField()->setText(title == "undo" ? original.title + "?" : title);
    if (title == "undo")
        editor->titleField()->setText(original.title);
    if (!note.isNull())
        editor->noteEditor()->setPlainText(note);
    if (status >= 0)
        QTest::mouseClick(editor->statusPicker(), Qt::LeftButton, {},
                          editor->statusPicker()->segmentRect(status).center());
    const QWidget *archive = fixture.view->archiveButton();
    const QPoint overArchive = archive->mapTo(fixture.view.get(), archive->rect().center());
    // Nothing beneath the overlay can be reached while the editor is open.
    QCOMPARE(fixture.view->childAt(overArchive), fixture.view->editorOverlay());
    const QString edited = editor->title();
    QWidget *focus = action == "noteReturn" ? static_cast<QWidget *>(editor->noteEditor())
                                            : editor->titleField();
    focus->setFocus();
    if (action == "backdrop" || action == "archive")
        QTest::mouseClick(fixture.view->editorOverlay(), Qt::LeftButton, {},
                          action == "archive" ? overArchive : QPoint(10, 710));
    if (action == "panel")
        QTest::mouseClick(editor, Qt::LeftButton, {}, QPoint(editor->width() / 2, 8));
    if (action == "escape")
        QTest::keyClick(focus, Qt::Key_Escape);
    if (action == "return" || action == "noteReturn")
        QTest::keyClick(focus, Qt::Key_Return);
    if (action == "save" || action == "delete")
        QTest::mouseClick(action == "save" ? editor->saveButton() : editor->deleteButton(),
                          Qt::LeftButton);
    if (action == "noteReturn")
        QCOMPARE(editor->note(), QStringLiteral("\n"));
    QCOMPARE(!fixture.view->editingThought(), closes);
    // A refusal to close says why.
    if (!closes && action != "panel" && action != "noteReturn" && !title.trimmed().isEmpty())
        QCOMPARE(editor->guardLabel()->text(), "有未保存的修改");
    const bool saved = closes && action != "delete" && action != "backdrop" && action != "escape";
    QCOMPARE(fixture.persistence.saves.size(), saved || action == "delete" ? 1 : 0);
    QCOMPARE(fixture.first().title, saved ? edited.trimmed() : original.title);
    QCOMPARE(fixture.first().status,
             saved && status >= 0 ? ThoughtStatus(status) : original.status);
    QCOMPARE(fixture.first().isDeleted, action == "delete");
    if (!closes)
        return;
    QTRY_VERIFY(!fixture.view->editorOverlay()->isVisible());
    // Whatever the last editor reported, the next one opens clean, from the board's signal.
    emit fixture.view->board()->editRequested(fixture.store()->thoughts().last());
    QCOMPARE(fixture.view->editingThought()->id, fixture.store()->thoughts().last().id);
    QVERIFY(!fixture.view->editorHasChanges());
    // One opened over it replaces it; its focused field goes without the focus guard reading it.
    emit fixture.view->board()->editRequested(fixture.store()->thoughts().first());
    QCOMPARE(fixture.view->editingThought()->id, fixture.store()->thoughts().first().id);
}

void ContentViewTest::initTestCase()
{
    QGuiApplication::styleHints()->setMouseDoubleClickInterval(doubleClickInterval);
}

void ContentViewTest::clickEditsOnlyWhenNoSecondClickFollows_data()
{
    QTest::addColumn<QString>("card");
    QTest::addColumn<bool>("twice");
    QTest::addColumn<ThoughtStatus>("statusAfter");
    QTest::addColumn<QString>("releasedOver");
    QTest::newRow("single click edits") << "B" << false << ThoughtStatus::notStarted << "B";
    QTest::newRow("pressed on one card, released on another")
        << "B" << false << ThoughtStatus::notStarted << "C";
    QTest::newRow("double click advances") << "B" << true << ThoughtStatus::inProgress << "B";
    QTest::newRow("double click in progress") << "D" << true << ThoughtStatus::completed << "D";
    QTest::newRow("double click on archived") << "E" << true << ThoughtStatus::archived << "E";
}

void ContentViewTest::clickEditsOnlyWhenNoSecondClickFollows()
{
    QFETCH(QString, card);
    QFETCH(bool, twice);
    QFETCH(ThoughtStatus, statusAfter);
    QFETCH(QString, releasedOver);
    m_board = std::make_unique<ContentFixture>(sampleBoard());
    const Thought clicked = m_board->thought(card);
    KanbanCardList *list = m_board->list(clicked.status);
    const QPoint at = list->cardRect(clicked.id).center();
    QSignalSpy editRequests(m_board->view->board(), &KanbanBoardView::editRequested);
    if (twice) {
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
    } else {
        QTest::mousePress(list->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseRelease(list->viewport(), Qt::LeftButton, {},
                            list->cardRect(m_board->thought(releasedOver).id).center());
    }
    // Nothing opens before the double-click time has passed.
    QCOMPARE(editRequests.size(), 0);
    QTest::qWait(doubleClickInterval * 3);
    QCOMPARE(editRequests.size(), twice || releasedOver != card ? 0 : 1);
    QCOMPARE(m_board->thought(card).status, statusAfter);
    QCOMPARE(m_board->persistence.saves.size(), statusAfter != clicked.status ? 1 : 0);
    // An advanced card becomes the last one of the next column, and the keyboard follows it.
    if (statusAfter != clicked.status) {
        QCOMPARE(m_board->column(statusAfter).last(), card);
        QCOMPARE(m_board->list(statusAfter)->currentCard(), clicked.id);
    }
}

void ContentViewTest::dragEndedWithoutADropLeavesNoIndicator()
{
    m_board = std::make_unique<ContentFixture>(sampleBoard());
    KanbanDragState *state = m_board->view->board()->dragState();
    state->setDraggingThoughtID(m_board->thought("A").id);
    state->setDropTarget(ThoughtDropTarget{ThoughtStatus::inProgress, std::nullopt},
                         DropTargetChange::direct);
    QVERIFY(m_board->list(ThoughtStatus::inProgress)->indicatorTarget());
    // Escape, or a release outside every column: the drag is over, nothing was dropped.
    state->setDraggingThoughtID(std::nullopt);
    QCOMPARE(state->dropTarget(), std::nullopt);
    QCOMPARE(m_board->list(ThoughtStatus::inProgress)->indicatorTarget(), std::nullopt);
}

void ContentViewTest::dragNearAnEdgeScrollsTheColumn_data()
{
    // Where the held card is, as pixels from the viewport's top (negative: from its bottom), the
    // list scrolled to its middle first or not, and the way the list moves: -1 up, 1 down.
    QTest::addColumn<int>("pointerY");
    QTest::addColumn<bool>("fromMiddle");
    QTest::addColumn<int>("wheel");
    QTest::addColumn<int>("moves");
    QTest::newRow("at the bottom edge") << -2 << false << 0 << 1;
    QTest::newRow("at the top edge") << 2 << true << 0 << -1;
    QTest::newRow("away from the edges") << 200 << true << 0 << 0;
    QTest::newRow("the wheel, away from the edges") << 200 << false << -360 << 1;
}

void ContentViewTest::dragNearAnEdgeScrollsTheColumn()
{
    QFETCH(int, pointerY);
    QFETCH(bool, fromMiddle);
    QFETCH(int, wheel);
    QFETCH(int, moves);
    Board board;
    for (int i = 0; i < 80; ++i)
        board.append(makeThought(QString::number(i)));
    m_board = std::make_unique<ContentFixture>(board);
    KanbanCardList *list = m_board->list(ThoughtStatus::notStarted);
    QWidget *viewport = list->viewport();
    QScrollBar *bar = list->verticalScrollBar();
    if (fromMiddle)
        bar->setValue(bar->maximum() / 2);
    const int start = bar->value();
    const QPoint pointer(40, pointerY < 0 ? viewport->height() + pointerY : pointerY);
    m_board->view->board()->dragState()->setDraggingThoughtID(m_board->thought("0").id);
    QMimeData mime;
    mime.setText(uuidText(m_board->thought("0").id));
    QVERIFY(dragOver(viewport, pointer, &mime));
    const std::optional<ThoughtDropTarget> first = list->indicatorTarget();
    if (wheel != 0) {
        QWheelEvent event(pointer, viewport->mapToGlobal(pointer), {}, {0, wheel}, Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(viewport, &event);
    }
    QTest::qWait(250);
    QCOMPARE(moves > 0   ? bar->value() > start
             : moves < 0 ? bar->value() < start
                         : bar->value() == start,
             true);
    // The line follows the content that moved under the pointer.
    QCOMPARE(list->indicatorTarget(), list->targetAt(pointer));
    QCOMPARE(list->indicatorTarget() != first, moves != 0);
    // Faster towards the edge.
    const int height = viewport->height();
    QVERIFY(DragAutoScroll::step(height - 1, height) >
            DragAutoScroll::step(height - DragAutoScroll::edgeBand / 2, height));
}

void ContentViewTest::dropLandsWhereTheIndicatorPoints_data()
{
    // "text" is what the drag carries: "=" the dragged card's id, one letter that card's id.
    QTest::addColumn<QString>("dragged");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("pointer");
    QTest::addColumn<QString>("before");
    QTest::addColumn<QStringList>("columnAfter");
    const QStringList abc{"A", "B", "C"};
    const QString refused = QStringLiteral("-");
    auto row = [](const char *name, const char *dragged, const char *text, const char *pointer,
                  const QString &before, const QStringList &after) {
        QTest::newRow(name) << dragged << text << pointer << before << after;
    };
    row("upper half: before the card", "D", "=", "B 0.25", "B", {"A", "D", "B", "C"});
    row("lower half: before the next card", "D", "=", "B 0.75", "C", {"A", "B", "D", "C"});
    row("tail zone: column end", "D", "=", "end notStarted", "", {"A", "B", "C", "D"});
    row("empty column", "A", "=", "end completed", "", {"A"});
    row("own upper half changes nothing", "B", "=", "B 0.1", "B", abc);
    row("lower half of the card above", "B", "=", "A 0.9", "B", abc);
    row("another column's first place", "A", "=", "E 0.2", "E", {"A", "E"});
    row("text from elsewhere, no drag", "", "把这段话拖进来", "B 0.5", refused, abc);
    row("a card's id, no drag", "", "A", "B 0.5", refused, abc);
    row("text from elsewhere during a drag", "A", "把这段话", "B 0.5", refused, abc);
    row("another card's id during a drag", "A", "B", "B 0.5", refused, abc);
    row("no text during a drag", "A", "", "B 0.5", refused, abc);
    row("text from elsewhere between columns", "A", "把这段话", "board", refused, abc);
    row("below the last card", "D", "=", "bottom", "", {"A", "B", "C", "D"});
    row("column header: nearest point", "D", "=", "column", "A", {"D", "A", "B", "C"});
    row("between columns: the indicator stays", "D", "=", "board", "B", {"A", "D", "B", "C"});
}

void ContentViewTest::dropLandsWhereTheIndicatorPoints()
{
    QFETCH(QString, dragged);
    QFETCH(QString, text);
    QFETCH(QString, pointer);
    QFETCH(QString, before);
    QFETCH(QStringList, columnAfter);
    const QStringList at = pointer.split(' ');
    m_board = std::make_unique<ContentFixture>(sampleBoard());
    KanbanDragState *state = m_board->view->board()->dragState();
    if (!dragged.isEmpty())
        state->setDraggingThoughtID(m_board->thought(dragged).id);
    QMimeData mime;
    if (text.isEmpty())
        mime.setHtml("<b>A</b>");
    else
        mime.setText(text.size() == 1 ? uuidText(m_board->thought(text == "=" ? dragged : text).id)
                                      : text);
    if (at[0] == "board")
        state->setDropTarget(ThoughtDropTarget{ThoughtStatus::notStarted, m_board->thought("B").id},
                             DropTargetChange::direct);
    KanbanCardList *target = m_board->list(statusUnder(at));
    const auto [widget, point] = position(at);
    const Board board = m_board->store()->thoughts();
    QCOMPARE(dragOver(widget, point, &mime), before != "-");
    if (before == "-") {
        // Refused at once, pointing nowhere (between columns the indicator stays where it was);
        // let go over a zone that took the card's own drag a moment before, it lands nowhere
        // all the same and the drag is over.
        QCOMPARE(state->dropTarget().has_value(), at[0] == "board");
        QMimeData own;
        own.setText(uuidText(m_board->thought(dragged).id));
        QVERIFY(dragged.isEmpty() || dragOver(widget, point, &own));
        QVERIFY(!drop(widget, point, &mime));
        QVERIFY(!state->isDragging());
        QCOMPARE(m_board->store()->thoughts(), board);
        return;
    }
    const ThoughtDropTarget expected{
        statusUnder(at),
        before.isEmpty() ? std::nullopt : std::optional<QUuid>(m_board->thought(before).id)};
    QCOMPARE(state->dropTarget(), std::optional(expected));
    QCOMPARE(target->indicatorTarget(), std::optional(expected));
    QVERIFY(drop(widget, point, &mime));
    QCOMPARE(m_board->column(expected.status), columnAfter);
    QCOMPARE(m_board->persistence.saves.size(), before == dragged ? 0 : 1); // Nothing moved.
    QVERIFY(!state->isDragging());
    QCOMPARE(target->indicatorTarget(), std::nullopt);
}

QTEST_MAIN(ContentViewTest)
#include "tst_contentview.moc"
