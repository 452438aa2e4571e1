#include "BoardFixtures.h"
#include "ThoughtEditorView.h"
#include "stores/BoardStore.h"
#include "support/SegmentedControl.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

/// One stored thought, its store and an editor open on it, shown and active.
struct EditorFixture
{
    RecordingPersistence persistence;
    std::unique_ptr<BoardStore> store;
    std::unique_ptr<ThoughtEditorView> editor;
    std::unique_ptr<QSignalSpy> dirty;
    std::unique_ptr<QSignalSpy> closed;

    explicit EditorFixture(const QString &title = QStringLiteral("写周报"),
                           ThoughtStatus status = ThoughtStatus::inProgress)
    {
        Thought thought = makeThought(title, status);
        thought.note = QStringLiteral("周五之前");
        persistence.stored = Board{thought};
        store = std::make_unique<BoardStore>(persistence.persistence());
        editor = std::make_unique<ThoughtEditorView>(store.get(), thought);
        dirty = std::make_unique<QSignalSpy>(editor.get(), &ThoughtEditorView::dirtyChanged);
        closed = std::make_unique<QSignalSpy>(editor.get(), &ThoughtEditorView::closeRequested);
        editor->show();
        editor->activateWindow();
    }

    QList<bool> reports() const
    {
        QList<bool> values;
        for (const QList<QVariant> &arguments : *dirty)
            values.append(arguments.first().toBool());
        return values;
    }
    const Thought &stored() const { return store->thoughts().first(); }
};

class ThoughtEditorTest : public QObject
{
    Q_OBJECT

private slots:
    void reportsCleanOnceWhenShown();
    void typingAndUndoingByHandIsCleanAgain();
    void statusAloneMakesItDirty();
    void saveNeedsOnlyAVisibleTitle_data();
    void saveNeedsOnlyAVisibleTitle();
    void escapeAndCloseDoNothingWhileDirty();
    void returnSavesUnchangedValues();
    void returnInTheNoteStartsANewLine();
    void deleteWorksWhileDirty();
    void archivedCanBeChosen();
    void withoutAHostItHidesItself();
};

void ThoughtEditorTest::reportsCleanOnceWhenShown()
{
    EditorFixture fixture;
    QCOMPARE(fixture.reports(), QList<bool>{false});
    fixture.editor->hide();
    fixture.editor->show();
    QCOMPARE(fixture.reports(), QList<bool>{false});
    QVERIFY(fixture.editor->closeButton()->isEnabled());
    QVERIFY(fixture.editor->cancelButton()->isEnabled());
    QCOMPARE(fixture.editor->closeButton()->toolTip(), QStringLiteral("关闭"));
}

void ThoughtEditorTest::typingAndUndoingByHandIsCleanAgain()
{
    EditorFixture fixture;
    QLineEdit *title = fixture.editor->titleField();
    title->setFocus();
    title->end(false);
    QTest::keyClick(title, Qt::Key_Space);
    QCOMPARE(fixture.reports(), (QList<bool>{false, true}));
    QVERIFY(!fixture.editor->closeButton()->isEnabled());
    QVERIFY(!fixture.editor->cancelButton()->isEnabled());
    QVERIFY(fixture.editor->saveButton()->isEnabled());

    QTest::keyClick(title, Qt::Key_Backspace);
    QCOMPARE(fixture.reports(), (QList<bool>{false, true, false}));
    QVERIFY(fixture.editor->closeButton()->isEnabled());
    QVERIFY(fixture.editor->cancelButton()->isEnabled());

    // The note counts the same way.
    QTest::keyClicks(fixture.editor->noteEditor(), QStringLiteral("x"));
    QCOMPARE(fixture.reports().last(), true);
    QTest::keyClick(fixture.editor->noteEditor(), Qt::Key_Backspace);
    QCOMPARE(fixture.reports().last(), false);
}

void ThoughtEditorTest::statusAloneMakesItDirty()
{
    EditorFixture fixture(QStringLiteral("写周报"), ThoughtStatus::inProgress);
    SegmentedControl *picker = fixture.editor->statusPicker();
    QTest::mouseClick(picker, Qt::LeftButton, {},
                      picker->segmentRect(int(ThoughtStatus::completed)).center());
    QCOMPARE(fixture.editor->status(), ThoughtStatus::completed);
    QVERIFY(fixture.editor->hasChanges());
    QVERIFY(!fixture.editor->cancelButton()->isEnabled());
    QTest::mouseClick(picker, Qt::LeftButton, {},
                      picker->segmentRect(int(ThoughtStatus::inProgress)).center());
    QVERIFY(!fixture.editor->hasChanges());
    QCOMPARE(fixture.reports(), (QList<bool>{false, true, false}));
}

void ThoughtEditorTest::saveNeedsOnlyAVisibleTitle_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("canSave");
    QTest::newRow("empty") << QString() << false;
    QTest::newRow("spaces") << QStringLiteral("   ") << false;
    QTest::newRow("tab and ideographic space") << QStringLiteral("\t\u3000") << false;
    QTest::newRow("text in spaces") << QStringLiteral("  整理书架  ") << true;
}

void ThoughtEditorTest::saveNeedsOnlyAVisibleTitle()
{
    QFETCH(QString, title);
    QFETCH(bool, canSave);
    EditorFixture fixture;
    fixture.editor->titleField()->setText(title);
    QCOMPARE(fixture.editor->saveButton()->isEnabled(), canSave);

    QTest::mouseClick(fixture.editor->saveButton(), Qt::LeftButton);
    QCOMPARE(fixture.closed->size(), canSave ? 1 : 0);
    if (canSave) {
        // The editor hands the title over untrimmed; trimming is the store's.
        QCOMPARE(fixture.persistence.saves.size(), 1);
        QCOMPARE(fixture.stored().title, title.trimmed());
    } else {
        QTest::keyClick(fixture.editor->titleField(), Qt::Key_Return);
        QCOMPARE(fixture.closed->size(), 0);
        QVERIFY(fixture.persistence.saves.isEmpty());
    }
}

void ThoughtEditorTest::escapeAndCloseDoNothingWhileDirty()
{
    EditorFixture fixture;
    QVERIFY(QTest::qWaitForWindowActive(fixture.editor.get()));
    QLineEdit *title = fixture.editor->titleField();
    title->setFocus();
    QTest::keyClicks(title, QStringLiteral("!"));
    QTest::keyClick(title, Qt::Key_Escape);
    QCOMPARE(fixture.closed->size(), 0);
    fixture.editor->cancel();
    QCOMPARE(fixture.closed->size(), 0);
    QVERIFY(fixture.persistence.saves.isEmpty());

    QTest::keyClick(title, Qt::Key_Backspace);
    QTest::keyClick(title, Qt::Key_Escape);
    QCOMPARE(fixture.closed->size(), 1);
    QTest::mouseClick(fixture.editor->closeButton(), Qt::LeftButton);
    QCOMPARE(fixture.closed->size(), 2);
    QVERIFY(fixture.persistence.saves.isEmpty());
}

void ThoughtEditorTest::returnSavesUnchangedValues()
{
    EditorFixture fixture;
    QVERIFY(QTest::qWaitForWindowActive(fixture.editor.get()));
    fixture.editor->titleField()->setFocus();
    QTest::keyClick(fixture.editor->titleField(), Qt::Key_Return);
    QCOMPARE(fixture.closed->size(), 1);
    QCOMPARE(fixture.persistence.saves.size(), 1);
    QCOMPARE(fixture.stored().title, QStringLiteral("写周报"));
    QCOMPARE(fixture.stored().note, QStringLiteral("周五之前"));
    QCOMPARE(fixture.stored().status, ThoughtStatus::inProgress);
}

void ThoughtEditorTest::returnInTheNoteStartsANewLine()
{
    EditorFixture fixture;
    QVERIFY(QTest::qWaitForWindowActive(fixture.editor.get()));
    QPlainTextEdit *note = fixture.editor->noteEditor();
    note->setFocus();
    note->moveCursor(QTextCursor::End);
    QTest::keyClick(note, Qt::Key_Return);
    QCOMPARE(fixture.closed->size(), 0);
    QCOMPARE(fixture.editor->note(), QStringLiteral("周五之前\n"));
}

void ThoughtEditorTest::deleteWorksWhileDirty()
{
    EditorFixture fixture;
    fixture.editor->titleField()->setText(QStringLiteral("改了一半"));
    QVERIFY(fixture.editor->hasChanges());
    QTest::mouseClick(fixture.editor->deleteButton(), Qt::LeftButton);
    QCOMPARE(fixture.closed->size(), 1);
    QVERIFY(fixture.stored().isDeleted);
    QCOMPARE(fixture.stored().title, QStringLiteral("写周报"));
}

void ThoughtEditorTest::archivedCanBeChosen()
{
    EditorFixture fixture;
    SegmentedControl *picker = fixture.editor->statusPicker();
    QCOMPARE(picker->count(), 4);
    QTest::mouseClick(picker, Qt::LeftButton, {},
                      picker->segmentRect(int(ThoughtStatus::archived)).center());
    QTest::mouseClick(fixture.editor->saveButton(), Qt::LeftButton);
    QCOMPARE(fixture.stored().status, ThoughtStatus::archived);
}

void ThoughtEditorTest::withoutAHostItHidesItself()
{
    RecordingPersistence persistence;
    const Thought thought = makeThought(QStringLiteral("独立"));
    persistence.stored = Board{thought};
    BoardStore store(persistence.persistence());
    ThoughtEditorView editor(&store, thought);
    editor.show();
    QTest::mouseClick(editor.cancelButton(), Qt::LeftButton);
    QVERIFY(!editor.isVisible());
}

QTEST_MAIN(ThoughtEditorTest)
#include "tst_thoughteditor.moc"
