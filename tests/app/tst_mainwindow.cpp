#include "AppFixture.h"
#include "BoardFileNotice.h"
#include "ContentView.h"
#include "EditorOverlay.h"
#include "KanbanBoardView.h"
#include "KanbanCardList.h"
#include "KanbanColumn.h"
#include "MainWindow.h"
#include "NoIdentityProvider.h"
#include "OidcProviderFixture.h"
#include "PortalAppearance.h"
#include "QuickComposer.h"
#include "SearchField.h"
#include "SignInPanel.h"
#include "SyncStatusPill.h"
#include "ThoughtEditorView.h"
#include "WebDavServer.h"
#include "services/SignInService.h"
#include "support/GlassSurface.h"
#include "support/TextStyles.h"

#include <QAccessible>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QMetaEnum>
#include <QPushButton>
#include <QStyle>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextLayout>
#include <QtTest>

Q_DECLARE_METATYPE(WebDavServer::Kind)

// The real window and wiring over A (with a note), B, C (未开始), D (进行中) and E (归档), the
// caret in the composer, worked by keyboard and read as a screen reader reads it.
class MainWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // The dialog keeps what it connects where the person's settings live: here, nowhere.
        QVERIFY(m_home.isValid());
        qputenv("XDG_CONFIG_HOME", m_home.path().toUtf8());
        for (const char *name :
             {"LUMARET_CLOUD_URL", "LUMARET_OIDC_ISSUER", "LUMARET_OIDC_CLIENT_ID"})
            qunsetenv(name);
    }
    void init();
    void cleanup()
    {
        QApplication::setPalette(QApplication::style()->standardPalette());
        m_window.reset();
        m_app.reset();
    }
    void keysWorkTheBoard_data();
    void keysWorkTheBoard();
    void openEditorKeepsTheKeyboard();
    void screenReaderSeesTheWindow_data();
    void screenReaderSeesTheWindow();
    void chineseIsDrawnInOneFace();
    void signInIsCheckedOnlyOnceTheWindowIsOnScreen();
    void textAndFocusStandOutInBothAppearances_data();
    void textAndFocusStandOutInBothAppearances();
    void quittingAsksWhileWordsAreOnlyInMemory_data();
    void quittingAsksWhileWordsAreOnlyInMemory();
    void syncSettingsConnectOnlyToAServerThatGuardsWrites_data();
    void syncSettingsConnectOnlyToAServerThatGuardsWrites();
    void signInWithoutAProviderOpensItsSettings();
    void noTextNamesAnotherPlatform();

private:
    void press(const QString &keys);
    QString board() const;
    QString focusedCard() const;
    std::unique_ptr<AppFixture> m_app;
    std::unique_ptr<MainWindow> m_window;
    QTemporaryDir m_home;
};

void MainWindowTest::init()
{
    Thought withNote = makeThought("A");
    withNote.note = "周五前";
    m_app = std::make_unique<AppFixture>(Board{withNote, makeThought("B"), makeThought("C"),
                                               makeThought("D", ThoughtStatus::inProgress),
                                               makeThought("E", ThoughtStatus::archived)});
    m_window = std::make_unique<MainWindow>(m_app->services());
    QCOMPARE(m_window->windowTitle(), "Lumaret");
    m_window->bringToFront();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    QVERIFY(m_window->contentView()->composer()->isFocused());
}

void MainWindowTest::textAndFocusStandOutInBothAppearances_data()
{
    QTest::addColumn<PortalAppearance::ColorScheme>("scheme");
    QTest::addColumn<int>("scale");
    for (int scale : {1, 2}) {
        QTest::addRow("light, scale %d", scale) << PortalAppearance::ColorScheme::light << scale;
        QTest::addRow("dark, scale %d", scale) << PortalAppearance::ColorScheme::dark << scale;
    }
}

// WCAG's contrast of the lightest and the darkest colour in \a area of \a shot: the one furthest
// in luminance from the area's median, which is what lies behind the text or ring there.
static double contrastIn(const QImage &shot, const QRect &area)
{
    const auto luminance = [](QRgb pixel) {
        const auto linear = [](int channel) {
            const double c = channel / 255.0;
            return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * linear(qRed(pixel)) + 0.7152 * linear(qGreen(pixel)) +
               0.0722 * linear(qBlue(pixel));
    };
    std::vector<double> values;
    const QRect inside = area.intersected(shot.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x)
            values.push_back(luminance(shot.pixel(x, y)));
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const double behind = values[values.size() / 2];
    const double front =
        behind - values.front() > values.back() - behind ? values.front() : values.back();
    return (qMax(front, behind) + 0.05) / (qMin(front, behind) + 0.05);
}

void MainWindowTest::textAndFocusStandOutInBothAppearances()
{
    QFETCH(PortalAppearance::ColorScheme, scheme);
    QFETCH(int, scale);
    const bool dark = scheme == PortalAppearance::ColorScheme::dark;
    QApplication::setPalette(dark ? PortalAppearance::paletteFor(scheme)
                                  : QApplication::style()->standardPalette());
    QTRY_COMPARE(isDarkAppearance(m_window->contentView()->palette()), dark);
    press("Tab"); // The ring on A.
    ContentView *content = m_window->contentView();
    QImage shot(m_window->size() * scale, QImage::Format_ARGB32_Premultiplied);
    shot.setDevicePixelRatio(scale);
    m_window->render(&shot);
    // What is measured: a widget's area or part of it, and the ratio it must reach.
    QList<std::tuple<QString, QRect, double>> probes;
    const auto in = [&](QWidget *widget, QRect part = {}) {
        return QRect(widget->mapTo(m_window.get(), QPoint(0, 0)),
                     part.isNull() ? widget->size() : part.size())
            .translated(part.topLeft());
    };
    for (QLabel *label : content->findChildren<QLabel *>())
        if (label->isVisible() && !label->text().isEmpty())
            probes.append({label->text(), in(label), 4.5});
    probes.append({"menu bar", in(m_window->menuBar()), 4.5});
    probes.append({"search placeholder", in(content->searchField()->lineEdit()), 4.5});
    probes.append({"composer placeholder", in(content->composer()->lineEdit()), 4.5});
    probes.append({"pill", in(content->syncStatusPill()), 4.5});
    for (ThoughtStatus status : ThoughtStatuses::allCases) {
        auto *header = content->board()->column(status)->findChild<KanbanColumnHeader *>();
        const QString name = ThoughtStatuses::title(status);
        probes.append({name + " title", in(header, {28, 0, 60, header->height()}), 4.5});
        probes.append(
            {name + " count", in(header, {header->width() - 24, 0, 24, header->height()}), 4.5});
    }
    KanbanCardList *cards = content->board()->column(ThoughtStatus::notStarted)->cardList();
    const QRect a = cards->cardRect(m_app->store()->thoughts().at(0).id);
    const QRect b = cards->cardRect(m_app->store()->thoughts().at(1).id);
    probes.append({"card title", in(cards->viewport(), {a.left() + 24, a.top() + 8, 60, 24}), 4.5});
    probes.append(
        {"card age", in(cards->viewport(), {b.left() + 26, b.bottom() - 28, 60, 22}), 4.5});
    probes.append({"focus ring", in(cards->viewport(), {a.left() - 6, a.center().y(), 9, 4}), 3});
    QStringList failures;
    for (const auto &[name, area, minimum] : probes) {
        const double ratio = contrastIn(shot, QRect(area.topLeft() * scale, area.size() * scale));
        if (ratio < minimum)
            failures.append(QString("%1 %2:1").arg(name).arg(ratio, 0, 'f', 2));
    }
    QVERIFY2(failures.isEmpty(), qPrintable(failures.join(", ")));
}

void MainWindowTest::quittingAsksWhileWordsAreOnlyInMemory_data()
{
    QTest::addColumn<bool>("editorEdited");
    QTest::addColumn<bool>("diskRefuses");
    QTest::addColumn<QStringList>("answers"); // One for each question, in turn.
    QTest::addColumn<bool>("closes");
    QTest::addColumn<QString>("firstTitle"); // Of the board last saved.
    QTest::newRow("nothing unsaved") << false << false << QStringList() << true << "A";
    QTest::newRow("editor: save") << true << false << QStringList{"保存"} << true << "A 改";
    QTest::newRow("editor: don't save") << true << false << QStringList{"不保存"} << true << "A";
    QTest::newRow("editor: cancel") << true << false << QStringList{"取消"} << false << "A";
    QTest::newRow("disk refuses: cancel") << false << true << QStringList{"取消"} << false << "A";
    QTest::newRow("disk refuses: quit anyway")
        << false << true << QStringList{"仍然退出"} << true << "A";
    QTest::newRow("disk refuses, then takes it: retry")
        << false << true << QStringList{"重试"} << true << "只在内存";
    QTest::newRow("editor saved onto a refusing disk: asked again")
        << true << true << QStringList{"保存", "取消"} << false << "A";
}

void MainWindowTest::quittingAsksWhileWordsAreOnlyInMemory()
{
    QFETCH(bool, editorEdited);
    QFETCH(bool, diskRefuses);
    QFETCH(QStringList, answers);
    QFETCH(bool, closes);
    QFETCH(QString, firstTitle);
    QApplication::setQuitOnLastWindowClosed(false);
    ContentView *content = m_window->contentView();
    if (diskRefuses) {
        m_app->persistence.refusal =
            BoardFileProblem{BoardFileProblem::Kind::unwritable, "/data/board.json", ENOSPC};
        m_app->store()->addQuickThought("只在内存");
        // Said in the window for as long as it is true, with the reason.
        QVERIFY(content->fileNotice()->isVisibleTo(m_window.get()));
        QVERIFY(content->fileNotice()->textLabel()->text().contains("磁盘已满"));
    }
    if (editorEdited) {
        content->openEditor(m_app->store()->thoughts().at(diskRefuses ? 1 : 0));
        content->editor()->titleField()->setText("A 改");
    }
    QTimer answering;
    connect(&answering, &QTimer::timeout, this, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || answers.isEmpty())
            return;
        const QString answer = answers.takeFirst();
        if (answer == "重试")
            m_app->persistence.refusal.reset();
        for (QAbstractButton *button : box->buttons()) {
            if (button->text() == answer)
                return button->click();
        }
    });
    answering.start(20);
    QCOMPARE(m_window->close(), closes);
    QVERIFY(answers.isEmpty());
    QCOMPARE(m_app->persistence.stored->first().title, firstTitle);
    QCOMPARE(m_app->store()->hasUnsavedChanges(), diskRefuses && firstTitle == "A");
}

void MainWindowTest::press(const QString &keys)
{
    for (const QString &key : keys.split(' ')) {
        if (key == "search")
            m_window->contentView()->searchField()->lineEdit()->setFocus();
        else if (key == "click") // into the empty column 已完成
            QTest::mouseClick(m_window->contentView()
                                  ->board()
                                  ->column(ThoughtStatus::completed)
                                  ->cardList()
                                  ->viewport(),
                              Qt::LeftButton);
        else if (key.startsWith('"'))
            QTest::keyClicks(QApplication::focusWidget(), key.mid(1, key.size() - 2));
        else
            QTest::keySequence(QApplication::focusWidget(), QKeySequence(key));
    }
}

// The columns' titles, separated by "|".
QString MainWindowTest::board() const
{
    QStringList columns;
    for (ThoughtStatus status : ThoughtStatuses::allCases)
        columns.append(titles(m_app->store()->visibleThoughtsByStatus()[status]).join(' '));
    return columns.join('|');
}

// The card with the ring: the focused list's current card, while that list still shows it.
QString MainWindowTest::focusedCard() const
{
    if (ThoughtEditorView *editor = m_window->contentView()->editor())
        return "editor on " + editor->thought().title;
    if (m_window->contentView()->composer()->isFocused())
        return "composer";
    if (auto *button = qobject_cast<QPushButton *>(QApplication::focusWidget()))
        return button->text();
    const auto *cards = qobject_cast<KanbanCardList *>(QApplication::focusWidget());
    for (const Thought &thought : cards ? cards->thoughts() : Board()) {
        if (thought.id == cards->currentCard())
            return thought.title;
    }
    return {};
}

void MainWindowTest::keysWorkTheBoard_data()
{
    // The keys pressed, the card with the focus ring, the board: "A B C|D||E" is the start.
    QTest::addColumn<QString>("run");
    QTest::newRow("Tab: first card") << "Tab => A => A B C|D||E";
    QTest::newRow("Down stops at the end") << "Tab Down Down Down => C => A B C|D||E";
    QTest::newRow("Up from the end") << "Tab End Up => B => A B C|D||E";
    QTest::newRow("Right passes an empty column") << "Tab Right Right => E => A B C|D||E";
    QTest::newRow("Left back to the first column") << "Tab Right Left => A => A B C|D||E";
    QTest::newRow("Return opens") << "Tab Down Return => editor on B => A B C|D||E";
    QTest::newRow("Ctrl+Return advances") << "Tab Down Ctrl+Return => B => A C|D B||E";
    QTest::newRow("Ctrl+Shift+Right") << "Tab Ctrl+Shift+Right => A => B C|D A||E";
    QTest::newRow("Ctrl+Shift+Left stops at the first column")
        << "Tab Ctrl+Shift+Left => A => A B C|D||E";
    QTest::newRow("Ctrl+Shift+Right stops at the last column")
        << "Tab Right Right Ctrl+Shift+Right => E => A B C|D||E";
    QTest::newRow("Ctrl+Shift+Down") << "Tab Ctrl+Shift+Down => A => B A C|D||E";
    QTest::newRow("Ctrl+Shift+Up") << "Tab End Ctrl+Shift+Up => C => A C B|D||E";
    QTest::newRow("Delete: next card") << "Tab Down Delete => C => A C|D||E";
    QTest::newRow("Delete the only: next column") << "Tab Right Delete => A => A B C|||E";
    QTest::newRow("Tab passes an empty column")
        << "Tab Delete Delete Delete Ctrl+N Tab => D => |D||E";
    QTest::newRow("Ctrl+N from a card") << "Tab Down Ctrl+N => composer => A B C|D||E";
    QTest::newRow("Ctrl+N from the search field") << "search Ctrl+N => composer => A B C|D||E";
    QTest::newRow("Ctrl+Shift+E archives the completed")
        << "Tab Ctrl+Return Ctrl+Return Ctrl+Shift+E =>  => B C|D||E A";
    QTest::newRow("Ctrl+Z in the composer just emptied by an add")
        << "\"x\" Return Ctrl+Z => composer => A B C|D||E";
    QTest::newRow("Ctrl+Shift+Z there adds it again")
        << "\"x\" Return Ctrl+Z Ctrl+Shift+Z => composer => x A B C|D||E";
    QTest::newRow("Ctrl+Z takes typed words back first")
        << "\"x\" Return \"y\" Ctrl+Z => composer => x A B C|D||E";
    QTest::newRow("a click on the board takes the keys from the composer")
        << "\"x\" Return \"y\" click Ctrl+Z =>  => A B C|D||E";
    QTest::newRow("Delete, then Tab to the note's 撤销")
        << "Tab Down Delete Tab Tab Tab => 撤销 => A C|D||E";
    QTest::newRow("the note's 撤销 takes it back")
        << "Tab Down Delete Tab Tab Tab Space => B => A B C|D||E";
    QTest::newRow("undo: the focus goes with the card")
        << "Tab Down Ctrl+Return Ctrl+Z => B => A B C|D||E";
    QTest::newRow("editor save to another column: the focus goes with the card")
        << "Tab Down Return Tab Right Return => B => A C|B D||E";
}

void MainWindowTest::keysWorkTheBoard()
{
    QFETCH(QString, run);
    const QStringList parts = run.split(" => ");
    press(parts[0]);
    QCOMPARE(focusedCard(), parts[1]);
    QCOMPARE(board(), parts[2]);
}

void MainWindowTest::openEditorKeepsTheKeyboard()
{
    ContentView *content = m_window->contentView();
    press("Tab Down Return");
    QVERIFY(QTest::qWaitFor([&] { return !content->editorOverlay()->isAnimating(); }));
    for (const char *key : {"Tab", "Shift+Tab"}) {
        QSet<QWidget *> visited;
        for (int step = 0; step < 12; ++step) {
            press(key);
            QVERIFY(content->editor()->isAncestorOf(QApplication::focusWidget()));
            visited.insert(QApplication::focusWidget());
        }
        QVERIFY(visited.size() >= 4); // round through the panel, not stuck on one control
    }
    // The window's commands would act behind the backdrop: nothing reaches the board.
    press("Ctrl+N Ctrl+Shift+E");
    content->composer()->setFocused(); // as a program might ask
    QVERIFY(!content->composer()->isFocused());
    QVERIFY(m_app->persistence.saves.isEmpty());
    QCOMPARE(focusedCard(), "editor on B");
    press("Escape");
    QCOMPARE(focusedCard(), "B");
}

void MainWindowTest::screenReaderSeesTheWindow_data()
{
    // An object's role, name and description, as assistive technology is told them.
    QTest::addColumn<QString>("object");
    QTest::newRow("composer") << "EditableText\t记录瞬间想法\t输入想法后按回车添加到未开始";
    QTest::newRow("search") << "EditableText\t搜索\t按标题、备注或状态筛选看板";
    QTest::newRow("pill")
        << "Button\t云同步：本机\t当前保存在本机；点按这里连接 WebDAV 文件夹即可同步到云端";
    QTest::newRow("failed sign-in: its reason")
        << "Button\t重新登录\t无法连接登录服务，请检查网络后重试。";
    QTest::newRow("column and count") << "Grouping\t未开始\t3 个想法";
    QTest::newRow("card with a note") << "ListItem\tA\t未开始，\\S+前，有备注";
    QTest::newRow("card without a note") << "ListItem\tD\t进行中，\\S+前";
}

void MainWindowTest::screenReaderSeesTheWindow()
{
    QFETCH(QString, object);
    m_app->services().authService->handle(
        AuthorizationError{AuthorizationError::Kind::providerUnreachable});
    QStringList tree;
    const std::function<void(QAccessibleInterface *)> walk = [&](QAccessibleInterface *node) {
        tree.append(QString(QMetaEnum::fromType<QAccessible::Role>().valueToKey(node->role())) +
                    '\t' + node->text(QAccessible::Name) + '\t' +
                    node->text(QAccessible::Description));
        for (int i = 0; i < node->childCount(); ++i)
            walk(node->child(i));
    };
    walk(QAccessible::queryAccessibleInterface(m_window.get()));
    QVERIFY2(tree.indexOf(QRegularExpression(QRegularExpression::anchoredPattern(object))) >= 0,
             qPrintable(tree.join('\n')));
}

void MainWindowTest::chineseIsDrawnInOneFace()
{
    // Left to fontconfig, the menus' Chinese would outside a Chinese locale take the Japanese
    // forms of the same characters.
    auto hanFace = [](const QFont &font) {
        QTextLayout layout(QStringLiteral("编辑"), font);
        layout.beginLayout();
        layout.createLine();
        layout.endLayout();
        return layout.glyphRuns().value(0).rawFont().familyName();
    };
    QCOMPARE(hanFace(m_window->menuBar()->font()), hanFace(textStyleFont(TextStyle::body)));
}

void MainWindowTest::signInIsCheckedOnlyOnceTheWindowIsOnScreen()
{
    auto script = std::make_shared<ScriptedIdentityProvider::Script>();
    script->credentialAnswer = CredentialState::authorized;
    FakeSettings settings;
    settings.open()->setValue(SignInService::userIdentifierKey(), "ada");
    RecordingPersistence persistence;
    LumaretApp app(
        AppDependencies{persistence.persistence(),
                        [script] { return std::make_unique<ScriptedIdentityProvider>(script); },
                        [&settings] { return settings.open(); },
                        [] { return std::unique_ptr<RemoteBoard>(); }},
        ServiceStart::afterFirstFrame);
    MainWindow window(app.services());
    app.startServicesAfterFirstFrame(&window);
    QTest::qWait(50);
    QCOMPARE(script->askedUsers, QStringList());
    window.show();
    // Sooner than the fallback for a window that is never painted.
    QTRY_COMPARE_WITH_TIMEOUT(script->askedUsers, QStringList{"ada"}, 1000);
}

void MainWindowTest::syncSettingsConnectOnlyToAServerThatGuardsWrites_data()
{
    QTest::addColumn<WebDavServer::Kind>("kind");
    QTest::addColumn<QString>("refusal");
    QTest::newRow("apache") << WebDavServer::Kind::apache << QString();
    QTest::newRow("rclone: ignores If-Match") << WebDavServer::Kind::rclone << "未连接：.*If-";
}

void MainWindowTest::syncSettingsConnectOnlyToAServerThatGuardsWrites()
{
    QFETCH(WebDavServer::Kind, kind);
    QFETCH(QString, refusal);
    WebDavServer server(kind);
    QString error;
    QVERIFY2(server.start(&error), qPrintable(error));
    SyncService *sync = m_app->services().syncService;
    QTest::mouseClick(m_window->contentView()->syncStatusPill(), Qt::LeftButton);
    SyncSettingsDialog *dialog = m_window->syncSettings();
    QVERIFY(dialog && dialog->isVisible());
    QTest::keyClicks(dialog->urlField(), server.collectionUrl().toString());
    QTest::keyClicks(dialog->userField(), server.user());
    dialog->passwordField()->insert(server.password()); // keys type only ASCII
    QTest::keyClick(dialog->passwordField(), Qt::Key_Return);
    // A machine without a keyring connects for this session, once the person agrees.
    QTRY_VERIFY_WITH_TIMEOUT(sync->hasCloudStore() || dialog->sessionOnlyButton()->isVisible() ||
                                 dialog->cloudMessage()->text().startsWith("未连接"),
                             20000);
    if (!refusal.isEmpty()) {
        QVERIFY2(dialog->cloudMessage()->text().contains(QRegularExpression(refusal)),
                 qPrintable(dialog->cloudMessage()->text()));
        QVERIFY(!sync->hasCloudStore());
        return;
    }
    if (!sync->hasCloudStore())
        QTest::mouseClick(dialog->sessionOnlyButton(), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(sync->state().kind, SyncService::State::Kind::ready, 20000);
    QVERIFY(dialog->cloudStatus()->text().contains(server.collectionUrl().host()));
    QVERIFY(sync->lastInSync().isValid());
    QTest::mouseClick(dialog->disconnectButton(), Qt::LeftButton);
    QVERIFY(!sync->hasCloudStore());
    QTRY_VERIFY(dialog->cloudStatus()->text().startsWith("未连接"));
    QCOMPARE(m_app->store()->thoughts().size(), 5);
}

void MainWindowTest::signInWithoutAProviderOpensItsSettings()
{
    SignInService *auth = m_app->services().authService;
    auth->setProvider(std::make_unique<NoIdentityProvider>());
    SignInButton *button = m_window->contentView()->signInPanel()->signInButton();
    QCOMPARE(button->text(), "设置登录…");
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(auth->state().kind, SignInService::SignInState::Kind::signedOut);
    QVERIFY(m_window->syncSettings() && m_window->syncSettings()->isVisible());
    QVERIFY(m_window->syncSettings()->issuerField()->isVisible());
    // Whatever the panel shows next, the rest of the header stays where it is.
    const QWidget *pill = m_window->contentView()->syncStatusPill();
    const QPoint where = pill->mapTo(m_window.get(), QPoint());
    auth->handle(AuthorizationError{AuthorizationError::Kind::providerUnreachable});
    QTest::qWait(20);
    QCOMPARE(pill->mapTo(m_window.get(), QPoint()), where);
    auth->handle(Authorization{IdentityCredential{"u", {}, QString(60, u'长'), {}}});
    QTest::qWait(20);
    QCOMPARE(pill->mapTo(m_window.get(), QPoint()), where);

    // A provider that passes the check is signed in with from now on, without a restart.
    OidcProviderFixture provider;
    if (!provider.start() && provider.shouldSkip())
        QSKIP(qPrintable(provider.problem()));
    QVERIFY2(provider.problem().isEmpty(), qPrintable(provider.problem()));
    auth->signOut();
    SyncSettingsDialog *dialog = m_window->syncSettings();
    dialog->issuerField()->setText(provider.issuer());
    dialog->clientIdField()->setText("lumaret");
    QTest::keyClick(dialog->clientIdField(), Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(auth->hasProvider(), 10000);
    QCOMPARE(button->text(), "通过 127.0.0.1 登录");
}

void MainWindowTest::noTextNamesAnotherPlatform()
{
    m_window->showSyncSettings(SyncSettingsDialog::Page::cloud);
    QStringList texts;
    // The dialog is one of the window's children.
    QList<QWidget *> widgets = m_window->findChildren<QWidget *>();
    widgets << m_window.get();
    for (QWidget *widget : std::as_const(widgets)) {
        texts << widget->toolTip() << widget->accessibleName() << widget->accessibleDescription()
              << widget->windowTitle();
        if (auto *label = qobject_cast<QLabel *>(widget))
            texts << label->text();
        if (auto *button = qobject_cast<QAbstractButton *>(widget))
            texts << button->text();
        if (auto *edit = qobject_cast<QLineEdit *>(widget))
            texts << edit->placeholderText();
        if (auto *tabs = qobject_cast<QTabWidget *>(widget))
            for (int i = 0; i < tabs->count(); ++i)
                texts << tabs->tabText(i);
        for (QAction *action : widget->actions())
            texts << action->text();
    }
    QCOMPARE(
        texts.filter(QRegularExpression("Apple|iCloud", QRegularExpression::CaseInsensitiveOption)),
        QStringList());
}

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
