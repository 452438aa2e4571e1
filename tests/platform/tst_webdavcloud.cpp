#include "ApacheWebDavServer.h"
#include "BoardFixtures.h"
#include "cloud/CloudKitThoughtSyncService.h"
#include "cloud/WebDavCloudDatabase.h"
#include "services/SyncService.h"
#include "stores/BoardCodec.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

namespace {

/// Runs one asynchronous cloud call to its answer.
template <typename T, typename Call> CloudResult<T> await(Call call)
{
    std::optional<CloudResult<T>> result;
    call([&result](CloudResult<T> answer) { result.emplace(std::move(answer)); });
    [&] { QTRY_VERIFY_WITH_TIMEOUT(result.has_value(), 20000); }();
    if (!result)
        return CloudError{CloudErrorCode::internalError, QStringLiteral("no answer")};
    return *result;
}

/// The failure's text for a test message; evaluated even when the check passes.
template <typename T> QByteArray why(const CloudResult<T> &result)
{
    return result.hasValue() ? QByteArray() : result.error().localizedDescription.toUtf8();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(contents);
}

const QByteArray envelopeStart =
    R"({"recordName":"default-board","recordType":"BoardSnapshot","fields":)";

} // namespace

class WebDavCloudTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void accountStatusCreatesTheContainer();
    void firstFetchFindsNothingAndSaveCreatesTheRecord();
    void secondSaveUpdatesTheRecord();
    void saveKeepsFieldsOfOtherWriters();
    void recordWithoutDataPayloadReadsAsEmptyBoard_data();
    void recordWithoutDataPayloadReadsAsEmptyBoard();
    void unreadableRecordFailsAndIsLeftAlone_data();
    void unreadableRecordFailsAndIsLeftAlone();
    void changedOnServerSinceFetchIsRefused();
    void creatingOverAnExistingRecordIsRefused();
    void accountProblemsAreErrors_data();
    void accountProblemsAreErrors();
    void twoMachinesMergeThroughTheServer();

private:
    std::unique_ptr<WebDavCloudDatabase> database(const QUrl &collection, const QString &password);
    std::unique_ptr<CloudKitThoughtSyncService> store();
    QString recordPath() const;

    ApacheWebDavServer m_server;
    QString m_container;
};

void WebDavCloudTest::initTestCase()
{
    QString error;
    QVERIFY2(m_server.start(&error), qPrintable(error));
}

void WebDavCloudTest::init()
{
    // Every test gets a container of its own on the one server.
    m_container = QStringLiteral("iCloud.test.%1.%2")
                      .arg(QString::fromLatin1(QTest::currentTestFunction()))
                      .arg(QString::fromLatin1(QTest::currentDataTag()).size());
    if (QTest::currentDataTag())
        m_container += QString::number(qHash(QString::fromUtf8(QTest::currentDataTag())));
}

std::unique_ptr<WebDavCloudDatabase> WebDavCloudTest::database(const QUrl &collection,
                                                               const QString &password)
{
    const CloudAccount account{collection, m_server.user(), CloudAccount::Source::environment};
    PasswordSource source = [password](std::function<void(CloudResult<QString>)> completion) {
        completion(password);
    };
    return std::make_unique<WebDavCloudDatabase>(account, source, m_container, WebDavLimits{});
}

std::unique_ptr<CloudKitThoughtSyncService> WebDavCloudTest::store()
{
    auto cloud = std::make_unique<CloudKitThoughtSyncService>(
        database(m_server.collectionUrl(), m_server.password()));
    cloud->setClock([] { return fixtureNow(); });
    const auto status =
        await<CloudAccountStatus>([&](auto completion) { cloud->accountStatus(completion); });
    if (!status.hasValue())
        qWarning("%s", why(status).constData());
    return cloud;
}

QString WebDavCloudTest::recordPath() const
{
    return m_server.collectionPath() + QLatin1Char('/') + m_container +
           QStringLiteral("/default-board.json");
}

void WebDavCloudTest::accountStatusCreatesTheContainer()
{
    auto db = database(m_server.collectionUrl(), m_server.password());
    const QString containerPath = m_server.collectionPath() + QLatin1Char('/') + m_container;
    QVERIFY(!QDir(containerPath).exists());

    for (int round = 0; round < 2; ++round) {
        const auto status =
            await<CloudAccountStatus>([&](auto completion) { db->accountStatus(completion); });
        QVERIFY2(status.hasValue(), why(status).constData());
        QCOMPARE(status.value(), CloudAccountStatus::available);
        QVERIFY(QDir(containerPath).exists());
    }
}

void WebDavCloudTest::firstFetchFindsNothingAndSaveCreatesTheRecord()
{
    auto cloud = store();
    const auto nothing =
        await<std::optional<Board>>([&](auto completion) { cloud->fetch(completion); });
    QVERIFY2(nothing.hasValue(), why(nothing).constData());
    QVERIFY(!nothing.value().has_value());

    const Board board{makeThought(QStringLiteral("第一条")),
                      makeThought(QStringLiteral("已删除"), ThoughtStatus::archived, -5, true)};
    const auto saved = await<CloudDone>([&](auto completion) { cloud->save(board, completion); });
    QVERIFY2(saved.hasValue(), why(saved).constData());

    const QJsonObject envelope = QJsonDocument::fromJson(readFile(recordPath())).object();
    QCOMPARE(envelope.value(QStringLiteral("recordName")).toString(),
             QStringLiteral("default-board"));
    QCOMPARE(envelope.value(QStringLiteral("recordType")).toString(),
             QStringLiteral("BoardSnapshot"));
    const QJsonObject fields = envelope.value(QStringLiteral("fields")).toObject();
    const QJsonObject payload = fields.value(QStringLiteral("payload")).toObject();
    QCOMPARE(payload.value(QStringLiteral("type")).toString(), QStringLiteral("data"));
    QCOMPARE(QByteArray::fromBase64(payload.value(QStringLiteral("value")).toString().toLatin1()),
             BoardCodec::encode(board));
    QCOMPARE(fields.value(QStringLiteral("updatedAt")).toObject(),
             (QJsonObject{{QStringLiteral("type"), QStringLiteral("date")},
                          {QStringLiteral("value"), QStringLiteral("2026-03-01T09:00:00Z")}}));

    const auto fetched =
        await<std::optional<Board>>([&](auto completion) { cloud->fetch(completion); });
    QVERIFY(fetched.hasValue());
    QVERIFY(fetched.value().has_value());
    QCOMPARE(BoardCodec::encode(*fetched.value()), BoardCodec::encode(board));
}

void WebDavCloudTest::secondSaveUpdatesTheRecord()
{
    auto cloud = store();
    const auto empty = await<CloudDone>([&](auto completion) { cloud->save({}, completion); });
    QVERIFY2(empty.hasValue(), why(empty).constData());
    QVERIFY(readFile(recordPath()).contains("\"value\":\"" + QByteArray("[]").toBase64() + '"'));

    const Board board{makeThought(QStringLiteral("second"))};
    const auto saved = await<CloudDone>([&](auto completion) { cloud->save(board, completion); });
    QVERIFY2(saved.hasValue(), why(saved).constData());
    const auto fetched =
        await<std::optional<Board>>([&](auto completion) { cloud->fetch(completion); });
    QCOMPARE(titles(fetched.value().value_or(Board())), QStringList{QStringLiteral("second")});
}

void WebDavCloudTest::saveKeepsFieldsOfOtherWriters()
{
    auto cloud = store();
    writeFile(recordPath(),
              R"({"recordName":"default-board","recordType":"BoardSnapshot","owner":"phone",)"
              R"("fields":{"colour":{"type":"string","value":"teal"},)"
              R"("payload":{"type":"data","value":"W10="}}})");

    const auto saved = await<CloudDone>(
        [&](auto completion) { cloud->save({makeThought(QStringLiteral("mine"))}, completion); });
    QVERIFY2(saved.hasValue(), why(saved).constData());

    const QJsonObject envelope = QJsonDocument::fromJson(readFile(recordPath())).object();
    QCOMPARE(envelope.value(QStringLiteral("owner")).toString(), QStringLiteral("phone"));
    QCOMPARE(envelope.value(QStringLiteral("fields"))
                 .toObject()
                 .value(QStringLiteral("colour"))
                 .toObject(),
             (QJsonObject{{QStringLiteral("type"), QStringLiteral("string")},
                          {QStringLiteral("value"), QStringLiteral("teal")}}));
    const auto fetched =
        await<std::optional<Board>>([&](auto completion) { cloud->fetch(completion); });
    QCOMPARE(titles(fetched.value().value_or(Board())), QStringList{QStringLiteral("mine")});
}

void WebDavCloudTest::recordWithoutDataPayloadReadsAsEmptyBoard_data()
{
    QTest::addColumn<QByteArray>("fields");
    QTest::newRow("no payload") << QByteArray(
        R"({"updatedAt":{"type":"date","value":"2026-03-01T09:00:00Z"}})");
    QTest::newRow("payload is a date")
        << QByteArray(R"({"payload":{"type":"date","value":"2026-03-01T09:00:00Z"}})");
    QTest::newRow("payload is a bare string") << QByteArray(R"({"payload":"W10="})");
}

void WebDavCloudTest::recordWithoutDataPayloadReadsAsEmptyBoard()
{
    QFETCH(QByteArray, fields);
    auto cloud = store();
    writeFile(recordPath(), envelopeStart + fields + '}');

    const auto fetched =
        await<std::optional<Board>>([&](auto completion) { cloud->fetch(completion); });
    QVERIFY2(fetched.hasValue(), why(fetched).constData());
    QCOMPARE(fetched.value(), std::optional<Board>(Board()));
}

void WebDavCloudTest::unreadableRecordFailsAndIsLeftAlone_data()
{
    QTest::addColumn<QByteArray>("record");
    QTest::addColumn<bool>("saveRefused");

    const QByteArray unknownStatus =
        R"([{"id":"0F8FAD5B-D9CB-469F-A165-70867728950E","title":"x","note":"","status":"someday",)"
        R"("createdAt":"2026-03-01T09:00:00Z","updatedAt":"2026-03-01T09:00:00Z","isDeleted":false}])";
    const auto withPayload = [](const QByteArray &payload) {
        return envelopeStart + R"({"payload":{"type":"data","value":")" + payload.toBase64() +
               "\"}}}";
    };
    QTest::newRow("payload with an unknown status") << withPayload(unknownStatus) << false;
    QTest::newRow("payload that is not JSON") << withPayload("{not json") << false;
    QTest::newRow("record that is not an envelope") << QByteArray("[1,2,3]") << true;
    QTest::newRow("record that is not JSON") << QByteArray("<html>moved</html>") << true;
}

void WebDavCloudTest::unreadableRecordFailsAndIsLeftAlone()
{
    QFETCH(QByteArray, record);
    QFETCH(bool, saveRefused);
    auto cloud = store();
    writeFile(recordPath(), record);

    const auto fetched =
        await<std::optional<Board>>([&](auto completion) { cloud->fetch(completion); });
    QVERIFY(!fetched.hasValue());
    QCOMPARE(fetched.error().code, CloudErrorCode::invalidRecord);
    QVERIFY(!fetched.error().localizedDescription.isEmpty());
    QCOMPARE(readFile(recordPath()), record);

    // A record this application cannot read as an envelope is not overwritten either.
    if (saveRefused) {
        const auto saved = await<CloudDone>([&](auto completion) { cloud->save({}, completion); });
        QVERIFY(!saved.hasValue());
        QCOMPARE(readFile(recordPath()), record);
    }
}

void WebDavCloudTest::changedOnServerSinceFetchIsRefused()
{
    auto cloud = store();
    QVERIFY(await<CloudDone>([&](auto completion) { cloud->save({}, completion); }).hasValue());
    auto db = database(m_server.collectionUrl(), m_server.password());
    const auto fetched = await<CloudRecord>(
        [&](auto completion) { db->fetchRecord(QStringLiteral("default-board"), completion); });
    QVERIFY2(fetched.hasValue(), why(fetched).constData());
    QVERIFY(!fetched.value().versionTag.isEmpty());

    // Another device writes in between, within the same second.
    QVERIFY(await<CloudDone>([&](auto completion) {
                cloud->save({makeThought(QStringLiteral("other device"))}, completion);
            }).hasValue());

    CloudRecord stale = fetched.value();
    stale.setDataField(QStringLiteral("payload"), "[]");
    const auto saved =
        await<CloudRecord>([&](auto completion) { db->saveRecord(stale, completion); });
    QVERIFY(!saved.hasValue());
    QCOMPARE(saved.error().code, CloudErrorCode::serverRecordChanged);
    const auto current =
        await<std::optional<Board>>([&](auto completion) { cloud->fetch(completion); });
    QCOMPARE(titles(current.value().value_or(Board())),
             QStringList{QStringLiteral("other device")});
}

void WebDavCloudTest::creatingOverAnExistingRecordIsRefused()
{
    auto cloud = store();
    QVERIFY(await<CloudDone>([&](auto completion) { cloud->save({}, completion); }).hasValue());
    auto db = database(m_server.collectionUrl(), m_server.password());

    CloudRecord fresh;
    fresh.recordName = QStringLiteral("default-board");
    fresh.recordType = QStringLiteral("BoardSnapshot");
    const auto saved =
        await<CloudRecord>([&](auto completion) { db->saveRecord(fresh, completion); });
    QVERIFY(!saved.hasValue());
    QCOMPARE(saved.error().code, CloudErrorCode::serverRecordChanged);
}

void WebDavCloudTest::accountProblemsAreErrors_data()
{
    QTest::addColumn<QString>("collection");
    QTest::addColumn<QString>("password");
    QTest::addColumn<CloudErrorCode>("code");

    QTest::newRow("wrong password")
        << QStringLiteral("dav/") << QStringLiteral("wrong") << CloudErrorCode::notAuthenticated;
    QTest::newRow("forbidden collection")
        << QStringLiteral("forbidden/") << QString() << CloudErrorCode::permissionFailure;
    QTest::newRow("collection that does not exist")
        << QStringLiteral("dav/missing/") << QString() << CloudErrorCode::serverRejectedRequest;
}

void WebDavCloudTest::accountProblemsAreErrors()
{
    QFETCH(QString, collection);
    QFETCH(QString, password);
    QFETCH(CloudErrorCode, code);

    const QUrl url = m_server.collectionUrl().resolved(QUrl(QStringLiteral("/") + collection));
    auto cloud = std::make_unique<CloudKitThoughtSyncService>(
        database(url, password.isEmpty() ? m_server.password() : password));
    const auto status =
        await<CloudAccountStatus>([&](auto completion) { cloud->accountStatus(completion); });
    QVERIFY(!status.hasValue());
    QCOMPARE(status.error().code, code);
    QVERIFY(!status.error().localizedDescription.isEmpty());
}

void WebDavCloudTest::twoMachinesMergeThroughTheServer()
{
    // The first machine's launch creates the record; the second one's merges with it.
    const Thought shared = makeThought(QStringLiteral("shared"));
    Thought editedOnSecond = shared;
    editedOnSecond.title = QStringLiteral("shared, edited later");
    editedOnSecond.updatedAt = shared.updatedAt.addSecs(60);
    const Thought onlyFirst = makeThought(QStringLiteral("only on the first"));
    const Thought onlySecond = makeThought(QStringLiteral("only on the second"));

    SyncService first(store());
    Board firstApplied;
    first.start({onlyFirst, shared}, [&](const Board &board) { firstApplied = board; });
    QTRY_COMPARE_WITH_TIMEOUT(first.state(), SyncService::State::cloudKitReady(), 20000);
    QCOMPARE(titles(firstApplied), titles({onlyFirst, shared}));

    SyncService second(store());
    Board secondApplied;
    second.start({editedOnSecond, onlySecond}, [&](const Board &board) { secondApplied = board; });
    QTRY_COMPARE_WITH_TIMEOUT(second.state(), SyncService::State::cloudKitReady(), 20000);
    const Board expected{editedOnSecond, onlySecond, onlyFirst};
    QCOMPARE(titles(secondApplied), titles(expected));

    auto reader = store();
    const auto stored =
        await<std::optional<Board>>([&](auto completion) { reader->fetch(completion); });
    QCOMPARE(titles(stored.value().value_or(Board())), titles(expected));
}

QTEST_GUILESS_MAIN(WebDavCloudTest)
#include "tst_webdavcloud.moc"
