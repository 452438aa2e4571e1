#include "BoardFixtures.h"
#include "DragPreview.h"
#include "ThoughtCard.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QPalette>
#include <QtTest>

namespace {

constexpr int cardWidth = 240;

QString repeated(const QString &piece, int times)
{
    QString text;
    for (int i = 0; i < times; ++i)
        text += piece;
    return text;
}

Thought thoughtWith(const QString &title, const QString &note = QString())
{
    Thought thought = makeThought(title);
    thought.note = note;
    return thought;
}

} // namespace

class TestThoughtCard : public QObject
{
    Q_OBJECT

private slots:
    void noteShowsUnlessEmpty_data();
    void noteShowsUnlessEmpty();
    void textsStopAtThreeLines();
    void dragPreviewStopsAtTwoLines();
    void borderFollowsInteractiveHover_data();
    void borderFollowsInteractiveHover();
};

void TestThoughtCard::noteShowsUnlessEmpty_data()
{
    QTest::addColumn<QString>("note");
    QTest::addColumn<bool>("shown");

    QTest::newRow("empty") << "" << false;
    QTest::newRow("spaces only") << "   " << true;
    QTest::newRow("text") << "短句就够，之后再整理。" << true;
}

void TestThoughtCard::noteShowsUnlessEmpty()
{
    QFETCH(QString, note);
    QFETCH(bool, shown);

    const ThoughtCard::Layout withNote = ThoughtCard::layout(thoughtWith("标题", note), cardWidth);
    const ThoughtCard::Layout without = ThoughtCard::layout(thoughtWith("标题"), cardWidth);
    QCOMPARE(withNote.note.has_value(), shown);
    QCOMPARE(withNote.height > without.height, shown);
    // Until a card is laid out its column counts it at the height of one line per text.
    QCOMPARE(ThoughtCard::estimatedHeight(thoughtWith("标题", note)), withNote.height);
}

void TestThoughtCard::textsStopAtThreeLines()
{
    int previousHeight = 0;
    int heightAtThreeLines = 0;
    for (int length = 1; length <= 200; length += 3) {
        const QString text = repeated(QStringLiteral("想"), length);
        const ThoughtCard::Layout layout = ThoughtCard::layout(thoughtWith(text, text), cardWidth);
        QVERIFY(layout.title.lines.size() <= 3);
        QVERIFY(layout.note->lines.size() <= 3);
        QVERIFY(layout.height >= previousHeight);
        previousHeight = layout.height;
        if (layout.title.lines.size() == 3 && layout.note->lines.size() == 3 && !heightAtThreeLines)
            heightAtThreeLines = layout.height;
    }
    QVERIFY(heightAtThreeLines > 0);
    QCOMPARE(previousHeight, heightAtThreeLines);

    // What does not fit ends in an ellipsis; hard line breaks in a note count as lines.
    const QString longText = repeated(QStringLiteral("很长的标题 "), 40);
    const ThoughtCard::Layout cut = ThoughtCard::layout(thoughtWith(longText), cardWidth);
    QVERIFY(cut.title.lines.last().endsWith(QChar(0x2026)));
    const ThoughtCard::Layout lines =
        ThoughtCard::layout(thoughtWith("标题", "一\n二\n三\n四"), cardWidth);
    QCOMPARE(lines.note->lines.size(), 3);
    QCOMPARE(lines.note->lines.first(), QStringLiteral("一"));
}

void TestThoughtCard::dragPreviewStopsAtTwoLines()
{
    const QPalette palette = QApplication::palette();
    const QPixmap shortPreview = DragPreviewCard::render(thoughtWith("短"), palette, 1.0);
    QSize previous;
    for (int length = 2; length <= 120; length += 4) {
        const QPixmap preview = DragPreviewCard::render(
            thoughtWith(repeated(QStringLiteral("拖"), length), repeated(QStringLiteral("注"), 90)),
            palette, 1.0);
        // Title frame at most 220 wide, plus the dot, spacing and padding.
        QVERIFY(preview.width() <= 12 + 8 + 10 + 220 + 12 + 1);
        QVERIFY(preview.height() >= previous.height());
        previous = preview.size();
    }
    // A long title grows the preview to two lines and no further; the note never shows.
    QVERIFY(previous.height() > shortPreview.height());
    const QPixmap twoLines =
        DragPreviewCard::render(thoughtWith(repeated(QStringLiteral("拖"), 20)), palette, 1.0);
    QVERIFY(twoLines.width() > shortPreview.width());
    QCOMPARE(previous.height(), twoLines.height());
}

void TestThoughtCard::borderFollowsInteractiveHover_data()
{
    QTest::addColumn<bool>("hovering");
    QTest::addColumn<bool>("dragInProgress");
    QTest::addColumn<bool>("accentBorder");

    QTest::newRow("idle") << false << false << false;
    QTest::newRow("hovered") << true << false << true;
    QTest::newRow("hovered during a drag") << true << true << false;
    QTest::newRow("not hovered during a drag") << false << true << false;
}

void TestThoughtCard::borderFollowsInteractiveHover()
{
    QFETCH(bool, hovering);
    QFETCH(bool, dragInProgress);
    QFETCH(bool, accentBorder);

    // The first column's accent is blue: its border shows as blue over white, the idle one as
    // a neutral grey.
    const Thought thought = thoughtWith("卡片");
    const ThoughtCard::Layout layout = ThoughtCard::layout(thought, cardWidth);
    QImage image(cardWidth, layout.height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::black);
    QPainter painter(&image);
    ThoughtCard::paint(painter, image.rect(), thought, layout,
                       ThoughtCardLook{hovering, dragInProgress}, QApplication::palette(),
                       fixtureNow());
    painter.end();

    const QColor edge = image.pixelColor(cardWidth / 2, 0);
    const int blueOverRed = edge.blue() - edge.red();
    if (accentBorder)
        QVERIFY2(blueOverRed > 40, qPrintable(edge.name()));
    else
        QVERIFY2(qAbs(blueOverRed) < 10, qPrintable(edge.name()));
}

QTEST_MAIN(TestThoughtCard)
#include "tst_thoughtcard.moc"
