#include "BoardFixtures.h"
#include "ContentView.h"
#include "EditorOverlay.h"
#include "FakeSettings.h"
#include "FakeSyncService.h"
#include "QuickComposer.h"
#include "ScriptedIdentityProvider.h"
#include "SearchField.h"
#include "ThoughtEditorView.h"
#include "services/AppleIDAuthService.h"
#include "stores/BoardStore.h"
#include "support/GlassFrame.h"

#include "KanbanBoardView.h"

#include <QLineEdit>
#include <QMetaMethod>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

/// A content view over a store with one completed and one open thought, a sync service that
/// only counts, and a signed-out sign-in service.
struct ContentFixture
{
    RecordingPersistence persistence;
    FakeSettings settings;
    std::unique_ptr<BoardStore> store;
    std::unique_ptr<AppleIDAuthService> auth;
    FakeSyncService sync;
    std::unique_ptr<ContentView> view;

    ContentFixture()
    {
        persistence.stored =
            Board{makeThought(QStringLiteral("写周报")),
                  makeThought(QStringLiteral("修好自行车"), ThoughtStatus::completed)};
        store = std::make_unique<BoardStore>(persistence.persistence());
        auth = std::make_unique<AppleIDAuthService>(
            std::make_unique<ScriptedIdentityProvider>(
                std::make_shared<ScriptedIdentityProvider::Script>()),
            settings.open());
        view = std::make_unique<ContentView>(AppServices{store.get(), auth.get(), &sync});
        view->resize(1120, 720);
    }

    bool showAndActivate()
    {
        view->show();
        view->activateWindow();
        return QTest::qWaitForWindowActive(view.get());
    }

    const Thought &first() const { return store->thoughts().first(); }

    /// Opens the editor on the first thought and waits until it has appeared.
    bool openFirst()
    {
        view->openEditor(first());
        return QTest::qWaitFor([this] { return !view->editorOverlay()->isAnimating(); });
    }

    QPoint backdropPoint() const { return {10, view->height() - 10}; }
};

class ContentViewTest : public QObject
{
    Q_OBJECT

private slots:
    void composerSubmitAlwaysClearsAndKeepsFocus_data();
    void composerSubmitAlwaysClearsAndKeepsFocus();
    void searchFieldWritesThroughToTheStore();
    void archiveButtonArchivesCompleted();
    void backdropClickClosesOnlyACleanEditor();
    void editorClosesThroughItsOwnActionsWhileDirty();
    void openingStartsClean();
    void nothingBeneathTheOverlayCanBeClicked();
    void focusTokenMovesFocusToTheComposer();
    void syncStartsOnceHoweverOftenShown();
    void boardCardsOpenTheEditor();
};

void ContentViewTest::composerSubmitAlwaysClearsAndKeepsFocus_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("useButton");
    QTest::addColumn<int>("added");
    QTest::newRow("return with text") << QStringLiteral(" buy milk ") << false << 1;
    QTest::newRow("return with spaces") << QStringLiteral("   ") << false << 0;
    QTest::newRow("return with nothing") << QString() << false << 0;
    QTest::newRow("button with text") << QStringLiteral("call mum") << true << 1;
}

void ContentViewTest::composerSubmitAlwaysClearsAndKeepsFocus()
{
    QFETCH(QString, typed);
    QFETCH(bool, useButton);
    QFETCH(int, added);
    ContentFixture fixture;
    QVERIFY(fixture.showAndActivate());
    QuickComposer *composer = fixture.view->composer();
    composer->lineEdit()->setFocus();
    QTest::keyClicks(composer->lineEdit(), typed);
    const qsizetype before = fixture.store->thoughts().size();
    if (useButton)
        QTest::mouseClick(composer->addButton(), Qt::LeftButton);
    else
        QTest::keyClick(composer->lineEdit(), Qt::Key_Return);
    QCOMPARE(fixture.store->thoughts().size(), before + added);
    QCOMPARE(composer->text(), QString());
    QVERIFY(composer->isFocused());
    if (added)
        QCOMPARE(fixture.store->thoughts().first().title, typed.trimmed());
}

void ContentViewTest::searchFieldWritesThroughToTheStore()
{
    ContentFixture fixture;
    QVERIFY(fixture.showAndActivate());
    SearchField *search = fixture.view->searchField();
    QCOMPARE(search->width(), 210);
    QTest::keyClicks(search->lineEdit(), QStringLiteral("bike"));
    QCOMPARE(fixture.store->searchText(), QStringLiteral("bike"));
    QTest::mouseClick(search->clearButton(), Qt::LeftButton);
    QCOMPARE(fixture.store->searchText(), QString());
    fixture.store->setSearchText(QStringLiteral("周报"));
    QCOMPARE(search->text(), QStringLiteral("周报"));
}

void ContentViewTest::archiveButtonArchivesCompleted()
{
    ContentFixture fixture;
    QVERIFY(fixture.showAndActivate());
    GlassSymbolButton *archive = fixture.view->archiveButton();
    QCOMPARE(archive->toolTip(), QStringLiteral("归档已完成"));
    QCOMPARE(archive->size(), QSize(30, 30));
    QTest::mouseClick(archive, Qt::LeftButton);
    QCOMPARE(fixture.store->thoughts().at(1).status, ThoughtStatus::archived);
    // With nothing left to archive it still saves and stays enabled.
    QTest::mouseClick(archive, Qt::LeftButton);
    QCOMPARE(fixture.persistence.saves.size(), 2);
    QVERIFY(archive->isEnabled());
}

void ContentViewTest::backdropClickClosesOnlyACleanEditor()
{
    ContentFixture fixture;
    QVERIFY(fixture.showAndActivate());
    QVERIFY(fixture.openFirst());
    ThoughtEditorView *editor = fixture.view->editor();
    QVERIFY(editor);
    QTest::keyClicks(editor->titleField(), QStringLiteral("?"));
    QVERIFY(fixture.view->editorHasChanges());

    QTest::mouseClick(fixture.view->editorOverlay(), Qt::LeftButton, {}, fixture.backdropPoint());
    QVERIFY(fixture.view->editingThought());
    QCOMPARE(fixture.view->editor(), editor);
    QCOMPARE(editor->title(), QStringLiteral("写周报?"));

    // A click on the panel itself is not a click on the backdrop.
    QTest::mouseClick(editor, Qt::LeftButton, {}, QPoint(editor->width() / 2, 8));
    QTest::keyClick(editor->titleField(), Qt::Key_Backspace);
    QVERIFY(!fixture.view->editorHasChanges());
    QTest::mouseClick(editor, Qt::LeftButton, {}, QPoint(editor->width() / 2, 8));
    QVERIFY(fixture.view->editingThought());

    QTest::mouseClick(fixture.view->editorOverlay(), Qt::LeftButton, {}, fixture.backdropPoint());
    QVERIFY(!fixture.view->editingThought());
    QTRY_VERIFY(!fixture.view->editorOverlay()->isVisible());
    QVERIFY(fixture.persistence.saves.isEmpty());
}

void ContentViewTest::editorClosesThroughItsOwnActionsWhileDirty()
{
    ContentFixture fixture;
    QVERIFY(fixture.showAndActivate());
    QVERIFY(fixture.openFirst());
    ThoughtEditorView *editor = fixture.view->editor();
    editor->titleField()->setText(QStringLiteral("写月报"));
    QVERIFY(fixture.view->editorHasChanges());
    QTest::mouseClick(editor->saveButton(), Qt::LeftButton);
    QVERIFY(!fixture.view->editingThought());
    QVERIFY(!fixture.view->editorHasChanges());
    QCOMPARE(fixture.first().title, QStringLiteral("写月报"));

    QVERIFY(fixture.openFirst());
    fixture.view->editor()->titleField()->setText(QStringLiteral("x"));
    QTest::mouseClick(fixture.view->editor()->deleteButton(), Qt::LeftButton);
    QVERIFY(!fixture.view->editingThought());
    QVERIFY(fixture.first().isDeleted);
}

void ContentViewTest::openingStartsClean()
{
    ContentFixture fixture;
    QVERIFY(fixture.showAndActivate());
    QVERIFY(fixture.openFirst());
    fixture.view->editor()->titleField()->setText(QStringLiteral("未保存"));
    QVERIFY(fixture.view->editorHasChanges());
    fixture.view->closeEditor();
    QVERIFY(!fixture.view->editorHasChanges());
    QVERIFY(fixture.openFirst());
    QVERIFY(!fixture.view->editorHasChanges());
    QCOMPARE(fixture.view->editor()->title(), QStringLiteral("写周报"));
}

void ContentViewTest::nothingBeneathTheOverlayCanBeClicked()
{
    ContentFixture fixture;
    QVERIFY(fixture.showAndActivate());
    QVERIFY(fixture.openFirst());
    for (QWidget *beneath : {static_cast<QWidget *>(fixture.view->archiveButton()),
                             static_cast<QWidget *>(fixture.view->composer()->addButton()),
                             static_cast<QWidget *>(fixture.view->searchField())}) {
        const QPoint centre = beneath->mapTo(fixture.view.get(), beneath->rect().center());
        QCOMPARE(fixture.view->childAt(centre), fixture.view->editorOverlay());
    }
    fixture.view->editor()->titleField()->setText(QStringLiteral("dirty"));
    const QWidget *archive = fixture.view->archiveButton();
    QTest::mouseClick(fixture.view->editorOverlay(), Qt::LeftButton, {},
                      archive->mapTo(fixture.view.get(), archive->rect().center()));
    QVERIFY(fixture.persistence.saves.isEmpty());
    QVERIFY(fixture.view->editingThought());
}

void ContentViewTest::focusTokenMovesFocusToTheComposer()
{
    ContentFixture fixture;
    QVERIFY(fixture.showAndActivate());
    fixture.view->searchField()->lineEdit()->setFocus();
    QVERIFY(!fixture.view->composer()->isFocused());
    const qsizetype count = fixture.store->thoughts().size();
    for (int attempt = 0; attempt < 2; ++attempt) {
        fixture.view->searchField()->lineEdit()->setFocus();
        fixture.store->setFocusComposerToken(QUuid::createUuid());
        QVERIFY(fixture.view->composer()->isFocused());
    }
    // Already focused: a new token keeps it there.
    fixture.store->setFocusComposerToken(QUuid::createUuid());
    QVERIFY(fixture.view->composer()->isFocused());
    QCOMPARE(fixture.store->thoughts().size(), count);
}

void ContentViewTest::syncStartsOnceHoweverOftenShown()
{
    ContentFixture fixture;
    QCoreApplication::processEvents();
    QCOMPARE(fixture.sync.startCount, 0);
    fixture.view->show();
    QTRY_COMPARE(fixture.sync.startCount, 1);
    fixture.view->hide();
    fixture.view->show();
    QCoreApplication::processEvents();
    QCOMPARE(fixture.sync.startCount, 1);
}

void ContentViewTest::boardCardsOpenTheEditor()
{
    // Whatever signal the board announces a card with, the content view opens the editor on it.
    ContentFixture fixture;
    QVERIFY(fixture.showAndActivate());
    QWidget *board = fixture.view->board();
    const QMetaObject *meta = board->metaObject();
    int announcing = -1;
    for (int index = meta->methodOffset(); index < meta->methodCount(); ++index) {
        const QMetaMethod method = meta->method(index);
        if (method.methodType() == QMetaMethod::Signal && method.parameterCount() == 1 &&
            method.parameterMetaType(0) == QMetaType::fromType<Thought>())
            announcing = index;
    }
    if (announcing < 0)
        QSKIP("this board does not open cards yet");
    const Thought thought = fixture.first();
    void *arguments[] = {nullptr, const_cast<Thought *>(&thought)};
    QMetaObject::activate(board, meta, announcing - meta->methodOffset(), arguments);
    QCOMPARE(fixture.view->editingThought()->id, thought.id);
}

QTEST_MAIN(ContentViewTest)
#include "tst_contentview.moc"
