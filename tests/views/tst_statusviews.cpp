#include "AppleSignInPanel.h"
#include "FakeSettings.h"
#include "FakeSyncService.h"
#include "NoIdentityProvider.h"
#include "ScriptedIdentityProvider.h"
#include "SyncStatusPill.h"
#include "services/AppleIDAuthService.h"
#include "support/GlassFrame.h"
#include "support/SymbolIcon.h"
#include "support/SystemColors.h"

#include <QLabel>
#include <QPushButton>
#include <QStyleFactory>
#include <QTest>
#include <QToolButton>

using State = SyncService::State;
using SignInState = AppleIDAuthService::SignInState;
using Layout = AppleSignInPanel::Layout;
Q_DECLARE_METATYPE(State)
Q_DECLARE_METATYPE(SignInState)
Q_DECLARE_METATYPE(Layout)

namespace {

QPalette darkPalette()
{
    QPalette palette;
    palette.setColor(QPalette::Window, QColor(36, 36, 38));
    palette.setColor(QPalette::WindowText, QColor(235, 235, 240));
    palette.setColor(QPalette::Base, QColor(28, 28, 30));
    palette.setColor(QPalette::Text, QColor(235, 235, 240));
    palette.setColor(QPalette::Button, QColor(58, 58, 60));
    palette.setColor(QPalette::ButtonText, QColor(235, 235, 240));
    palette.setColor(QPalette::Highlight, QColor(10, 132, 255));
    return palette;
}

/// A sign-in service whose state a test reaches through the provider's scripted answers.
struct AuthFixture
{
    FakeSettings settings;
    std::shared_ptr<ScriptedIdentityProvider::Script> script =
        std::make_shared<ScriptedIdentityProvider::Script>();
    std::unique_ptr<AppleIDAuthService> service;

    explicit AuthFixture(const SignInState &state)
    {
        if (state.kind == SignInState::Kind::checking)
            settings.open()->setValue(AppleIDAuthService::userIdentifierKey(), QStringLiteral("u"));
        service = std::make_unique<AppleIDAuthService>(
            std::make_unique<ScriptedIdentityProvider>(script), settings.open());
        if (state.kind == SignInState::Kind::signedIn)
            service->handle(
                Authorization{IdentityCredential{QStringLiteral("u"), std::nullopt, state.text}});
        if (state.kind == SignInState::Kind::failed)
            service->handle(AuthorizationError{state.text});
    }
};

} // namespace

class StatusViewsTest : public QObject
{
    Q_OBJECT

private slots:
    void pillShowsEachState_data();
    void pillShowsEachState();
    void pillFollowsTheService();
    void panelShowsOneLayoutPerState_data();
    void panelShowsOneLayoutPerState();
    void longNameStaysOnOneLine();
    void signInButtonFollowsTheAppearance();
    void failedSignInOffersAWayBack();
    void signOutReturnsToTheSignInButton();
};

void StatusViewsTest::pillShowsEachState_data()
{
    QTest::addColumn<State>("state");
    QTest::addColumn<QString>("word");
    QTest::addColumn<QString>("tooltip");
    QTest::addColumn<QString>("symbol");
    QTest::addColumn<QColor>("color");
    const QPalette palette = QApplication::palette();
    QTest::newRow("local only") << State::localOnly() << QStringLiteral("本机")
                                << QStringLiteral("当前保存在本机，登录 Apple ID 后同步到 iCloud")
                                << QStringLiteral("icloud.and.arrow.up")
                                << SystemColors::secondaryLabel(palette);
    QTest::newRow("ready") << State::cloudKitReady() << QStringLiteral("iCloud")
                           << QStringLiteral("iCloud 同步已就绪") << QStringLiteral("icloud.fill")
                           << SystemColors::green(palette);
    QTest::newRow("syncing") << State::syncing() << QStringLiteral("同步中")
                             << QStringLiteral("正在上传同步")
                             << QStringLiteral("icloud.and.arrow.up")
                             << SystemColors::blue(palette);
    const QString longMessage = QStringLiteral("服务器拒绝了请求：").repeated(12);
    QTest::newRow("failed with a long message")
        << State::failed(longMessage) << QStringLiteral("同步异常") << longMessage
        << QStringLiteral("exclamationmark.triangle.fill") << SystemColors::red(palette);
}

void StatusViewsTest::pillShowsEachState()
{
    QFETCH(State, state);
    QFETCH(QString, word);
    QFETCH(QString, tooltip);
    QFETCH(QString, symbol);
    QFETCH(QColor, color);
    FakeSyncService sync;
    sync.setStateForTest(state);
    SyncStatusPill pill(&sync);
    pill.show();
    QCOMPARE(pill.word(), word);
    QCOMPARE(pill.toolTip(), tooltip);
    QCOMPARE(pill.visualStyle().symbolName, symbol);
    QCOMPARE(pill.visualStyle().color, color);
    QCOMPARE(pill.tint(), std::optional<QColor>(color));
    QCOMPARE(pill.height(), 34);
    // However long the message, the pill stays a small one-line badge.
    QVERIFY(pill.sizeHint().width() < 120);
    QVERIFY(hasSymbol(symbol));
}

void StatusViewsTest::pillFollowsTheService()
{
    FakeSyncService sync;
    SyncStatusPill pill(&sync);
    QCOMPARE(pill.word(), QStringLiteral("本机"));
    sync.setStateForTest(State::syncing());
    QCOMPARE(pill.word(), QStringLiteral("同步中"));
    sync.setStateForTest(State::cloudKitReady());
    QCOMPARE(pill.word(), QStringLiteral("iCloud"));
}

void StatusViewsTest::panelShowsOneLayoutPerState_data()
{
    QTest::addColumn<SignInState>("state");
    QTest::addColumn<Layout>("layout");
    QTest::newRow("signed out") << SignInState::signedOut() << Layout::signedOut;
    QTest::newRow("checking") << SignInState::checking() << Layout::checking;
    QTest::newRow("signed in") << SignInState::signedIn(QStringLiteral("林晓")) << Layout::signedIn;
    QTest::newRow("failed") << SignInState::failed(QStringLiteral("已取消")) << Layout::failed;
}

void StatusViewsTest::panelShowsOneLayoutPerState()
{
    QFETCH(SignInState, state);
    QFETCH(Layout, layout);
    AuthFixture auth(state);
    QCOMPARE(auth.service->state(), state);
    AppleSignInPanel panel(auth.service.get());
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    QCOMPARE(panel.currentLayout(), layout);
    switch (layout) {
    case Layout::signedOut:
        QCOMPARE(panel.signInButton()->size(), QSize(148, 34));
        QVERIFY(panel.signInButton()->isVisible());
        break;
    case Layout::checking:
        QCOMPARE(panel.checkingLabel()->height(), 34);
        QCOMPARE(panel.checkingLabel()->cornerRadius(), 12);
        QCOMPARE(panel.checkingLabel()->interaction(), GlassInteraction::passive);
        break;
    case Layout::signedIn:
        QCOMPARE(panel.displayNameLabel()->text(), QStringLiteral("林晓"));
        QCOMPARE(panel.signedInRow()->height(), 34);
        QCOMPARE(panel.signedInRow()->interaction(), GlassInteraction::interactive);
        QCOMPARE(panel.signOutButton()->toolTip(), QStringLiteral("退出登录"));
        break;
    case Layout::failed:
        QCOMPARE(panel.retryButton()->text(), QStringLiteral("重新登录"));
        QCOMPARE(panel.retryButton()->toolTip(), QStringLiteral("已取消"));
        QVERIFY(panel.retryButton()->isVisible());
        break;
    }
    // The panel is as wide as the layout it shows, not as the widest of the four.
    QVERIFY(panel.sizeHint().width() <= 160);
}

void StatusViewsTest::longNameStaysOnOneLine()
{
    const QString longName = QStringLiteral("Maximilian Alexander von Hohenberg-Schwarzenstein");
    AuthFixture auth(SignInState::signedIn(longName));
    QWidget header;
    header.setFixedWidth(200);
    auto *panel = new AppleSignInPanel(auth.service.get(), &header);
    panel->setGeometry(0, 0, 200, 34);
    header.show();
    QVERIFY(QTest::qWaitForWindowExposed(&header));
    ElidedLabel *label = panel->displayNameLabel();
    QCOMPARE(label->fullText(), longName);
    QVERIFY(label->text().endsWith(QStringLiteral("…")));
    QCOMPARE(label->height(), label->fontMetrics().height());
    QCOMPARE(panel->signedInRow()->height(), 34);
}

void StatusViewsTest::signInButtonFollowsTheAppearance()
{
    AuthFixture auth(SignInState::signedOut());
    AppleSignInPanel panel(auth.service.get());
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    // Sample inside the button, clear of the rounded corners and of the label.
    auto fillAt = [&panel] {
        const QImage image = panel.signInButton()->grab().toImage();
        return image.pixelColor(int(4 * image.devicePixelRatio()),
                                int(17 * image.devicePixelRatio()));
    };
    QCOMPARE(fillAt(), QColor(Qt::black));
    panel.setPalette(darkPalette());
    QCOMPARE(fillAt(), QColor(Qt::white));
    QCOMPARE(panel.signInButton()->labelColor(), QColor(Qt::black));
    panel.setPalette(QPalette());
    QCOMPARE(fillAt(), QColor(Qt::black));
}

void StatusViewsTest::failedSignInOffersAWayBack()
{
    // This build has no identity provider: a sign-in fails, and the retry button starts over.
    FakeSettings settings;
    AppleIDAuthService service(std::make_unique<NoIdentityProvider>(), settings.open());
    AppleSignInPanel panel(&service);
    panel.show();
    QCOMPARE(panel.currentLayout(), Layout::signedOut);
    QTest::mouseClick(panel.signInButton(), Qt::LeftButton);
    QTRY_COMPARE(panel.currentLayout(), Layout::failed);
    QVERIFY(!service.state().text.isEmpty());
    QTest::mouseClick(panel.retryButton(), Qt::LeftButton);
    QCOMPARE(panel.currentLayout(), Layout::signedOut);
}

void StatusViewsTest::signOutReturnsToTheSignInButton()
{
    AuthFixture auth(SignInState::signedIn(QStringLiteral("a@example.org")));
    AppleSignInPanel panel(auth.service.get());
    panel.show();
    QTest::mouseClick(panel.signOutButton(), Qt::LeftButton);
    QCOMPARE(panel.currentLayout(), Layout::signedOut);
    QVERIFY(!auth.settings.open()->contains(AppleIDAuthService::userIdentifierKey()));
}

QTEST_MAIN(StatusViewsTest)
#include "tst_statusviews.moc"
