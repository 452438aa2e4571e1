#include "QuickComposer.h"
#include "SearchField.h"
#include "support/SystemColors.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

class InputFieldsTest : public QObject
{
    Q_OBJECT

private slots:
    void addButtonFollowsVisibleText_data();
    void addButtonFollowsVisibleText();
    void returnSubmitsWhateverTheTextHolds_data();
    void returnSubmitsWhateverTheTextHolds();
    void composerLeavesTextAndFocusToItsHost();
    void clearButtonShowsForAnyText_data();
    void clearButtonShowsForAnyText();
    void clearButtonEmptiesTheText();
    void searchFieldWidth();
};

void InputFieldsTest::addButtonFollowsVisibleText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("empty") << QString() << false;
    QTest::newRow("spaces") << QStringLiteral("   ") << false;
    QTest::newRow("newline") << QStringLiteral("\n") << false;
    QTest::newRow("tabs and ideographic space") << QStringLiteral("\t\u3000 ") << false;
    QTest::newRow("one character") << QStringLiteral("a") << true;
    QTest::newRow("text in spaces") << QStringLiteral("  想法  ") << true;
}

void InputFieldsTest::addButtonFollowsVisibleText()
{
    QFETCH(QString, text);
    QFETCH(bool, enabled);
    QuickComposer composer;
    composer.resize(600, 58);
    composer.show();
    QVERIFY(QTest::qWaitForWindowExposed(&composer));
    composer.setText(text);
    ComposerAddButton *button = composer.addButton();
    QCOMPARE(button->isEnabled(), enabled);

    // The circle is the accent colour for real text and a faint grey otherwise: sample it beside
    // the plus, where nothing but the circle is drawn.
    const QImage image = button->grab().toImage();
    const QColor sampled =
        image.pixelColor(int(8 * image.devicePixelRatio()), int(17 * image.devicePixelRatio()));
    const QColor accent = SystemColors::accent(button->palette());
    const bool looksAccent = qAbs(sampled.red() - accent.red()) < 12 &&
                             qAbs(sampled.green() - accent.green()) < 12 &&
                             qAbs(sampled.blue() - accent.blue()) < 12;
    QCOMPARE(looksAccent, enabled);
    if (!enabled) {
        QVERIFY2(qAbs(sampled.red() - sampled.green()) < 10 &&
                     qAbs(sampled.green() - sampled.blue()) < 10,
                 "the blank circle is grey");
    }

    QSignalSpy submitted(&composer, &QuickComposer::submitted);
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(submitted.size(), enabled ? 1 : 0);
}

void InputFieldsTest::returnSubmitsWhateverTheTextHolds_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << QString();
    QTest::newRow("spaces") << QStringLiteral("  ");
    QTest::newRow("text") << QStringLiteral("买牛奶");
}

void InputFieldsTest::returnSubmitsWhateverTheTextHolds()
{
    QFETCH(QString, text);
    QuickComposer composer;
    composer.show();
    composer.setText(text);
    QSignalSpy submitted(&composer, &QuickComposer::submitted);
    QTest::keyClick(composer.lineEdit(), Qt::Key_Return);
    QCOMPARE(submitted.size(), 1);
}

void InputFieldsTest::composerLeavesTextAndFocusToItsHost()
{
    QuickComposer composer;
    composer.show();
    QVERIFY(QTest::qWaitForWindowActive(&composer));
    composer.setFocused();
    QVERIFY(composer.lineEdit()->hasFocus());
    QTest::keyClicks(composer.lineEdit(), QStringLiteral("abc"));
    QTest::keyClick(composer.lineEdit(), Qt::Key_Return);
    QCOMPARE(composer.text(), QStringLiteral("abc"));
}

void InputFieldsTest::clearButtonShowsForAnyText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("shown");
    QTest::newRow("empty") << QString() << false;
    QTest::newRow("one space") << QStringLiteral(" ") << true;
    QTest::newRow("text") << QStringLiteral("idea") << true;
}

void InputFieldsTest::clearButtonShowsForAnyText()
{
    QFETCH(QString, text);
    QFETCH(bool, shown);
    SearchField field(210);
    field.show();
    field.setText(text);
    QCOMPARE(field.clearButton()->isVisible(), shown);

    SearchField typed(210);
    typed.show();
    QTest::keyClicks(typed.lineEdit(), text);
    QCOMPARE(typed.clearButton()->isVisible(), shown);
}

void InputFieldsTest::clearButtonEmptiesTheText()
{
    SearchField field(210);
    field.show();
    QSignalSpy edits(&field, &SearchField::textEdited);
    QTest::keyClicks(field.lineEdit(), QStringLiteral("ab"));
    QCOMPARE(edits.size(), 2);
    QCOMPARE(field.clearButton()->toolTip(), QStringLiteral("清空搜索"));
    QTest::mouseClick(field.clearButton(), Qt::LeftButton);
    QCOMPARE(field.text(), QString());
    QCOMPARE(edits.last().first().toString(), QString());
    QVERIFY(!field.clearButton()->isVisible());
}

void InputFieldsTest::searchFieldWidth()
{
    QWidget host;
    auto *row = new QHBoxLayout(&host);
    auto *fixed = new SearchField(210, &host);
    auto *stretching = new SearchField(std::nullopt, &host);
    row->addWidget(fixed);
    row->addWidget(stretching);
    host.resize(900, 60);
    host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&host));
    QCOMPARE(fixed->width(), 210);
    QCOMPARE(fixed->height(), 34);
    QVERIFY(stretching->width() > 600);
}

QTEST_MAIN(InputFieldsTest)
#include "tst_inputfields.moc"
