#include "identity/OidcKeychainSecretStore.h"

#include <QDirIterator>
#include <QTemporaryDir>
#include <QTest>

// The keyring store is the only place a refresh token may rest. Where no keyring can be reached
// (build machines have no Secret Service), it must say so, as "unavailable" rather than "nothing
// stored" (which would make the sign-in forget the person), and must not leave a file behind.
class OidcKeychainTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void withoutKeyringNothingLandsOnDisk();

private:
    QTemporaryDir m_home;
};

void OidcKeychainTest::initTestCase()
{
    QVERIFY(m_home.isValid());
    qputenv("HOME", m_home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (m_home.path() + QStringLiteral("/config")).toUtf8());
    qputenv("XDG_DATA_HOME", (m_home.path() + QStringLiteral("/data")).toUtf8());
    // A session bus address that leads nowhere: no keyring, and no bus started on demand.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + m_home.path().toUtf8() + "/no-bus");
}

void OidcKeychainTest::withoutKeyringNothingLandsOnDisk()
{
    OidcKeychainSecretStore store;
    const QString key = QStringLiteral("openid-refresh-token:test@http://127.0.0.1");

    std::optional<OidcSecretStore::WriteStatus> written;
    store.writeSecret(key, QStringLiteral("refresh-token-that-must-not-be-saved"),
                      [&](OidcSecretStore::WriteStatus status) { written = status; });
    QTRY_VERIFY_WITH_TIMEOUT(written.has_value(), 30000);
    std::optional<OidcSecretStore::ReadResult> read;
    store.readSecret(key, [&](const OidcSecretStore::ReadResult &result) { read = result; });
    QTRY_VERIFY_WITH_TIMEOUT(read.has_value(), 30000);

    QCOMPARE(*written, OidcSecretStore::WriteStatus::failed);
    QCOMPARE(read->status, OidcSecretStore::ReadStatus::unavailable);
    QDirIterator files(m_home.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    QStringList found;
    while (files.hasNext())
        found.append(files.next());
    QCOMPARE(found, QStringList());
}

QTEST_GUILESS_MAIN(OidcKeychainTest)
#include "tst_oidckeychain.moc"
