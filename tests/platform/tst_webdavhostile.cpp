#include "BoardFixtures.h"
#include "HostileHttpServer.h"
#include "cloud/WebDavCloudDatabase.h"
#include "cloud/WebDavRemoteBoard.h"
#include "services/StoreSyncLink.h"
#include "services/SyncService.h"
#include "stores/BoardCodec.h"
#include "stores/BoardStore.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

using namespace std::chrono_literals;

namespace {

using Kind = SyncService::State::Kind;
using Problem = CloudError::Kind;

const QByteArray recordPath = "/dav/Lumaret/board.json";
const HostileAnswer notFound = HostileAnswer::whole("404 Not Found");

/// The board on this machine, and one that would change it were it ever merged.
const Board localBoard{makeThought("本地的想法", ThoughtStatus::notStarted, -60),
                       makeThought("已经完成的事", ThoughtStatus::completed)};
const Board cloudBoard{makeThought("来自云端的想法", ThoughtStatus::inProgress, 60)};

const QByteArray localFile = BoardCodec::encode(localBoard);

HostileAnswer record(const QByteArray &body, const QByteArray &headers = "ETag: \"v1\"\r\n")
{
    return HostileAnswer::whole("200 OK", headers, body);
}

/// What an honest server that holds this machine's board answers, with \a changes made to it.
HostileScript honest(const HostileScript &changes = {})
{
    HostileScript script{{"PROPFIND", HostileAnswer::whole("207 Multi-Status")},
                         {"MKCOL", HostileAnswer::whole("201 Created")},
                         {"GET", record(localFile)},
                         {"PUT", HostileAnswer::whole("204 No Content", "ETag: \"v2\"\r\n")}};
    script.insert(changes);
    return script;
}

std::unique_ptr<WebDavRemoteBoard> cloudStore(const QUrl &url)
{
    const PasswordSource password = [](const auto &completion) { completion(QString("secret")); };
    return std::make_unique<WebDavRemoteBoard>(std::make_unique<WebDavCloudDatabase>(
        CloudAccount{url, "ada", CloudAccount::Source::environment}, password,
        WebDavLimits{1500ms, 1024 * 1024}));
}

/// Syncs this machine's board, kept in a real board file, once with \a server (named \a host) and
/// checks: it ends in \a kind (failed: for the reason \a problem), the board and
/// its file stay as they were, and every request carries the password, every write a condition
/// (If-None-Match: * or a strong If-Match), and there are few of them.
void syncOnce(const HostileHttpServer &server, Kind kind, Problem problem = {},
              const QString &host = "127.0.0.1")
{
    QTemporaryDir folder;
    const QString path = folder.filePath("board.json");
    BoardPersistence::file(path).save(localBoard);
    const auto contents = [&path] {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    const QByteArray before = contents();
    QUrl url = server.url();
    url.setHost(host);
    int changes = 0;
    SyncService::State state;
    {
        BoardStore store(BoardPersistence::file(path));
        QObject::connect(&store, &BoardStore::thoughtsChanged, [&] { ++changes; });
        SyncService sync(cloudStore(url));
        linkStoreToSync(store, sync);
        // Then a little longer, so late requests and late changes are seen too.
        if (QTest::qWaitFor([&] { return sync.state().kind != Kind::syncing; }, 10000))
            QTest::qWait(50);
        state = sync.state();
        QCOMPARE(store.thoughts(), localBoard);
    }
    QCOMPARE(state.kind, kind);
    if (kind == Kind::failed)
        QCOMPARE(state.problem.kind, problem);
    QCOMPARE(changes, 0);
    QCOMPARE(contents(), before);
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files), QStringList{"board.json"});
    // At most three writes, each after reading the record again, and the older envelope read once
    // where there is no board file yet.
    QVERIFY2(server.requests.size() <= 9, qPrintable(QString::number(server.requests.size())));
    for (const QByteArray &request : server.requests) {
        QVERIFY(request.contains("Authorization: Basic " + QByteArray("ada:secret").toBase64()));
        QVERIFY2(!request.startsWith("PUT ") || request.contains("\r\nIf-None-Match: *\r\n") ||
                     request.contains("\r\nIf-Match: \""),
                 request.constData());
    }
}

void row(const char *name, const HostileScript &changes, Problem problem)
{
    QTest::newRow(name) << changes << problem;
}

void row(const char *name, const QByteArray &verb, const HostileAnswer &answer, Problem problem)
{
    row(name, {{verb, answer}}, problem);
}

} // namespace

class WebDavHostileTest : public QObject
{
    Q_OBJECT

private slots:
    void hostileAnswerFailsCleanly_data();
    void hostileAnswerFailsCleanly();
    void writesAreConditionalAndPlainHttpStaysLocal_data();
    void writesAreConditionalAndPlainHttpStaysLocal();
    void serverCheckRefusesAServerThatWouldUnguardWrites_data();
    void serverCheckRefusesAServerThatWouldUnguardWrites();
    void aNameNeverLeadsOutOfTheFolder();
    void destroyingTheStoreMidRequestAnswersNothing();

private:
    /// Another host, which nothing a server says may ever lead to.
    HostileHttpServer m_elsewhere{honest(), QHostAddress("127.0.0.2")};
};

void WebDavHostileTest::hostileAnswerFailsCleanly()
{
    QFETCH(HostileScript, changes);
    QFETCH(Problem, problem);
    HostileHttpServer server(honest(changes));
    syncOnce(server, Kind::failed, problem);
    QCOMPARE(m_elsewhere.connectionCount, 0);
}

void WebDavHostileTest::hostileAnswerFailsCleanly_data()
{
    QTest::addColumn<HostileScript>("changes");
    QTest::addColumn<Problem>("problem");
    const QByteArray elsewhere = m_elsewhere.url(QString()).toEncoded();
    const QByteArray cloudFile = BoardCodec::encode(cloudBoard);
    const QByteArray ok = "HTTP/1.1 200 OK\r\n";
    const HostileAnswer slowHead{ok, "X-Slow: 1\r\n", 40ms};
    const auto moved = [](const QByteArray &status, const QByteArray &location) {
        return HostileAnswer::whole(status + " Moved", "Location: " + location + "\r\n");
    };

    // Every request has a deadline, however the server stalls.
    row("PROPFIND never answered", "PROPFIND", {.hangsUp = false}, Problem::timedOut);
    row("MKCOL head that never ends", {{"PROPFIND", notFound}, {"MKCOL", slowHead}},
        Problem::timedOut);
    row("record, a byte every 100 ms", "GET",
        {ok + "Content-Length: 4096\r\n\r\n", cloudFile, 100ms}, Problem::timedOut);
    row("PUT head that never ends", "PUT", slowHead, Problem::timedOut);
    row("1 MiB of header lines", "PROPFIND", {ok, "X-Flood: aaaaaaaaaa\r\n", 0ms, 1 << 20},
        Problem::timedOut);
    // Bodies are refused once past the limit, not read to their end; nothing is decompressed.
    row("record without length or end", "GET", {ok + "\r\n", " "}, Problem::answerTooLarge);
    row("chunked record past the limit", "GET",
        {ok + "Transfer-Encoding: chunked\r\n\r\n", "1000\r\n" + QByteArray(4096, ' ') + "\r\n",
         0ms, 2 << 20},
        Problem::answerTooLarge);
    row("announced body past the limit", "GET", {ok + "Content-Length: 104857600\r\n\r\n"},
        Problem::answerTooLarge);
    row("compressed record that would expand past the limit", "GET",
        record(qCompress(QByteArray(16 << 20, ' '), 9).mid(4),
               "Content-Encoding: deflate\r\nETag: \"v1\"\r\n"),
        Problem::boardUnreadable);
    // A connection dropped before a whole answer is retried by the HTTP stack a few times at most.
    row("body cut short", "GET", {ok + "Content-Length: 400\r\n\r\n" + cloudFile.left(40)},
        Problem::connectionCut);
    row("connection closed inside the head", "GET", {ok + "Content-Le"}, Problem::connectionCut);
    // Answers that hold no board are never merged.
    row("HTML page", "GET",
        record("<html><body>请先登录</body></html>", "Content-Type: text/html\r\nETag: \"v1\"\r\n"),
        Problem::boardUnreadable);
    row("JSON that is no board", "GET", record("[{]"), Problem::boardUnreadable);
    // Without a strong tag a write cannot be made conditional, so none is made.
    row("weak ETag", "GET", record(localFile, "ETag: W/\"v1\"\r\n"), Problem::noStrongVersions);
    row("no ETag", "GET", record(localFile, {}), Problem::noStrongVersions);
    // Redirects are refused wherever they point: a client that follows one leaves or loops.
    row("301 on PROPFIND to another host", "PROPFIND", moved("301", elsewhere + "/dav/"),
        Problem::redirected);
    row("302 loop on PROPFIND", "PROPFIND", moved("302", "/dav/Lumaret/"), Problem::redirected);
    row("307 on the update to another host", "PUT", moved("307", elsewhere + recordPath),
        Problem::redirected);
    // Every refusal a server may answer with is named plainly.
    const auto status = [](const QByteArray &line, const QByteArray &headers = {}) {
        return HostileAnswer::whole(line, headers);
    };
    row("401", "PROPFIND", status("401 Unauthorized", "WWW-Authenticate: Basic\r\n"),
        Problem::credentialsRefused);
    row("403", "GET", status("403 Forbidden"), Problem::accessDenied);
    row("405: not a WebDAV folder", "PROPFIND", status("405 Method Not Allowed"),
        Problem::notWebDavFolder);
    row("501: no WebDAV at all", "PROPFIND", status("501 Not Implemented"),
        Problem::notWebDavFolder);
    row("409: no parent folder", {{"PROPFIND", notFound}, {"MKCOL", status("409 Conflict")}},
        Problem::parentFolderMissing);
    row("429", "GET", status("429 Too Many Requests"), Problem::rateLimited);
    row("500", "GET", status("500 Internal Server Error"), Problem::refused);
    row("500 on reading back a write that named no version",
        {{"PUT", status("201 Created")}, {"GET again", status("500 Internal Server Error")}},
        Problem::refused);
    row("503", "GET", status("503 Service Unavailable"), Problem::serverUnavailable);
    // Where there is no board file, the older envelope may hold the only cloud board: failing to
    // read it is a failure, never an empty cloud.
    row("500 on the older envelope",
        {{"GET", notFound}, {"GET again", status("500 Internal Server Error")}}, Problem::refused);
    row("507", "PUT", status("507 Insufficient Storage"), Problem::quotaExceeded);
    // A write refused because the record changed is never taken for a write.
    row("412 on every creation", {{"GET", notFound}, {"PUT", status("412 Precondition Failed")}},
        Problem::keptChanging);
}

void WebDavHostileTest::writesAreConditionalAndPlainHttpStaysLocal_data()
{
    // What the honest server answers otherwise, the host it is reached by over plain HTTP, and
    // the condition its write carries; none where plain HTTP would leave this machine.
    QTest::addColumn<HostileScript>("changes");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QByteArray>("condition");
    const QByteArray read = "If-Match: \"v1\"";
    QTest::newRow("update of the version read") << HostileScript{} << "127.0.0.1" << read;
    QTest::newRow("creation where nothing is")
        << HostileScript{{"GET", notFound}} << "127.0.0.1" << QByteArray("If-None-Match: *");
    QTest::newRow("into a folder made first")
        << HostileScript{{"PROPFIND", notFound}} << "localhost" << read;
    QTest::newRow("into a folder another machine made meanwhile")
        << HostileScript{{"PROPFIND", notFound}, {"MKCOL", HostileAnswer::whole("405 Not Allowed")}}
        << "127.0.0.1" << read;
    QTest::newRow("another host") << HostileScript{} << "cloud.example.invalid" << QByteArray();
    QTest::newRow("a name that begins as localhost")
        << HostileScript{} << "localhost.example.invalid" << QByteArray();
}

void WebDavHostileTest::writesAreConditionalAndPlainHttpStaysLocal()
{
    QFETCH(HostileScript, changes);
    QFETCH(QString, host);
    QFETCH(QByteArray, condition);
    HostileHttpServer server(honest(changes));
    syncOnce(server, condition.isEmpty() ? Kind::failed : Kind::ready, Problem::addressPlainHttp,
             host);
    QVERIFY(condition.isEmpty() ||
            std::any_of(server.requests.begin(), server.requests.end(), [&](const QByteArray &r) {
                return r.startsWith("PUT " + recordPath + ' ') && r.contains(condition + "\r\n");
            }));
}

void WebDavHostileTest::serverCheckRefusesAServerThatWouldUnguardWrites_data()
{
    QTest::addColumn<HostileScript>("script");
    QTest::addColumn<Problem>("problem");
    QTest::addColumn<QString>("detail");
    const HostileAnswer created = HostileAnswer::whole("201 Created");
    const HostileAnswer tagged = HostileAnswer::whole("200 OK", "ETag: \"v1\"\r\n");
    const HostileAnswer refused = HostileAnswer::whole("412 Precondition Failed");
    QTest::newRow("creation forbidden")
        << HostileScript{{"PUT", HostileAnswer::whole("403 Forbidden")}} << Problem::accessDenied
        << "";
    QTest::newRow("weak tag") << HostileScript{{"PUT", created},
                                               {"GET", record({}, "ETag: W/\"v1\"\r\n")}}
                              << Problem::noVersionsForJson << "";
    QTest::newRow("If-Match ignored") << HostileScript{{"PUT", created}, {"GET", tagged}}
                                      << Problem::ignoresWriteConditions << "If-Match";
    QTest::newRow("If-None-Match ignored")
        << HostileScript{{"PUT", created}, {"GET", tagged}, {"PUT If-Match", refused}}
        << Problem::ignoresWriteConditions << "If-None-Match";
}

void WebDavHostileTest::serverCheckRefusesAServerThatWouldUnguardWrites()
{
    QFETCH(HostileScript, script);
    QFETCH(Problem, problem);
    QFETCH(QString, detail);
    script.insert("DELETE", HostileAnswer::whole("204 No Content"));
    HostileHttpServer server(script);
    const PasswordSource password = [](const auto &completion) { completion(QString("secret")); };
    WebDavCloudDatabase database({server.url(), "ada", CloudAccount::Source::environment},
                                 password);
    std::optional<CloudResult<CloudDone>> checked;
    database.checkConditionalWrites([&](CloudResult<CloudDone> result) { checked = result; });
    QTRY_VERIFY(checked);
    QVERIFY(!checked->hasValue());
    QCOMPARE(checked->error().kind, problem);
    QCOMPARE(checked->error().detail, detail);
    // The scratch file goes whatever the server was found to be.
    QVERIFY(server.requests.constLast().startsWith("DELETE /dav/Lumaret/.lumaret-check-"));
}

void WebDavHostileTest::aNameNeverLeadsOutOfTheFolder()
{
    HostileHttpServer server(honest());
    const PasswordSource password = [](const auto &completion) { completion(QString("secret")); };
    WebDavCloudDatabase database({server.url(), "ada", CloudAccount::Source::environment},
                                 password);
    std::optional<CloudResult<RemoteBoardFile>> read;
    database.fetchRecordAside("board", "../../outside.json",
                              [&](CloudResult<RemoteBoardFile> result) { read = result; });
    QTRY_VERIFY(read);
    QVERIFY(!read->hasValue());
    QCOMPARE(read->error().kind, CloudError::Kind::outsideFolder);
    QVERIFY(server.requests.isEmpty());
}

void WebDavHostileTest::destroyingTheStoreMidRequestAnswersNothing()
{
    HostileHttpServer server(honest({{"PROPFIND", {.hangsUp = false}}}));
    auto sync = std::make_unique<SyncService>(cloudStore(server.url()));
    int answers = 0;
    sync->start(localBoard, [&](const Board &) { ++answers; });
    QTRY_COMPARE(server.requests.size(), 1);
    QObject::connect(sync.get(), &SyncService::stateChanged, [&] { ++answers; });
    sync.reset();
    QTest::qWait(50);
    QCOMPARE(answers, 0);
}

QTEST_GUILESS_MAIN(WebDavHostileTest)
#include "tst_webdavhostile.moc"
