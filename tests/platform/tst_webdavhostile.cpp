#include "BoardFixtures.h"
#include "HostileHttpServer.h"
#include "cloud/CloudKitThoughtSyncService.h"
#include "cloud/WebDavCloudDatabase.h"
#include "services/SyncService.h"
#include "stores/BoardCodec.h"
#include "stores/BoardStore.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool builtWithAddressSanitizer = true;
#elif defined(__has_feature)
constexpr bool builtWithAddressSanitizer = __has_feature(address_sanitizer);
#else
constexpr bool builtWithAddressSanitizer = false;
#endif

const QByteArray authorization = "Authorization: Basic " + QByteArray("ada:secret").toBase64();

const HostileAnswer folderFound = HostileAnswer::whole(
    "207 Multi-Status", "Content-Type: application/xml; charset=utf-8\r\n",
    R"(<?xml version="1.0"?><multistatus xmlns="DAV:"><response><href>/dav/iCloud.test/</href>)"
    R"(<propstat><prop><resourcetype><collection/></resourcetype></prop>)"
    R"(<status>HTTP/1.1 200 OK</status></propstat></response></multistatus>)");

QByteArray envelopeWith(const QByteArray &payloadValue,
                        const QByteArray &recordName = "default-board")
{
    return R"({"recordName":")" + recordName +
           R"(","recordType":"BoardSnapshot","fields":{"payload":{"type":"data","value":")" +
           payloadValue + R"("}}})";
}

/// A cloud board that would change the local one, were it ever merged.
QByteArray remoteEnvelope(const QByteArray &recordName = "default-board")
{
    const Board remote{
        makeThought(QStringLiteral("来自云端的想法"), ThoughtStatus::inProgress, 60)};
    return envelopeWith(BoardCodec::encode(remote).toBase64(), recordName);
}

HostileAnswer record(const QByteArray &body, const QByteArray &headers = "ETag: \"v1\"\r\n")
{
    return HostileAnswer::whole("200 OK", headers, body);
}

WebDavLimits limits(std::chrono::milliseconds timeout, qint64 maxBytes = 1024 * 1024)
{
    WebDavLimits result;
    result.requestTimeout = timeout;
    result.maxResponseBytes = maxBytes;
    return result;
}

std::unique_ptr<WebDavCloudDatabase> database(const QUrl &url, const WebDavLimits &limits)
{
    const CloudAccount account{url, QStringLiteral("ada"), CloudAccount::Source::environment};
    PasswordSource password = [](std::function<void(CloudResult<QString>)> completion) {
        completion(QStringLiteral("secret"));
    };
    return std::make_unique<WebDavCloudDatabase>(account, password, QStringLiteral("iCloud.test"),
                                                 limits);
}

bool isSettled(const SyncService::State &state)
{
    return state.kind == SyncService::State::Kind::failed ||
           state.kind == SyncService::State::Kind::cloudKitReady;
}

bool containsHan(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() >= 0x4E00 && c.unicode() <= 0x9FFF)
            return true;
    }
    return false;
}

/// What one launch's sync did to a board saved in a real board file.
struct SyncOutcome
{
    SyncService::State state;
    qint64 elapsedMs = 0;
    qint64 peakGrowthBytes = 0;
    Board boardBefore;
    Board boardAfter;
    QByteArray fileBefore;
    QByteArray fileAfter;
    QStringList folderAfter;
    int fileSaves = 0;
    int boardChanges = 0;
};

/// Starts sync for a board store over a board file, against \a url, and waits for the sync to
/// settle, then a little longer, so late requests and late changes are seen too.
SyncOutcome syncOnce(const QUrl &url, const WebDavLimits &limits)
{
    SyncOutcome outcome;
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("board.json"));
    outcome.boardBefore = {
        makeThought(QStringLiteral("本地的想法"), ThoughtStatus::notStarted, -60),
        makeThought(QStringLiteral("已经完成的事"), ThoughtStatus::completed)};
    const BoardPersistence file = BoardPersistence::file(path);
    file.save(outcome.boardBefore);
    QFile saved(path);
    if (saved.open(QIODevice::ReadOnly))
        outcome.fileBefore = saved.readAll();
    saved.close();

    BoardPersistence counted = file;
    counted.save = [&outcome, save = file.save](const Board &board) {
        ++outcome.fileSaves;
        save(board);
    };
    const qint64 baseline = resetPeakResidentBytes();
    {
        BoardStore store(counted);
        QObject::connect(&store, &BoardStore::thoughtsChanged,
                         [&outcome] { ++outcome.boardChanges; });
        SyncService sync(std::make_unique<CloudKitThoughtSyncService>(database(url, limits)));
        QElapsedTimer clock;
        clock.start();
        store.startSync(&sync);
        const QDeadlineTimer deadline(15000);
        while (!isSettled(sync.state()) && !deadline.hasExpired())
            QTest::qWait(5);
        outcome.elapsedMs = clock.elapsed();
        QTest::qWait(50);
        outcome.state = sync.state();
        outcome.boardAfter = store.thoughts();
    }
    outcome.peakGrowthBytes = peakResidentBytes() - baseline;
    if (saved.open(QIODevice::ReadOnly))
        outcome.fileAfter = saved.readAll();
    outcome.folderAfter = QDir(folder.path()).entryList(QDir::Files);
    return outcome;
}

/// Fails the current test unless sync failed with a Chinese message holding \a fragment and the
/// board, in memory and on disk, is exactly as it was.
void verifyFailedAndUntouched(const SyncOutcome &outcome, const QString &fragment)
{
    QCOMPARE(outcome.state.kind, SyncService::State::Kind::failed);
    QVERIFY2(outcome.state.message.contains(fragment), qPrintable(outcome.state.message));
    QVERIFY2(containsHan(outcome.state.message), qPrintable(outcome.state.message));
    QCOMPARE(outcome.boardAfter, outcome.boardBefore);
    QCOMPARE(outcome.boardChanges, 0);
    QCOMPARE(outcome.fileSaves, 0);
    QCOMPARE(outcome.fileAfter, outcome.fileBefore);
    QCOMPARE(outcome.folderAfter, QStringList{QStringLiteral("board.json")});
}

bool containsUpload(const QList<QByteArray> &requests)
{
    for (const QByteArray &request : requests) {
        if (!request.startsWith("PROPFIND ") && !request.startsWith("GET "))
            return true;
    }
    return false;
}

enum class Operation { accountStatus, fetch, save };

/// Runs one operation of the cloud store on its own and answers its error, or nothing on success.
std::optional<CloudError> runOperation(const QUrl &url, Operation operation,
                                       const WebDavLimits &limits)
{
    CloudKitThoughtSyncService cloud(database(url, limits));
    std::optional<CloudError> error;
    bool answered = false;
    const auto take = [&](const auto &result) {
        answered = true;
        if (!result.hasValue())
            error = result.error();
    };
    switch (operation) {
    case Operation::accountStatus:
        cloud.accountStatus(take);
        break;
    case Operation::fetch:
        cloud.fetch(take);
        break;
    case Operation::save:
        cloud.save({makeThought(QStringLiteral("x"))}, take);
        break;
    }
    const QDeadlineTimer deadline(15000);
    while (!answered && !deadline.hasExpired())
        QTest::qWait(5);
    QTest::qWait(50);
    if (!answered)
        return CloudError{CloudErrorCode::internalError, QStringLiteral("never answered")};
    return error;
}

} // namespace

Q_DECLARE_METATYPE(Operation)
Q_DECLARE_METATYPE(HostileAnswer)

class WebDavHostileTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void slowServerEndsAtTheDeadline_data();
    void slowServerEndsAtTheDeadline();
    void everyRequestHasADeadline_data();
    void everyRequestHasADeadline();
    void floodStaysBoundedInTimeAndMemory_data();
    void floodStaysBoundedInTimeAndMemory();
    void unusablePullLeavesTheBoardAlone_data();
    void unusablePullLeavesTheBoardAlone();
    void redirectNeverReachesAnotherHost_data();
    void redirectNeverReachesAnotherHost();
    void redirectedUploadNeverReachesAnotherHost_data();
    void redirectedUploadNeverReachesAnotherHost();
    void recordNamedElsewhereSendsNothingThere_data();
    void recordNamedElsewhereSendsNothingThere();
};

void WebDavHostileTest::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

void WebDavHostileTest::slowServerEndsAtTheDeadline_data()
{
    QTest::addColumn<QList<HostileAnswer>>("script");
    QTest::addColumn<int>("requestCount");

    QTest::newRow("status line, a byte every 150 ms")
        << QList<HostileAnswer>{HostileAnswer::drip({}, "HTTP/1.1 207 Multi-Status\r\n", 150ms)}
        << 1;
    QTest::newRow("headers that never end")
        << QList<HostileAnswer>{HostileAnswer::drip("HTTP/1.1 207 Multi-Status\r\n",
                                                    "X-Slow: 1\r\n", 40ms)}
        << 1;
    QTest::newRow("record body, a byte every 100 ms")
        << QList<
               HostileAnswer>{folderFound,
                              HostileAnswer::drip(
                                  "HTTP/1.1 200 OK\r\nContent-Length: 4096\r\nETag: \"v1\"\r\n\r\n",
                                  remoteEnvelope(), 100ms)}
        << 2;
    QTest::newRow("chunked record that never ends")
        << QList<HostileAnswer>{folderFound,
                                HostileAnswer::drip(
                                    "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n",
                                    "1\r\n \r\n", 20ms)}
        << 2;
}

void WebDavHostileTest::slowServerEndsAtTheDeadline()
{
    QFETCH(QList<HostileAnswer>, script);
    QFETCH(int, requestCount);

    HostileHttpServer server(script);
    const SyncOutcome outcome = syncOnce(server.url(), limits(600ms));

    verifyFailedAndUntouched(outcome, QStringLiteral("超时"));
    QCOMPARE(server.requests().size(), requestCount);
    QVERIFY(!containsUpload(server.requests()));
    // Each request has its own deadline; only the slow one waits it out.
    QVERIFY2(outcome.elapsedMs >= 550 && outcome.elapsedMs < 600 + 1500,
             qPrintable(QString::number(outcome.elapsedMs)));
}

void WebDavHostileTest::everyRequestHasADeadline_data()
{
    QTest::addColumn<QList<HostileAnswer>>("script");
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<QByteArray>("slowVerb");

    const HostileAnswer dripHead =
        HostileAnswer::drip("HTTP/1.1 201 Created\r\n", "X-Slow: 1\r\n", 40ms);
    QTest::newRow("PROPFIND") << QList<HostileAnswer>{dripHead} << Operation::accountStatus
                              << QByteArray("PROPFIND");
    QTest::newRow("MKCOL") << QList<HostileAnswer>{HostileAnswer::whole("404 Not Found"), dripHead}
                           << Operation::accountStatus << QByteArray("MKCOL");
    QTest::newRow("GET") << QList<HostileAnswer>{dripHead} << Operation::fetch << QByteArray("GET");
    QTest::newRow("PUT of a new record")
        << QList<HostileAnswer>{HostileAnswer::whole("404 Not Found"), dripHead} << Operation::save
        << QByteArray("PUT");
    QTest::newRow("PUT of an update") << QList<HostileAnswer>{record(remoteEnvelope()), dripHead}
                                      << Operation::save << QByteArray("PUT");
}

void WebDavHostileTest::everyRequestHasADeadline()
{
    QFETCH(QList<HostileAnswer>, script);
    QFETCH(Operation, operation);
    QFETCH(QByteArray, slowVerb);

    HostileHttpServer server(script);
    QElapsedTimer clock;
    clock.start();
    const std::optional<CloudError> error = runOperation(server.url(), operation, limits(400ms));

    QVERIFY(error);
    QCOMPARE(error->code, CloudErrorCode::networkFailure);
    QVERIFY2(error->localizedDescription.contains(QStringLiteral("超时")),
             qPrintable(error->localizedDescription));
    QCOMPARE(server.requests().size(), script.size());
    QVERIFY(server.requests().constLast().startsWith(slowVerb + ' '));
    QVERIFY(clock.elapsed() < 400 + 1500);
}

void WebDavHostileTest::floodStaysBoundedInTimeAndMemory_data()
{
    QTest::addColumn<QList<HostileAnswer>>("script");
    QTest::addColumn<int>("requestCount");
    QTest::addColumn<QString>("fragment");

    // Heads of 1 MiB: a hundred times what any server needs. Bodies flood without end.
    // A chunked body without end is missing on purpose: Qt's HTTP thread keeps it, hundreds of
    // MiB a second over loopback, without handing any of it to the reply, so only the request
    // deadline bounds it.
    constexpr qint64 hugeHead = 1024 * 1024;
    QTest::newRow("1 MiB of header lines")
        << QList<HostileAnswer>{HostileAnswer::flood("HTTP/1.1 207 Multi-Status\r\n",
                                                     "X-Flood: aaaaaaaaaaaaaaaaaaaa\r\n", hugeHead)}
        << 1 << QStringLiteral("超时");
    QTest::newRow("one header of 1 MiB")
        << QList<HostileAnswer>{HostileAnswer::flood("HTTP/1.1 207 Multi-Status\r\nX-Big: ", "a",
                                                     hugeHead)}
        << 1 << QStringLiteral("超时");
    QTest::newRow("informational answers without end")
        << QList<HostileAnswer>{HostileAnswer::flood({}, "HTTP/1.1 100 Continue\r\n\r\n", hugeHead)}
        << 1 << QStringLiteral("超时");
    QTest::newRow("record without length or end")
        << QList<HostileAnswer>{folderFound, HostileAnswer::flood("HTTP/1.1 200 OK\r\n\r\n", " ")}
        << 2 << QStringLiteral("超过 1 MiB");
    QTest::newRow("compressed record that would expand past the limit")
        << QList<HostileAnswer>{folderFound,
                                record(qCompress(QByteArray(16 * 1024 * 1024, ' '), 9).mid(4),
                                       "Content-Encoding: deflate\r\nETag: \"v1\"\r\n")}
        << 2 << QStringLiteral("记录格式无法识别");
}

void WebDavHostileTest::floodStaysBoundedInTimeAndMemory()
{
    QFETCH(QList<HostileAnswer>, script);
    QFETCH(int, requestCount);
    QFETCH(QString, fragment);

    HostileHttpServer server(script);
    const SyncOutcome outcome = syncOnce(server.url(), limits(800ms));

    qInfo("%s: %lld ms, %.1f MiB sent, peak grew by %.1f MiB: %s", QTest::currentDataTag(),
          outcome.elapsedMs, server.bytesSent() / 1048576.0, outcome.peakGrowthBytes / 1048576.0,
          qPrintable(outcome.state.message));
    verifyFailedAndUntouched(outcome, fragment);
    QCOMPARE(server.requests().size(), requestCount);
    QVERIFY(!containsUpload(server.requests()));
    QVERIFY(outcome.elapsedMs < 800 * requestCount + 1500);
    // AddressSanitizer keeps freed memory resident on purpose, so only a plain build says how
    // much the client held at once.
    if (!builtWithAddressSanitizer) {
        QVERIFY2(outcome.peakGrowthBytes < 48 * 1024 * 1024,
                 qPrintable(QString::number(outcome.peakGrowthBytes)));
    }
}

void WebDavHostileTest::unusablePullLeavesTheBoardAlone_data()
{
    QTest::addColumn<HostileAnswer>("answer");
    QTest::addColumn<QString>("fragment");
    QTest::addColumn<int>("maxRecordRequests");

    const QString unreadableRecord = QStringLiteral("记录格式无法识别");
    const QString unreadableBoard = QStringLiteral("看板数据无法读取");
    // A connection dropped before a whole answer is retried by the HTTP stack itself, a few
    // times at most, never in a loop.
    QTest::newRow("body cut short")
        << HostileAnswer::raw("HTTP/1.1 200 OK\r\nContent-Length: 400\r\nETag: \"v1\"\r\n\r\n" +
                              remoteEnvelope().left(40))
        << QStringLiteral("不完整") << 1;
    QTest::newRow("connection closed inside the headers")
        << HostileAnswer::raw("HTTP/1.1 200 OK\r\nContent-Le") << QStringLiteral("中断") << 4;
    QTest::newRow("connection closed before any answer")
        << HostileAnswer::raw({}) << QStringLiteral("中断") << 4;
    QTest::newRow("body longer than its length")
        << HostileAnswer::raw("HTTP/1.1 200 OK\r\nContent-Length: 20\r\nETag: \"v1\"\r\n\r\n" +
                              remoteEnvelope())
        << unreadableRecord << 1;
    QTest::newRow("announced body over the limit")
        << HostileAnswer::raw("HTTP/1.1 200 OK\r\nContent-Length: 104857600\r\n\r\n" +
                              remoteEnvelope())
        << QStringLiteral("超过 1 MiB") << 2;
    QTest::newRow("HTML page") << record("<!DOCTYPE html><html><body>请先登录</body></html>",
                                         "Content-Type: text/html\r\nETag: \"v1\"\r\n")
                               << unreadableRecord << 1;
    QTest::newRow("JSON content type over an HTML body")
        << record("<html>moved</html>", "Content-Type: application/json\r\nETag: \"v1\"\r\n")
        << unreadableRecord << 1;
    QTest::newRow("JSON that is not an envelope")
        << record(R"({"status":"ok","items":[]})") << unreadableRecord << 1;
    QTest::newRow("board file instead of an envelope")
        << record(BoardCodec::encode({makeThought(QStringLiteral("y"))})) << unreadableRecord << 1;
    QTest::newRow("fields that are not an object")
        << record(R"({"recordName":"default-board","recordType":"BoardSnapshot","fields":"x"})")
        << unreadableRecord << 1;
    QTest::newRow("envelope nested beyond reason")
        << record(QByteArray(200000, '[')) << unreadableRecord << 1;
    QTest::newRow("binary noise") << record([] {
        QByteArray noise(4096, '\0');
        QRandomGenerator generator(7);
        for (char &byte : noise)
            byte = char(generator.bounded(256));
        return noise;
    }()) << unreadableRecord << 1;
    QTest::newRow("envelope of another record")
        << record(remoteEnvelope("other-board")) << unreadableRecord << 1;
    QTest::newRow("payload that is not base64")
        << record(envelopeWith("<<not base64>>")) << unreadableBoard << 1;
    QTest::newRow("payload that is base64 of nonsense")
        << record(envelopeWith(QByteArray("not json").toBase64())) << unreadableBoard << 1;
    QTest::newRow("payload nested beyond reason")
        << record(envelopeWith(QByteArray(200000, '[').toBase64())) << unreadableBoard << 1;
    QTest::newRow("payload with a thought of unknown status")
        << record(envelopeWith(BoardCodec::encode({makeThought(QStringLiteral("z"))})
                                   .replace("\"notStarted\"", "\"someday\"")
                                   .toBase64()))
        << unreadableBoard << 1;
}

void WebDavHostileTest::unusablePullLeavesTheBoardAlone()
{
    QFETCH(HostileAnswer, answer);
    QFETCH(QString, fragment);
    QFETCH(int, maxRecordRequests);

    HostileHttpServer server({folderFound, answer});
    const SyncOutcome outcome = syncOnce(server.url(), limits(2000ms));

    verifyFailedAndUntouched(outcome, fragment);
    QVERIFY2(server.requests().size() >= 2 && server.requests().size() <= 1 + maxRecordRequests,
             qPrintable(QString::number(server.requests().size())));
    QVERIFY(!containsUpload(server.requests()));
    QVERIFY(outcome.elapsedMs < 1500);
}

void WebDavHostileTest::redirectNeverReachesAnotherHost_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("stage");
    QTest::addColumn<QByteArray>("location");

    for (const int status : {301, 302, 303, 307, 308}) {
        QTest::addRow("%d on PROPFIND to another host", status)
            << status << 0 << QByteArray("ELSEWHERE/dav/iCloud.test/");
        QTest::addRow("%d on GET to another host", status)
            << status << 1 << QByteArray("ELSEWHERE/dav/iCloud.test/default-board.json");
    }
    // The server answers every further request the same way: a loop for a client that follows.
    QTest::newRow("302 loop on PROPFIND") << 302 << 0 << QByteArray("/dav/iCloud.test/");
    QTest::newRow("307 loop on GET")
        << 307 << 1 << QByteArray("/dav/iCloud.test/default-board.json");
}

void WebDavHostileTest::redirectNeverReachesAnotherHost()
{
    QFETCH(int, status);
    QFETCH(int, stage);
    QFETCH(QByteArray, location);

    HostileHttpServer elsewhere({folderFound, record(remoteEnvelope())},
                                QHostAddress(QStringLiteral("127.0.0.2")));
    location.replace("ELSEWHERE", elsewhere.url(QString()).toEncoded());
    QList<HostileAnswer> script{HostileAnswer::whole(QByteArray::number(status) + " Moved",
                                                     "Location: " + location + "\r\n")};
    if (stage == 1)
        script.prepend(folderFound);
    HostileHttpServer server(script);

    const SyncOutcome outcome = syncOnce(server.url(), limits(2000ms));

    verifyFailedAndUntouched(outcome, QStringLiteral("跳转"));
    QCOMPARE(server.requests().size(), stage + 1);
    for (const QByteArray &request : server.requests())
        QVERIFY(request.contains(authorization));
    QCOMPARE(elsewhere.connectionCount(), 0);
    QVERIFY(outcome.elapsedMs < 1500);
}

void WebDavHostileTest::redirectedUploadNeverReachesAnotherHost_data()
{
    QTest::addColumn<QList<HostileAnswer>>("script");
    QTest::addColumn<bool>("toElsewhere");

    // 307 and 308 ask for the same method and body again: the most tempting ones to follow.
    for (const int status : {302, 307, 308}) {
        const QByteArray statusLine = QByteArray::number(status) + " Moved";
        QTest::addRow("%d on the update, to another host", status)
            << QList<HostileAnswer>{record(remoteEnvelope()),
                                    HostileAnswer::whole(statusLine, "Location: ELSEWHERE\r\n")}
            << true;
        QTest::addRow("%d on the creation, to another host", status)
            << QList<HostileAnswer>{HostileAnswer::whole("404 Not Found"),
                                    HostileAnswer::whole(statusLine, "Location: ELSEWHERE\r\n")}
            << true;
        // Answering every request with a redirect to itself: a loop for a client that follows.
        QTest::addRow("%d loop onto itself", status)
            << QList<HostileAnswer>{HostileAnswer::whole(
                   statusLine, "Location: /dav/iCloud.test/default-board.json\r\n")}
            << false;
    }
}

void WebDavHostileTest::redirectedUploadNeverReachesAnotherHost()
{
    QFETCH(QList<HostileAnswer>, script);
    QFETCH(bool, toElsewhere);

    HostileHttpServer elsewhere({HostileAnswer::whole("204 No Content", "ETag: \"v2\"\r\n")},
                                QHostAddress(QStringLiteral("127.0.0.2")));
    for (HostileAnswer &answer : script)
        answer.head.replace(
            "ELSEWHERE",
            elsewhere.url(QStringLiteral("/dav/iCloud.test/default-board.json")).toEncoded());
    HostileHttpServer server(script);

    QElapsedTimer clock;
    clock.start();
    const std::optional<CloudError> error =
        runOperation(server.url(), Operation::save, limits(2000ms));

    QVERIFY(error);
    QCOMPARE(error->code, CloudErrorCode::serverRejectedRequest);
    QVERIFY2(error->localizedDescription.contains(QStringLiteral("跳转")),
             qPrintable(error->localizedDescription));
    QCOMPARE(server.requests().size(), toElsewhere ? 2 : 1);
    QCOMPARE(elsewhere.connectionCount(), 0);
    QVERIFY(clock.elapsed() < 1500);
}

void WebDavHostileTest::recordNamedElsewhereSendsNothingThere_data()
{
    QTest::addColumn<QByteArray>("recordName");

    QTest::newRow("another host") << QByteArray("ELSEWHERE/dav/iCloud.test/default-board");
    QTest::newRow("another host, scheme-relative") << QByteArray("//ELSEWHERE_AUTHORITY/steal");
    QTest::newRow("outside the container") << QByteArray("../../../steal");
    QTest::newRow("another record") << QByteArray("default-board/../other");
}

void WebDavHostileTest::recordNamedElsewhereSendsNothingThere()
{
    QFETCH(QByteArray, recordName);

    HostileHttpServer elsewhere({folderFound, HostileAnswer::whole("201 Created")},
                                QHostAddress(QStringLiteral("127.0.0.2")));
    const QUrl target = elsewhere.url(QString());
    recordName.replace("ELSEWHERE_AUTHORITY", target.authority().toUtf8())
        .replace("ELSEWHERE", target.toEncoded());
    // A record whose name is a place to write to: saving it back must not go there.
    HostileHttpServer server({folderFound, record(remoteEnvelope(recordName)),
                              record(remoteEnvelope(recordName)),
                              HostileAnswer::whole("204 No Content", "ETag: \"v2\"\r\n")});

    const SyncOutcome outcome = syncOnce(server.url(), limits(2000ms));

    verifyFailedAndUntouched(outcome, QStringLiteral("记录格式无法识别"));
    QCOMPARE(elsewhere.connectionCount(), 0);
    QCOMPARE(server.requests().size(), 2);
    QVERIFY(!containsUpload(server.requests()));
}

QTEST_GUILESS_MAIN(WebDavHostileTest)
#include "tst_webdavhostile.moc"
