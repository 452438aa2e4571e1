#include "AppFixture.h"
#include "MainWindow.h"
#include "services/AppleIDAuthService.h"

#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

// The real window under Xvfb on its own session bus, walked over AT-SPI as a screen reader does
// once its cards show: one line per object on screen, role, name and description.
static const char walker[] = R"(
import os, subprocess, sys, time, pyatspi
env = dict(os.environ, QT_QPA_PLATFORM='xcb', QT_LINUX_ACCESSIBILITY_ALWAYS_ON='1')
app = subprocess.Popen(sys.argv[1:], env=env)
def walk(node, lines):
    if node.getState().contains(pyatspi.STATE_SHOWING):
        lines.append('%s\t%s\t%s' % (node.getRoleName(), node.name, node.description))
    [walk(child, lines) for child in node if child is not None]
    return lines
for attempt in range(100):
    time.sleep(0.3)
    roots = [a for a in pyatspi.Registry.getDesktop(0) if a and a.get_process_id() == app.pid]
    lines = walk(roots[0], []) if roots else []
    if any(line.startswith('list item') for line in lines):
        break
print('\n'.join(lines))
app.terminate()
)";

class TestAccessibility : public QObject
{
    Q_OBJECT
    QStringList m_tree;

private slots:
    void initTestCase();
    void screenReaderSeesTheWindow_data();
    void screenReaderSeesTheWindow();
};

void TestAccessibility::initTestCase()
{
    QProcess walk;
    walk.start("dbus-run-session", {"--", "xvfb-run", "-a", "/usr/bin/python3", "-c", walker,
                                    QCoreApplication::applicationFilePath(), "--window"});
    QVERIFY(walk.waitForFinished(90000));
    m_tree = QString::fromUtf8(walk.readAllStandardOutput()).split('\n');
    QVERIFY2(m_tree.size() > 10, walk.readAllStandardError().constData());
}

void TestAccessibility::screenReaderSeesTheWindow_data()
{
    QTest::addColumn<QString>("object");
    QTest::newRow("composer") << "text\t记录瞬间想法\t输入想法后按回车添加到未开始";
    QTest::newRow("search") << "text\t搜索\t按标题、备注或状态筛选看板";
    QTest::newRow("pill") << "status bar\t本机\t当前保存在本机，登录 Apple ID 后同步到 iCloud";
    QTest::newRow("failed sign-in: its reason") << "push button\t重新登录\t无法连接登录服务";
    QTest::newRow("column and count") << "panel\t未开始\t2 个想法";
    QTest::newRow("card with a note") << "list item\t写周报\t未开始，\\S+前，有备注";
    QTest::newRow("card without a note") << "list item\t修好自行车\t进行中，\\S+前";
}

void TestAccessibility::screenReaderSeesTheWindow()
{
    QFETCH(QString, object);
    QVERIFY2(m_tree.indexOf(QRegularExpression(QRegularExpression::anchoredPattern(object))) >= 0,
             qPrintable(m_tree.join('\n')));
}

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc < 2 || qstrcmp(argv[1], "--window") != 0) {
        TestAccessibility test;
        return QTest::qExec(&test, argc, argv);
    }
    Thought withNote = makeThought("写周报");
    withNote.note = "周五前";
    AppFixture fixture(Board{withNote, makeThought("整理书架"),
                             makeThought("修好自行车", ThoughtStatus::inProgress)});
    fixture.services().authService->handle(AuthorizationError{"无法连接登录服务"});
    MainWindow window(fixture.services());
    window.show();
    return app.exec();
}

#include "tst_accessibility.moc"
