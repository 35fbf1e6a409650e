// The rules that turn a resolve reply into a report, on crafted replies: no daemon needed.
#include "discovery/dnssdbinding.h"
#include "discovery/dnssdconnection.h"
#include "discovery/resolvereply.h"

#include <QtTest>

#include <memory>
#include <vector>

namespace {

// A TXT record in a heap block of exactly its size, so that a sanitizer build catches any read
// past its end.
class TxtRecord
{
public:
    explicit TxtRecord(const QByteArray &bytes)
        : m_size(bytes.size()), m_data(new unsigned char[qMax(1, bytes.size())])
    {
        memcpy(m_data.get(), bytes.constData(), static_cast<size_t>(bytes.size()));
    }
    uint16_t size() const { return static_cast<uint16_t>(m_size); }
    const unsigned char *data() const { return m_data.get(); }

private:
    int m_size;
    std::unique_ptr<unsigned char[]> m_data;
};

QByteArray entry(const QByteArray &text)
{
    return char(text.size()) + text;
}

// Stand-ins for a faulty library: the value lies partly or wholly outside the record.
const void *overlongValue(uint16_t txtLen, const void *txtRecord, const char *, uint8_t *valueLen)
{
    *valueLen = 255;
    return static_cast<const unsigned char *>(txtRecord) + txtLen - 3;
}

const void *valueOutsideRecord(uint16_t txtLen, const void *txtRecord, const char *,
                               uint8_t *valueLen)
{
    *valueLen = 4;
    return static_cast<const unsigned char *>(txtRecord) + txtLen + 16;
}

} // namespace

class TestResolveReply : public QObject
{
    Q_OBJECT
private slots:
    void reportRules_data();
    void reportRules();
    void addressFallback_data();
    void addressFallback();
    void txtLookup_data();
    void txtLookup();
    void faultyLibraryIsNeverReadPastTheRecord();
    void missingLibraryYieldsTheFixedAnswers();
};

void TestResolveReply::reportRules_data()
{
    QTest::addColumn<QByteArray>("mac");
    QTest::addColumn<QByteArray>("fw");
    QTest::addColumn<QByteArray>("fullName");
    QTest::addColumn<QString>("expectedMac");
    QTest::addColumn<QString>("expectedFw");
    QTest::addColumn<QString>("expectedName");

    QTest::newRow("typical") << QByteArray("00:11:22:33:44:55") << QByteArray("1.0.3")
                             << QByteArray("Cam1._encoder._tcp.local.") << "00-11-22-33-44-55"
                             << "1.0.3"
                             << "Cam1";
    QTest::newRow("long MAC cut to 17")
        << QByteArray("00:11:22:33:44:55:66:77") << QByteArray()
        << QByteArray("Cam2._encoder._tcp.local.") << "00-11-22-33-44-55"
        << ""
        << "Cam2";
    QTest::newRow("short MAC whole") << QByteArray("00:11") << QByteArray("2.0\n")
                                     << QByteArray("Cam3._encoder._tcp.local.") << "00-11"
                                     << "2.0"
                                     << "Cam3";
    QTest::newRow("escapes kept") << QByteArray() << QByteArray()
                                  << QByteArray("Lobby\\032Encoder._encoder._tcp.local.") << ""
                                  << ""
                                  << "Lobby\\032Encoder";
    QTest::newRow("UTF-8 name, Latin-1 firmware") << QByteArray() << QByteArray("v\xe9")
                                                  << QByteArray("K\xc3\xbc"
                                                                "che._encoder._tcp.local.")
                                                  << "" << QString::fromUtf8("v\xc3\xa9")
                                                  << QString::fromUtf8("K\xc3\xbc"
                                                                       "che");
    QTest::newRow("other domain kept")
        << QByteArray() << QByteArray() << QByteArray("Cam4._encoder._tcp.example.org.") << ""
        << ""
        << "Cam4._encoder._tcp.example.org.";
    QTest::newRow("newlines removed")
        << QByteArray() << QByteArray() << QByteArray("Ca\nm5._encoder._tcp.local.\n") << ""
        << ""
        << "Cam5";
}

void TestResolveReply::reportRules()
{
    QFETCH(QByteArray, mac);
    QFETCH(QByteArray, fw);
    QFETCH(QByteArray, fullName);
    QFETCH(QString, expectedMac);
    QFETCH(QString, expectedFw);
    QFETCH(QString, expectedName);

    QCOMPARE(ResolveReply::macFrom(mac), expectedMac);
    QCOMPARE(ResolveReply::firmwareFrom(fw), expectedFw);
    QCOMPARE(ResolveReply::nameFrom(fullName), expectedName);
}

void TestResolveReply::addressFallback_data()
{
    QTest::addColumn<QString>("hostAddress");
    QTest::addColumn<QByteArray>("interfaceValue");
    QTest::addColumn<bool>("interfacePresent");
    QTest::addColumn<QString>("expected");

    QTest::newRow("host resolves")
        << "198.18.0.20" << QByteArray("eth0:10.0.0.1") << true << "198.18.0.20";
    QTest::newRow("interface value")
        << "" << QByteArray("eth0:198.18.0.99") << true << "198.18.0.99";
    QTest::newRow("interface of five characters") << "" << QByteArray("eth0:") << true << "";
    QTest::newRow("interface empty") << "" << QByteArray() << true << "0.0.0.0";
    QTest::newRow("interface absent") << "" << QByteArray() << false << "0.0.0.0";
}

void TestResolveReply::addressFallback()
{
    QFETCH(QString, hostAddress);
    QFETCH(QByteArray, interfaceValue);
    QFETCH(bool, interfacePresent);
    QFETCH(QString, expected);
    QCOMPARE(ResolveReply::addressFrom(hostAddress, interfaceValue, interfacePresent), expected);
}

void TestResolveReply::txtLookup_data()
{
    QTest::addColumn<QByteArray>("record");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<bool>("present");
    QTest::addColumn<QByteArray>("value");

    const QByteArray typical = entry("MAC=00:11:22:33:44:55") + entry("FW=1.0.3") + entry("Code=7")
        + entry("interface=eth0:198.18.0.9");
    QTest::newRow("first key") << typical << QByteArray("MAC") << true
                               << QByteArray("00:11:22:33:44:55");
    QTest::newRow("last key") << typical << QByteArray("interface") << true
                              << QByteArray("eth0:198.18.0.9");
    QTest::newRow("absent key") << typical << QByteArray("Name") << false << QByteArray();
    QTest::newRow("empty value") << entry("FW=") << QByteArray("FW") << true << QByteArray();
    QTest::newRow("value with NUL") << entry(QByteArray("FW=1\0"
                                                        "2",
                                                        6))
                                    << QByteArray("FW") << true
                                    << QByteArray("1\0"
                                                  "2",
                                                  3);
    const QByteArray longest(255 - 3, 'x');
    QTest::newRow("longest value") << entry("FW=" + longest) << QByteArray("FW") << true << longest;
    // The last entry claims 200 bytes where 9 follow.
    QTest::newRow("length lies") << entry("Code=7") + char(200) + QByteArray("FW=1.0.3x")
                                 << QByteArray("FW") << false << QByteArray();
    QTest::newRow("empty record") << QByteArray() << QByteArray("MAC") << false << QByteArray();
}

void TestResolveReply::txtLookup()
{
    if (!DnsSdBinding::instance().isLoaded()) {
        QSKIP("the DNS-SD library is not installed");
    }
    QFETCH(QByteArray, record);
    QFETCH(QByteArray, key);
    QFETCH(bool, present);
    QFETCH(QByteArray, value);

    const TxtRecord txt(record);
    const ResolveReply reply("Cam1._encoder._tcp.local.", "cam1.local.", txt.size(), txt.data());
    bool found = false;
    const QByteArray got = reply.txtValue(key.constData(), &found);
    // A lying length may either hide the key or cut its value; it must never extend it.
    if (QByteArray(QTest::currentDataTag()) == "length lies") {
        QVERIFY(got.size() <= 6);
        return;
    }
    QCOMPARE(found, present);
    QCOMPARE(got, value);
}

void TestResolveReply::faultyLibraryIsNeverReadPastTheRecord()
{
    const TxtRecord txt(entry("FW=1.0.3"));
    const ResolveReply overlong("Cam1._encoder._tcp.local.", "cam1.local.", txt.size(), txt.data(),
                                &overlongValue);
    bool present = false;
    QCOMPARE(overlong.txtValue("FW", &present), QByteArray("0.3"));
    QVERIFY(present);

    const ResolveReply outside("Cam1._encoder._tcp.local.", "cam1.local.", txt.size(), txt.data(),
                               &valueOutsideRecord);
    QCOMPARE(outside.txtValue("FW", &present), QByteArray());
    QVERIFY(!present);
    QCOMPARE(outside.macText(), QString());
}

void TestResolveReply::missingLibraryYieldsTheFixedAnswers()
{
    DnsSdBinding binding("liblumisweep-absent-dns_sd.so.1");
    QVERIFY(!binding.isLoaded());
    DNSServiceRef ref = nullptr;
    QCOMPARE(binding.createConnection(&ref), kDNSServiceErr_ServiceNotRunning);
    QCOMPARE(binding.browse(&ref, 0, 0, "_encoder._tcp", nullptr, nullptr, nullptr),
             kDNSServiceErr_ServiceNotRunning);
    QCOMPARE(binding.resolve(&ref, 0, 0, "Cam1", "_encoder._tcp", "local.", nullptr, nullptr),
             kDNSServiceErr_ServiceNotRunning);
    QCOMPARE(binding.processResult(ref), kDNSServiceErr_ServiceNotRunning);
    binding.refDeallocate(ref);
    uint8_t length = 7;
    QCOMPARE(binding.txtRecordGetValuePtr(4,
                                          "\x03"
                                          "a=b",
                                          "a", &length),
             nullptr);
    QCOMPARE(ref, nullptr);

    // The connection passes the reason on, so the log shows why the browse did not start.
    DnsSdConnection connection(binding);
    QCOMPARE(connection.open(), kDNSServiceErr_ServiceNotRunning);
    QCOMPARE(connection.browse(0, "_encoder._tcp", nullptr, nullptr, nullptr),
             kDNSServiceErr_ServiceNotRunning);
    QVERIFY(!connection.release());
}

QTEST_APPLESS_MAIN(TestResolveReply)
#include "tst_resolvereply.moc"
