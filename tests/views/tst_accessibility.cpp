#include "BoardFixtures.h"
#include "FakeSettings.h"
#include "FakeSyncService.h"
#include "MainWindow.h"
#include "ScriptedIdentityProvider.h"
#include "services/AppleIDAuthService.h"
#include "stores/BoardStore.h"

#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

// Started by the test below as a screen reader would meet it: the real window under Xvfb, on a
// session bus with the AT-SPI registry. It prints the window's accessible tree, one object a
// line: role, name and description, separated by tabs.
static const char walker[] = R"(
import os, subprocess, sys, time, pyatspi
env = dict(os.environ, QT_QPA_PLATFORM='xcb', QT_LINUX_ACCESSIBILITY_ALWAYS_ON='1')
app = subprocess.Popen(sys.argv[1:], env=env)
def walk(node, lines):
    if node.getState().contains(pyatspi.STATE_SHOWING):
        lines.append('%s\t%s\t%s' % (node.getRoleName(), node.name, node.description))
    for child in node:
        if child is not None:
            walk(child, lines)
    return lines
try:
    # The window comes up a moment after the application registers: walk until the cards show.
    for attempt in range(100):
        time.sleep(0.3)
        roots = [a for a in pyatspi.Registry.getDesktop(0)
                 if a is not None and a.get_process_id() == app.pid]
        lines = walk(roots[0], []) if roots else []
        if any(line.startswith('list item') for line in lines):
            print('\n'.join(lines))
            break
finally:
    app.terminate()
    app.wait()
)";

class TestAccessibility : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void screenReaderSeesTheWindow_data();
    void screenReaderSeesTheWindow();

private:
    QStringList m_tree;
};

void TestAccessibility::initTestCase()
{
    QProcess walk;
    walk.start(QStringLiteral("dbus-run-session"),
               {QStringLiteral("--"), QStringLiteral("xvfb-run"), QStringLiteral("-a"),
                QStringLiteral("/usr/bin/python3"), QStringLiteral("-c"), QString::fromUtf8(walker),
                QCoreApplication::applicationFilePath(), QStringLiteral("--window")});
    QVERIFY(walk.waitForFinished(90000));
    m_tree = QString::fromUtf8(walk.readAllStandardOutput()).split(QLatin1Char('\n'));
    QVERIFY2(m_tree.size() > 10, walk.readAllStandardError().constData());
}

void TestAccessibility::screenReaderSeesTheWindow_data()
{
    QTest::addColumn<QString>("object");
    QTest::newRow("composer") << "text\t记录瞬间想法\t输入想法后按回车添加到未开始";
    QTest::newRow("search") << "text\t搜索\t按标题、备注或状态筛选看板";
    QTest::newRow("archive button") << "push button\t归档已完成\t归档已完成";
    QTest::newRow("pill") << "status bar\t本机\t当前保存在本机，登录 Apple ID 后同步到 iCloud";
    QTest::newRow("sign-in panel") << "panel\tApple ID 登录\t未登录";
    QTest::newRow("sign-in button") << "push button\t通过 Apple 登录\t";
    QTest::newRow("column and count") << "panel\t未开始\t2 个想法";
    QTest::newRow("empty column") << "panel\t已完成\t0 个想法";
    QTest::newRow("cards of a column") << "list\t进行中\t";
    QTest::newRow("card with a note") << "list item\t写周报\t未开始，\\S+前，有备注";
    QTest::newRow("card without a note") << "list item\t修好自行车\t进行中，\\S+前";
}

void TestAccessibility::screenReaderSeesTheWindow()
{
    QFETCH(QString, object);
    const QRegularExpression line(QRegularExpression::anchoredPattern(object));
    QVERIFY2(m_tree.indexOf(line) >= 0, qPrintable(m_tree.join(QLatin1Char('\n'))));
}

static int showWindow(int argc, char **argv)
{
    QApplication app(argc, argv);
    RecordingPersistence persistence;
    persistence.stored = Board{makeThought("写周报"), makeThought("整理书架"),
                               makeThought("修好自行车", ThoughtStatus::inProgress)};
    persistence.stored->first().note = QStringLiteral("周五前");
    BoardStore store(persistence.persistence());
    FakeSettings settings;
    AppleIDAuthService auth(std::make_unique<ScriptedIdentityProvider>(
                                std::make_shared<ScriptedIdentityProvider::Script>()),
                            settings.open());
    FakeSyncService sync;
    MainWindow window(AppServices{&store, &auth, &sync});
    window.show();
    return app.exec();
}

int main(int argc, char **argv)
{
    if (argc > 1 && qstrcmp(argv[1], "--window") == 0)
        return showWindow(argc, argv);
    QApplication app(argc, argv);
    TestAccessibility test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_accessibility.moc"
