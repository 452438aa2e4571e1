#include "BoardFixtures.h"
#include "HostileHttpServer.h"
#include "cloud/CloudKitThoughtSyncService.h"
#include "cloud/WebDavCloudDatabase.h"
#include "services/SyncService.h"
#include "stores/BoardCodec.h"
#include "stores/BoardStore.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;

namespace {

using Kind = SyncService::State::Kind;

const QByteArray authorization = "Authorization: Basic " + QByteArray("ada:secret").toBase64();
const QByteArray recordPath = "/dav/iCloud.test/default-board.json";

/// The board on this machine, and one that would change it were it ever merged.
const Board localBoard{makeThought("本地的想法", ThoughtStatus::notStarted, -60),
                       makeThought("已经完成的事", ThoughtStatus::completed)};
const Board cloudBoard{makeThought("来自云端的想法", ThoughtStatus::inProgress, 60)};

QByteArray envelope(const QByteArray &payload, const QByteArray &name = "default-board")
{
    return R"({"recordName":")" + name +
           R"(","recordType":"BoardSnapshot","fields":{"payload":{"type":"data","value":")" +
           payload + R"("}}})";
}

HostileAnswer record(const QByteArray &body, const QByteArray &headers = "ETag: \"v1\"\r\n")
{
    return HostileAnswer::whole("200 OK", headers, body);
}

/// What an honest server holding this machine's board answers, with \a changes made to it.
HostileScript honest(const HostileScript &changes = {})
{
    HostileScript script{
        {"PROPFIND", HostileAnswer::whole("207 Multi-Status", "Content-Type: application/xml\r\n",
                                          R"(<?xml version="1.0"?><multistatus xmlns="DAV:">)"
                                          R"(<response><href>/dav/iCloud.test/</href>)"
                                          R"(<propstat><status>HTTP/1.1 200 OK</status>)"
                                          R"(</propstat></response></multistatus>)")},
        {"MKCOL", HostileAnswer::whole("201 Created")},
        {"GET", record(envelope(BoardCodec::encode(localBoard).toBase64()))},
        {"PUT", HostileAnswer::whole("204 No Content", "ETag: \"v2\"\r\n")}};
    script.insert(changes);
    return script;
}

std::unique_ptr<CloudKitThoughtSyncService> cloudStore(const QUrl &url)
{
    PasswordSource password = [](std::function<void(CloudResult<QString>)> completion) {
        completion(QStringLiteral("secret"));
    };
    return std::make_unique<CloudKitThoughtSyncService>(std::make_unique<WebDavCloudDatabase>(
        CloudAccount{url, "ada", CloudAccount::Source::environment}, password, "iCloud.test",
        WebDavLimits{600ms, 1024 * 1024}));
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

/// What one launch's sync did to this machine's board, kept in a real board file.
struct SyncOutcome
{
    SyncService::State state;
    Board board;
    int boardChanges = 0;
    QByteArray fileBefore;
    QByteArray fileAfter;
    QStringList folder;
};

SyncOutcome syncOnce(const QUrl &url)
{
    SyncOutcome outcome;
    QTemporaryDir folder;
    const QString path = folder.filePath("board.json");
    BoardPersistence::file(path).save(localBoard);
    outcome.fileBefore = contents(path);
    {
        BoardStore store(BoardPersistence::file(path));
        QObject::connect(&store, &BoardStore::thoughtsChanged, [&] { ++outcome.boardChanges; });
        SyncService sync(cloudStore(url));
        store.startSync(&sync);
        // Then a little longer, so late requests and late changes are seen too.
        if (QTest::qWaitFor([&] { return sync.state().kind != Kind::syncing; }, 5000))
            QTest::qWait(50);
        outcome.state = sync.state();
        outcome.board = store.thoughts();
    }
    outcome.fileAfter = contents(path);
    outcome.folder = QDir(folder.path()).entryList(QDir::Files);
    return outcome;
}

void verifyUntouched(const SyncOutcome &outcome)
{
    QCOMPARE(outcome.board, localBoard);
    QCOMPARE(outcome.boardChanges, 0);
    QCOMPARE(outcome.fileAfter, outcome.fileBefore);
    QCOMPARE(outcome.folder, QStringList{"board.json"});
}

void verifyFailedAndUntouched(const SyncOutcome &outcome, const QString &fragment)
{
    QCOMPARE(outcome.state.kind, Kind::failed);
    QVERIFY2(outcome.state.message.contains(fragment) &&
                 outcome.state.message.contains(QRegularExpression("\\p{Han}")),
             qPrintable(outcome.state.message));
    verifyUntouched(outcome);
}

/// Few requests, every one with the password, and no write that could replace another device's
/// board unseen: each carries If-None-Match: * or If-Match with a strong tag.
void verifyRequests(const HostileHttpServer &server)
{
    const QList<QByteArray> requests = server.requests();
    QVERIFY2(requests.size() <= 6, qPrintable(QString::number(requests.size())));
    for (const QByteArray &request : requests) {
        QVERIFY(request.contains(authorization));
        if (request.startsWith("PUT "))
            QVERIFY2(request.contains("\r\nIf-None-Match: *\r\n") ||
                         request.contains("\r\nIf-Match: \""),
                     request.constData());
    }
}

} // namespace

Q_DECLARE_METATYPE(HostileAnswer)

class WebDavHostileTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void hostileAnswerFailsCleanly_data();
    void hostileAnswerFailsCleanly() { failsCleanly(); }
    void statusBecomesClearError_data();
    void statusBecomesClearError() { failsCleanly(); }
    void writesAreConditionalAndAuthenticated_data();
    void writesAreConditionalAndAuthenticated();
    void plainHttpOnlyToThisMachine_data();
    void plainHttpOnlyToThisMachine();
    void destroyingTheStoreMidRequestAnswersNothing();

private:
    void failsCleanly();

    /// Another host, which nothing the server says may ever lead to.
    std::unique_ptr<HostileHttpServer> m_elsewhere;
};

void WebDavHostileTest::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    m_elsewhere = std::make_unique<HostileHttpServer>(honest(), QHostAddress("127.0.0.2"));
}

void WebDavHostileTest::cleanup()
{
    QCOMPARE(m_elsewhere->connectionCount(), 0);
}

void WebDavHostileTest::failsCleanly()
{
    QFETCH(HostileScript, changes);
    QFETCH(QString, fragment);

    HostileHttpServer server(honest(changes));
    const SyncOutcome outcome = syncOnce(server.url());

    verifyFailedAndUntouched(outcome, fragment);
    verifyRequests(server);
}

void WebDavHostileTest::hostileAnswerFailsCleanly_data()
{
    QTest::addColumn<HostileScript>("changes");
    QTest::addColumn<QString>("fragment");

    const QByteArray elsewhere = m_elsewhere->url(QString()).toEncoded();
    const QByteArray cloudPayload = BoardCodec::encode(cloudBoard).toBase64();
    const QByteArray cloudRecord = envelope(cloudPayload);
    const HostileAnswer slowHead{"HTTP/1.1 201 Created\r\n", "X-Slow: 1\r\n", 40ms};
    const auto redirect = [](const QByteArray &status, const QByteArray &location) {
        return HostileAnswer::whole(status + " Moved", "Location: " + location + "\r\n");
    };

    // Every request has a deadline, however the server stalls.
    QTest::newRow("PROPFIND never answered")
        << HostileScript{{"PROPFIND", {.hangsUp = false}}} << "超时";
    QTest::newRow("MKCOL headers that never end")
        << HostileScript{{"PROPFIND", HostileAnswer::whole("404 Not Found")}, {"MKCOL", slowHead}}
        << "超时";
    QTest::newRow("record body, a byte every 100 ms")
        << HostileScript{{"GET",
                          {"HTTP/1.1 200 OK\r\nContent-Length: 4096\r\nETag: \"v1\"\r\n\r\n",
                           cloudRecord, 100ms}}}
        << "超时";
    QTest::newRow("PUT headers that never end") << HostileScript{{"PUT", slowHead}} << "超时";
    QTest::newRow("1 MiB of header lines")
        << HostileScript{{"PROPFIND",
                          {"HTTP/1.1 207 Multi-Status\r\n", "X-Flood: aaaaaaaaaaaa\r\n", 0ms,
                           1024 * 1024}}}
        << "超时";
    // Bodies are refused once past the limit, not read to their end.
    QTest::newRow("record without length or end")
        << HostileScript{{"GET", {"HTTP/1.1 200 OK\r\n\r\n", " "}}} << "超过 1 MiB";
    QTest::newRow("chunked record past the limit")
        << HostileScript{{"GET",
                          {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n",
                           "1000\r\n" + QByteArray(0x1000, ' ') + "\r\n", 0ms, 2 * 1024 * 1024}}}
        << "超过 1 MiB";
    QTest::newRow("announced body past the limit")
        << HostileScript{{"GET", {"HTTP/1.1 200 OK\r\nContent-Length: 104857600\r\n\r\n"}}}
        << "超过 1 MiB";
    QTest::newRow("compressed record that would expand past the limit")
        << HostileScript{{"GET", record(qCompress(QByteArray(16 * 1024 * 1024, ' '), 9).mid(4),
                                        "Content-Encoding: deflate\r\nETag: \"v1\"\r\n")}}
        << "记录格式无法识别";
    // A connection dropped before a whole answer is retried by the HTTP stack a few times at most.
    QTest::newRow("body cut short")
        << HostileScript{{"GET",
                          {"HTTP/1.1 200 OK\r\nContent-Length: 400\r\nETag: \"v1\"\r\n\r\n" +
                           cloudRecord.left(40)}}}
        << "不完整";
    QTest::newRow("connection closed inside the headers")
        << HostileScript{{"GET", {"HTTP/1.1 200 OK\r\nContent-Le"}}} << "中断";
    QTest::newRow("body longer than its length")
        << HostileScript{{"GET",
                          {"HTTP/1.1 200 OK\r\nContent-Length: 20\r\nETag: \"v1\"\r\n\r\n" +
                           cloudRecord}}}
        << "记录格式无法识别";
    QTest::newRow("HTML page")
        << HostileScript{{"GET", record("<!DOCTYPE html><html><body>请先登录</body></html>",
                                        "Content-Type: text/html\r\nETag: \"v1\"\r\n")}}
        << "记录格式无法识别";
    QTest::newRow("JSON that is no record")
        << HostileScript{{"GET", record(R"({"status":"ok","items":[]})")}} << "记录格式无法识别";
    QTest::newRow("board file instead of a record")
        << HostileScript{{"GET", record(BoardCodec::encode(cloudBoard))}} << "记录格式无法识别";
    QTest::newRow("fields that are no object")
        << HostileScript{{"GET", record(R"({"recordName":"default-board",)"
                                        R"("recordType":"BoardSnapshot","fields":"x"})")}}
        << "记录格式无法识别";
    // A record's name is where a save writes it back, and the password with it.
    QTest::newRow("record named otherwise")
        << HostileScript{{"GET", record(envelope(cloudPayload, "other-board"))}}
        << "记录格式无法识别";
    QTest::newRow("record named after another host")
        << HostileScript{{"GET", record(envelope(cloudPayload, elsewhere + "/dav/steal"))}}
        << "记录格式无法识别";
    QTest::newRow("record named outside the folder")
        << HostileScript{{"GET", record(envelope(cloudPayload, "../../../steal"))}}
        << "记录格式无法识别";
    QTest::newRow("payload that is not base64")
        << HostileScript{{"GET", record(envelope("<<not base64>>"))}} << "看板数据无法读取";
    QTest::newRow("payload that is no board")
        << HostileScript{{"GET", record(envelope(QByteArray("not json").toBase64()))}}
        << "看板数据无法读取";
    // Without a strong tag a write cannot be made conditional, so none is made.
    QTest::newRow("weak ETag")
        << HostileScript{{"GET", record(envelope(BoardCodec::encode(localBoard).toBase64()),
                                        "ETag: W/\"v1\"\r\n")}}
        << "";
    QTest::newRow("no ETag")
        << HostileScript{{"GET", record(envelope(BoardCodec::encode(localBoard).toBase64()), {})}}
        << "";
    // Redirects are refused, wherever they point; a client that follows one loops or leaves.
    QTest::newRow("301 on PROPFIND to another host")
        << HostileScript{{"PROPFIND", redirect("301", elsewhere + "/dav/iCloud.test/")}} << "跳转";
    QTest::newRow("302 loop on PROPFIND")
        << HostileScript{{"PROPFIND", redirect("302", "/dav/iCloud.test/")}} << "跳转";
    QTest::newRow("303 on GET to another host")
        << HostileScript{{"GET", redirect("303", elsewhere + recordPath)}} << "跳转";
    QTest::newRow("307 loop on GET")
        << HostileScript{{"GET", redirect("307", recordPath)}} << "跳转";
    QTest::newRow("307 on the update to another host")
        << HostileScript{{"PUT", redirect("307", elsewhere + recordPath)}} << "跳转";
    QTest::newRow("308 on the creation to another host")
        << HostileScript{{"GET", HostileAnswer::whole("404 Not Found")},
                         {"PUT", redirect("308", elsewhere + recordPath)}}
        << "跳转";
    QTest::newRow("302 loop on PUT")
        << HostileScript{{"PUT", redirect("302", recordPath)}} << "跳转";
}

void WebDavHostileTest::statusBecomesClearError_data()
{
    QTest::addColumn<HostileScript>("changes");
    QTest::addColumn<QString>("fragment");

    const auto status = [](const QByteArray &verb, const QByteArray &statusLine) {
        return HostileScript{{verb, HostileAnswer::whole(statusLine)}};
    };
    QTest::newRow("401") << HostileScript{{"PROPFIND",
                                           HostileAnswer::whole("401 Unauthorized",
                                                                "WWW-Authenticate: Basic "
                                                                "realm=\"x\"\r\n")}}
                         << "用户名或密码";
    QTest::newRow("403") << status("GET", "403 Forbidden") << "不允许";
    QTest::newRow("405: not a WebDAV folder")
        << status("PROPFIND", "405 Method Not Allowed") << "不是 WebDAV";
    QTest::newRow("409: no parent folder")
        << HostileScript{{"PROPFIND", HostileAnswer::whole("404 Not Found")},
                         {"MKCOL", HostileAnswer::whole("409 Conflict")}}
        << "文件夹不存在";
    QTest::newRow("412") << status("PUT", "412 Precondition Failed") << "";
    QTest::newRow("429") << status("GET", "429 Too Many Requests") << "频繁";
    QTest::newRow("500") << status("GET", "500 Internal Server Error") << "HTTP 500";
    QTest::newRow("503") << status("GET", "503 Service Unavailable") << "HTTP 503";
    QTest::newRow("507") << status("PUT", "507 Insufficient Storage") << "空间已满";
}

void WebDavHostileTest::writesAreConditionalAndAuthenticated_data()
{
    QTest::addColumn<HostileScript>("changes");
    QTest::addColumn<QByteArray>("condition");

    QTest::newRow("update of the version read")
        << HostileScript{} << QByteArray("If-Match: \"v1\"");
    QTest::newRow("creation where nothing exists")
        << HostileScript{{"GET", HostileAnswer::whole("404 Not Found")}}
        << QByteArray("If-None-Match: *");
    QTest::newRow("into a folder created first")
        << HostileScript{{"PROPFIND", HostileAnswer::whole("404 Not Found")}}
        << QByteArray("If-Match: \"v1\"");
}

void WebDavHostileTest::writesAreConditionalAndAuthenticated()
{
    QFETCH(HostileScript, changes);
    QFETCH(QByteArray, condition);

    HostileHttpServer server(honest(changes));
    const SyncOutcome outcome = syncOnce(server.url());

    QCOMPARE(outcome.state.kind, Kind::cloudKitReady);
    verifyUntouched(outcome);
    verifyRequests(server);
    QList<QByteArray> puts = server.requests();
    puts.removeIf([](const QByteArray &request) { return !request.startsWith("PUT "); });
    QVERIFY(!puts.isEmpty());
    for (const QByteArray &put : puts) {
        QVERIFY(put.startsWith("PUT " + recordPath + ' '));
        QVERIFY(put.contains("\r\n" + condition + "\r\n"));
    }
}

void WebDavHostileTest::plainHttpOnlyToThisMachine_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("allowed");

    QTest::newRow("127.0.0.1") << "127.0.0.1" << true;
    QTest::newRow("localhost") << "localhost" << true;
    QTest::newRow("another host") << "cloud.example.invalid" << false;
    QTest::newRow("a name that begins as localhost") << "localhost.example.invalid" << false;
}

void WebDavHostileTest::plainHttpOnlyToThisMachine()
{
    QFETCH(QString, host);
    QFETCH(bool, allowed);

    HostileHttpServer server(honest());
    QUrl url = server.url();
    url.setHost(host);
    const SyncOutcome outcome = syncOnce(url);

    if (allowed)
        QCOMPARE(outcome.state.kind, Kind::cloudKitReady);
    else
        verifyFailedAndUntouched(outcome, "https://");
}

void WebDavHostileTest::destroyingTheStoreMidRequestAnswersNothing()
{
    HostileHttpServer server(honest({{"PROPFIND", {.hangsUp = false}}}));
    auto sync = std::make_unique<SyncService>(cloudStore(server.url()));
    int answers = 0;
    sync->start(localBoard, [&](const Board &) { ++answers; });
    QTRY_COMPARE(server.requests().size(), 1);
    QObject::connect(sync.get(), &SyncService::stateChanged, [&] { ++answers; });

    sync.reset();
    QTest::qWait(50);
    QCOMPARE(answers, 0);
}

QTEST_GUILESS_MAIN(WebDavHostileTest)
#include "tst_webdavhostile.moc"
