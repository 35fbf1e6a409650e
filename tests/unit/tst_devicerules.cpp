// The pure rules that turn network input into device data: the swept address range, the
// vendor prefix test and the reading of device replies.
#include "controller/addressrange.h"
#include "controller/vendorprefix.h"
#include "discovery/devicereply.h"

#include <QTest>

class TestDeviceRules : public QObject
{
    Q_OBJECT

private slots:
    void addressRange_data();
    void addressRange();
    void vendorPrefix_data();
    void vendorPrefix();
    void contentType_data();
    void contentType();
    void bodyDecoding_data();
    void bodyDecoding();
    void addressFromReplyUrl_data();
    void addressFromReplyUrl();
};

void TestDeviceRules::addressRange_data()
{
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QString>("mask");
    QTest::addColumn<int>("size");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("last");
    QTest::addColumn<int>("total");
    QTest::newRow("/24") << "192.168.1.37"
                         << "255.255.255.0" << 254 << "192.168.1.1"
                         << "192.168.1.254" << 254;
    QTest::newRow("/26") << "172.16.5.200"
                         << "255.255.255.192" << 62 << "172.16.5.193"
                         << "172.16.5.254" << 62;
    QTest::newRow("/22") << "10.1.2.3"
                         << "255.255.252.0" << 1016 << "10.1.0.1"
                         << "10.1.3.254" << 1016;
    QTest::newRow("/8 keeps the /16") << "10.20.30.40"
                                      << "255.0.0.0" << 65024 << "10.20.0.1"
                                      << "10.20.255.254" << 65024;
    QTest::newRow("/31 empty") << "192.168.1.37"
                               << "255.255.255.254" << 0 << ""
                               << "" << 0;
    QTest::newRow("mask without dots") << "192.168.1.37"
                                       << "" << 0 << ""
                                       << "" << 0;
    QTest::newRow("three-part mask") << "192.168.1.37"
                                     << "255.255.255" << 0 << ""
                                     << "" << 0;
    QTest::newRow("three-part address") << "192.168.1"
                                        << "255.255.255.0" << 0 << ""
                                        << "" << 0;
    QTest::newRow("mask octet above 255") << "10.0.0.1"
                                          << "255.255.256.0" << 0 << ""
                                          << "" << 0;
    QTest::newRow("hostile octets do not loop") << "1.1.1.1"
                                                << "0.0.-2000000000.-5" << 0 << ""
                                                << "" << int(2000000256u * 259u);
}

void TestDeviceRules::addressRange()
{
    QFETCH(QString, ip);
    QFETCH(QString, mask);
    QFETCH(int, size);
    QFETCH(QString, first);
    QFETCH(QString, last);
    QFETCH(int, total);
    int totalCount = 12345;
    const QStringList list = AddressRange::fromInterface(ip, mask, &totalCount);
    QCOMPARE(list.size(), size);
    QCOMPARE(totalCount, total);
    if (size > 0) {
        QCOMPARE(list.first(), first);
        QCOMPARE(list.last(), last);
        QVERIFY(list.contains(ip)); // the interface's own address is not skipped
    }
    if (ip == "10.1.2.3") {
        // Third octet ascending, fourth ascending inside; .0 and .255 never visited.
        QCOMPARE(list.at(253), QStringLiteral("10.1.0.254"));
        QCOMPARE(list.at(254), QStringLiteral("10.1.1.1"));
        QVERIFY(!list.contains("10.1.1.0"));
        QVERIFY(!list.contains("10.1.1.255"));
    }
}

void TestDeviceRules::vendorPrefix_data()
{
    QTest::addColumn<QString>("mac");
    QTest::addColumn<bool>("matches");
    QTest::newRow("d0c8 dashes") << "D0-C8-1A-2B-3C-4D" << true;
    QTest::newRow("08ea40 colons lower") << "08:ea:40:00:11:22" << true;
    QTest::newRow("0206") << "02-06-00-00-00-10" << true;
    QTest::newRow("0c8c24 dotted") << "0c8c.2400.1122" << true;
    QTest::newRow("other vendor") << "00-11-22-33-44-55" << false;
    QTest::newRow("leading blank") << " D0-C8-1A-2B-3C-4D" << false;
    QTest::newRow("prefix later in text") << "00-D0-C8-1A-2B-3C" << false;
    QTest::newRow("short") << "D0" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("NULL") << "NULL" << false;
    QTest::newRow("markup around") << "<b>D0C8</b>" << false;
}

void TestDeviceRules::vendorPrefix()
{
    QFETCH(QString, mac);
    QFETCH(bool, matches);
    QCOMPARE(VendorPrefix::matches(mac), matches);
}

void TestDeviceRules::contentType_data()
{
    QTest::addColumn<QString>("header");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("exact") << "application/octet-stream" << true;
    QTest::newRow("case and charset") << "Application/Octet-Stream; charset=utf-8" << true;
    QTest::newRow("text/plain") << "text/plain" << false;
    QTest::newRow("missing") << "" << false;
}

void TestDeviceRules::contentType()
{
    QFETCH(QString, header);
    QFETCH(bool, accepted);
    QCOMPARE(DeviceReply::isAcceptedContentType(header), accepted);
}

void TestDeviceRules::bodyDecoding_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("utf8");
    QTest::addColumn<QString>("text");
    QTest::newRow("line feed removed") << QByteArray("Encoder\n") << true << "Encoder";
    QTest::newRow("carriage return kept") << QByteArray("Encoder\r\n") << true << "Encoder\r";
    QTest::newRow("inner line feeds") << QByteArray("a\nb\n\nc") << false << "abc";
    QTest::newRow("cut at NUL") << QByteArray("ab\0cd", 5) << false << "ab";
    QTest::newRow("NUL first") << QByteArray("\0abc", 4) << true << "";
    QTest::newRow("utf-8 name") << QByteArray("Caf\xc3\xa9 \xe2\x98\x85") << true
                                << QString::fromUtf8("Caf\xc3\xa9 \xe2\x98\x85");
    QTest::newRow("same bytes as latin-1")
        << QByteArray("Caf\xc3\xa9") << false << QString::fromLatin1("Caf\xc3\xa9");
    QTest::newRow("invalid utf-8 survives") << QByteArray("A\xff\xfe"
                                                          "B")
                                            << true
                                            << QString::fromUtf8("A\xff\xfe"
                                                                 "B");
}

void TestDeviceRules::bodyDecoding()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, utf8);
    QFETCH(QString, text);
    QCOMPARE(DeviceReply::decodeBody(body, utf8), text);
}

void TestDeviceRules::addressFromReplyUrl_data()
{
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QString>("path");
    for (const QString &ip : QStringList { "192.168.1.20", "10.0.0.1", "198.18.255.254" }) {
        for (const QString *path : { &DeviceReply::macAddressPath(), &DeviceReply::deviceNamePath(),
                                     &DeviceReply::fwVersionPath() }) {
            QTest::newRow(qPrintable(ip + *path)) << ip << *path;
        }
    }
}

void TestDeviceRules::addressFromReplyUrl()
{
    QFETCH(QString, ip);
    QFETCH(QString, path);
    const QString url = DeviceReply::urlFor(ip, path).toString();
    QCOMPARE(url, "http://" + ip + path);
    QCOMPARE(DeviceReply::pathOf(url), path);
    QCOMPARE(DeviceReply::addressOf(url), ip);
    QCOMPARE(DeviceReply::addressOf("http://"), QString());
}

QTEST_MAIN(TestDeviceRules)
#include "tst_devicerules.moc"
