#include "BoardFixtures.h"
#include "FakeSettings.h"
#include "FakeSyncService.h"
#include "MainWindow.h"
#include "ScriptedIdentityProvider.h"
#include "SignInPanel.h"
#include "services/SignInService.h"
#include "stores/BoardStore.h"
#include "support/GlassFrame.h"

#include <QAbstractButton>
#include <QLabel>
#include <QtTest>

// The whole window on a screen scaled by 2, signed in on a machine whose keyring refused the token.
class TestHiDpi : public QObject
{
    Q_OBJECT

private slots:
    void everySymbolIsDrawnForTheScreen();
};

void TestHiDpi::everySymbolIsDrawnForTheScreen()
{
    RecordingPersistence persistence;
    persistence.stored = Board{makeThought("写周报"), makeThought("修好自行车")};
    BoardStore store(persistence.persistence());
    FakeSettings settings;
    SignInService auth(std::make_unique<ScriptedIdentityProvider>(
                           std::make_shared<ScriptedIdentityProvider::Script>()),
                       settings.open());
    const IdentityCredential credential{"ada", std::nullopt, QString("<b>ada</b>@example.org"),
                                        IdentityCredential::Notice::noKeyring};
    auth.handle(Authorization{credential});
    FakeSyncService sync;
    MainWindow window(AppServices{&store, &auth, &sync});
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.devicePixelRatioF(), 2.0);

    // A 1x bitmap shown at 2x is the blur this guards against: each symbol carries twice the
    // pixels of the room it takes.
    int labels = 0;
    for (const QLabel *label : window.findChildren<QLabel *>()) {
        const QPixmap pixmap = label->pixmap();
        if (pixmap.isNull())
            continue;
        ++labels;
        QCOMPARE(pixmap.devicePixelRatio(), 2.0);
        QVERIFY(pixmap.deviceIndependentSize().width() >= 14); // the smallest symbol's points
    }
    int buttons = 0;
    for (const QAbstractButton *button : window.findChildren<QAbstractButton *>()) {
        if (button->icon().isNull())
            continue;
        ++buttons;
        const QSize room = button->icon().actualSize(button->iconSize());
        QVERIFY2(button->icon().pixmap(button->iconSize(), 2.0).width() >= 2 * room.width(),
                 qPrintable(button->accessibleName()));
    }
    QVERIFY(labels >= 3 && buttons >= 2);

    // The person is told, where their name is, that the sign-in ends with this launch.
    const auto *panel = window.findChild<SignInPanel *>();
    QCOMPARE(panel->currentLayout(), SignInPanel::Layout::signedIn);
    QVERIFY(panel->signedInRow()->toolTip().contains("没有可用的密钥环"));
    // The provider's own words show as written, never as markup.
    QCOMPARE(panel->displayNameLabel()->textFormat(), Qt::PlainText);
}

int main(int argc, char **argv)
{
    qputenv("QT_SCALE_FACTOR", "2");
    QApplication app(argc, argv);
    TestHiDpi test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_hidpi.moc"
