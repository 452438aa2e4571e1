#include "BoardFixtures.h"
#include "cloud/CloudKitThoughtSyncService.h"
#include "cloud/WebDavCloudDatabase.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

using namespace std::chrono_literals;

namespace {

/// A loopback HTTP server that gives canned answers in order, for the faults a real WebDAV
/// server will not produce on demand. An empty answer means the server never answers.
class StubHttpServer : public QObject
{
public:
    explicit StubHttpServer(QList<QByteArray> answers,
                            const QHostAddress &address = QHostAddress::LocalHost)
        : m_answers(std::move(answers))
    {
        m_server.listen(address, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                socket->setParent(this);
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
            }
        });
    }

    QUrl url(const QString &path = QStringLiteral("/dav/")) const
    {
        return QUrl(QStringLiteral("http://%1:%2%3")
                        .arg(m_server.serverAddress().toString())
                        .arg(m_server.serverPort())
                        .arg(path));
    }

    /// Every request received, head and body, in order.
    QList<QByteArray> requests;

private:
    void read(QTcpSocket *socket)
    {
        QByteArray &buffer = m_buffers[socket];
        buffer += socket->readAll();
        const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
        if (headEnd < 0)
            return;
        qsizetype bodyLength = 0;
        for (const QByteArray &line : buffer.left(headEnd).split('\n')) {
            if (line.toLower().startsWith("content-length:"))
                bodyLength = line.mid(15).trimmed().toLongLong();
        }
        if (buffer.size() < headEnd + 4 + bodyLength)
            return;
        requests.append(buffer.left(headEnd + 4 + bodyLength));
        buffer.remove(0, headEnd + 4 + bodyLength);

        const QByteArray answer = m_answers.isEmpty() ? QByteArray() : m_answers.takeFirst();
        if (answer.isEmpty())
            return;
        socket->write(answer);
        if (answer.contains("Connection: close"))
            socket->disconnectFromHost();
    }

    QTcpServer m_server;
    QList<QByteArray> m_answers;
    QHash<QTcpSocket *, QByteArray> m_buffers;
};

QByteArray answer(const QByteArray &statusLine, const QByteArray &headers = {},
                  const QByteArray &body = {})
{
    return "HTTP/1.1 " + statusLine + "\r\nContent-Length: " + QByteArray::number(body.size()) +
           "\r\n" + headers + "Connection: close\r\n\r\n" + body;
}

const QByteArray envelope =
    R"({"recordName":"default-board","recordType":"BoardSnapshot","fields":{"payload":{"type":"data","value":"W10="}}})";

enum class Operation { accountStatus, fetch, save };

template <typename T> std::optional<CloudError> errorOf(const std::optional<CloudResult<T>> &result)
{
    if (!result || result->hasValue())
        return std::nullopt;
    return result->error();
}

} // namespace

Q_DECLARE_METATYPE(Operation)

class WebDavFaultsTest : public QObject
{
    Q_OBJECT

private slots:
    void faultsBecomeClearErrors_data();
    void faultsBecomeClearErrors();
    void writesAreConditionalAndAuthenticated_data();
    void writesAreConditionalAndAuthenticated();
    void redirectIsNotFollowed();
    void plainHttpToAnotherHostSendsNothing();
    void destroyingTheStoreMidRequestAnswersNothing();

private:
    /// Runs \a operation against \a url and returns its error, or nothing on success.
    std::optional<CloudError> run(const QUrl &url, Operation operation);
};

std::optional<CloudError> WebDavFaultsTest::run(const QUrl &url, Operation operation)
{
    const CloudAccount account{url, QStringLiteral("ada"), CloudAccount::Source::environment};
    PasswordSource password = [](std::function<void(CloudResult<QString>)> completion) {
        completion(QStringLiteral("secret"));
    };
    WebDavLimits limits;
    limits.requestTimeout = 400ms;
    limits.maxResponseBytes = 1024;
    CloudKitThoughtSyncService cloud(std::make_unique<WebDavCloudDatabase>(
        account, password, QStringLiteral("iCloud.test"), limits));

    std::optional<CloudError> error;
    bool answered = false;
    switch (operation) {
    case Operation::accountStatus:
        cloud.accountStatus([&](CloudResult<CloudAccountStatus> result) {
            answered = true;
            error = result.hasValue() ? std::nullopt : std::optional(result.error());
        });
        break;
    case Operation::fetch:
        cloud.fetch([&](CloudResult<std::optional<Board>> result) {
            answered = true;
            error = result.hasValue() ? std::nullopt : std::optional(result.error());
        });
        break;
    case Operation::save:
        cloud.save({makeThought(QStringLiteral("x"))}, [&](CloudResult<CloudDone> result) {
            answered = true;
            error = result.hasValue() ? std::nullopt : std::optional(result.error());
        });
        break;
    }
    [&] { QTRY_VERIFY_WITH_TIMEOUT(answered, 10000); }();
    return error;
}

void WebDavFaultsTest::faultsBecomeClearErrors_data()
{
    QTest::addColumn<QList<QByteArray>>("answers");
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<CloudErrorCode>("code");
    QTest::addColumn<int>("requestCount");

    QTest::newRow("503 on fetch") << QList<QByteArray>{answer("503 Service Unavailable")}
                                  << Operation::fetch << CloudErrorCode::serviceUnavailable << 1;
    QTest::newRow("507 on the write of a new record")
        << QList<QByteArray>{answer("404 Not Found"), answer("507 Insufficient Storage")}
        << Operation::save << CloudErrorCode::quotaExceeded << 2;
    QTest::newRow("401 on account status")
        << QList<QByteArray>{answer("401 Unauthorized", "WWW-Authenticate: Basic realm=\"x\"\r\n")}
        << Operation::accountStatus << CloudErrorCode::notAuthenticated << 1;
    QTest::newRow("500 on save's read: nothing written")
        << QList<QByteArray>{answer("500 Internal Server Error")} << Operation::save
        << CloudErrorCode::serverRejectedRequest << 1;
    QTest::newRow("not a WebDAV folder")
        << QList<QByteArray>{answer("405 Method Not Allowed")} << Operation::accountStatus
        << CloudErrorCode::serverRejectedRequest << 1;
    QTest::newRow("body cut short")
        << QList<QByteArray>{"HTTP/1.1 200 OK\r\nContent-Length: 400\r\nConnection: close\r\n\r\n" +
                             envelope.left(40)}
        << Operation::fetch << CloudErrorCode::networkFailure << 1;
    QTest::newRow("announced body over the limit")
        << QList<QByteArray>{"HTTP/1.1 200 OK\r\nContent-Length: 104857600\r\n\r\n" + envelope}
        << Operation::fetch << CloudErrorCode::limitExceeded << 1;
    QTest::newRow("chunked body over the limit")
        << QList<QByteArray>{"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n800\r\n" +
                             QByteArray(0x800, ' ') + "\r\n800\r\n" + QByteArray(0x800, ' ') +
                             "\r\n"}
        << Operation::fetch << CloudErrorCode::limitExceeded << 1;
    QTest::newRow("server that never answers")
        << QList<QByteArray>{QByteArray()} << Operation::fetch << CloudErrorCode::networkFailure
        << 1;
    QTest::newRow("weak ETag: no unconditional write")
        << QList<QByteArray>{answer("200 OK", "ETag: W/\"v1\"\r\n", envelope)} << Operation::save
        << CloudErrorCode::serverRejectedRequest << 1;
    QTest::newRow("no ETag: no unconditional write")
        << QList<QByteArray>{answer("200 OK", {}, envelope)} << Operation::save
        << CloudErrorCode::serverRejectedRequest << 1;
    QTest::newRow("412 on update")
        << QList<QByteArray>{answer("200 OK", "ETag: \"v1\"\r\n", envelope),
                             answer("412 Precondition Failed")}
        << Operation::save << CloudErrorCode::serverRecordChanged << 2;
}

void WebDavFaultsTest::faultsBecomeClearErrors()
{
    QFETCH(QList<QByteArray>, answers);
    QFETCH(Operation, operation);
    QFETCH(CloudErrorCode, code);
    QFETCH(int, requestCount);

    StubHttpServer server(answers);
    QElapsedTimer clock;
    clock.start();
    const std::optional<CloudError> error = run(server.url(), operation);

    QVERIFY(error);
    QCOMPARE(error->code, code);
    QVERIFY(!error->localizedDescription.isEmpty());
    QCOMPARE(server.requests.size(), requestCount);
    // Every fault ends within the request timeout, however the server behaves.
    QVERIFY(clock.elapsed() < 5000);
}

void WebDavFaultsTest::writesAreConditionalAndAuthenticated_data()
{
    QTest::addColumn<QList<QByteArray>>("answers");
    QTest::addColumn<QByteArray>("condition");

    QTest::newRow("update of the version read")
        << QList<QByteArray>{answer("200 OK", "ETag: \"v1\"\r\n", envelope),
                             answer("204 No Content")}
        << QByteArray("If-Match: \"v1\"");
    QTest::newRow("creation only where nothing exists")
        << QList<QByteArray>{answer("404 Not Found"), answer("201 Created")}
        << QByteArray("If-None-Match: *");
}

void WebDavFaultsTest::writesAreConditionalAndAuthenticated()
{
    QFETCH(QList<QByteArray>, answers);
    QFETCH(QByteArray, condition);

    StubHttpServer server(answers);
    const std::optional<CloudError> error = run(server.url(), Operation::save);
    QVERIFY2(!error, error ? qPrintable(error->localizedDescription) : "");

    QCOMPARE(server.requests.size(), 2);
    const QByteArray put = server.requests.at(1);
    QVERIFY(put.startsWith("PUT /dav/iCloud.test/default-board.json "));
    QVERIFY(put.contains(condition));
    QVERIFY(put.contains("Authorization: Basic " + QByteArray("ada:secret").toBase64()));
}

void WebDavFaultsTest::redirectIsNotFollowed()
{
    StubHttpServer elsewhere({answer("200 OK", "ETag: \"v1\"\r\n", envelope)},
                             QHostAddress(QStringLiteral("127.0.0.2")));
    StubHttpServer server(
        {answer("302 Found", "Location: " + elsewhere.url().toEncoded() + "\r\n")});

    const std::optional<CloudError> error = run(server.url(), Operation::fetch);

    QVERIFY(error);
    QCOMPARE(error->code, CloudErrorCode::serverRejectedRequest);
    QTest::qWait(50);
    QVERIFY(elsewhere.requests.isEmpty());
}

void WebDavFaultsTest::plainHttpToAnotherHostSendsNothing()
{
    const std::optional<CloudError> error =
        run(QUrl(QStringLiteral("http://cloud.example.invalid/dav/")), Operation::accountStatus);

    QVERIFY(error);
    QVERIFY(error->localizedDescription.contains(QStringLiteral("http://")));
    QVERIFY(error->localizedDescription.contains(QStringLiteral("https://")));
}

void WebDavFaultsTest::destroyingTheStoreMidRequestAnswersNothing()
{
    StubHttpServer server({QByteArray()});
    const CloudAccount account{server.url(), QStringLiteral("ada"),
                               CloudAccount::Source::environment};
    PasswordSource password = [](std::function<void(CloudResult<QString>)> completion) {
        completion(QStringLiteral("secret"));
    };
    auto cloud = std::make_unique<CloudKitThoughtSyncService>(std::make_unique<WebDavCloudDatabase>(
        account, password, QStringLiteral("iCloud.test"), WebDavLimits{}));
    int answers = 0;
    cloud->save({}, [&](CloudResult<CloudDone>) { ++answers; });
    QTRY_COMPARE(server.requests.size(), 1);

    cloud.reset();
    QTest::qWait(50);
    QCOMPARE(answers, 0);
}

QTEST_GUILESS_MAIN(WebDavFaultsTest)
#include "tst_webdavfaults.moc"
