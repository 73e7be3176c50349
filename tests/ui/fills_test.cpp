// The fills of the key-information page and the container view, from plain facts into a
// bare model: no window, no driver. The reading that makes the facts is tested through the
// window against the fake driver and the soft token.
#include "containerview.h"
#include "keyinfopage.h"

#include <QStandardItemModel>
#include <QtTest>

#include <cstring>
#include <vector>

namespace {

// A node and its children as one line: "text[child,child[grandchild]]".
QString shape(const QStandardItem* node)
{
    QStringList children;
    for (int row = 0; row < node->rowCount(); ++row) {
        children << shape(node->child(row));
    }
    return node->text() + (children.isEmpty() ? QString() : QLatin1Char('[') + children.join(',') + QLatin1Char(']'));
}

QStringList values(const QStandardItemModel& model)
{
    QStringList texts;
    for (int row = 0; row < model.rowCount(); ++row) {
        texts << model.item(row, 1)->text();
    }
    return texts;
}

KeyPairFacts pair(ULONG bits, bool certificate = false, const char* name = "")
{
    return {certificate, name, bits};
}

ContainerFacts container(const char* name, BYTE type, KeyPairFacts sign, KeyPairFacts encrypt, bool described = true)
{
    ContainerFacts facts;
    facts.name = name;
    facts.described = described;
    facts.info.ContainerType = type;
    facts.sign = sign;
    facts.encrypt = encrypt;
    return facts;
}

} // namespace

Q_DECLARE_METATYPE(ContainerFacts)

class FillsTest : public QObject
{
    Q_OBJECT

private slots:
    void aReadDevice_fillsTwelveRows_withItsRecordAndBothPinKinds()
    {
        KeyInfoFacts facts;
        facts.deviceRead = true;
        facts.label = "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345";
        facts.serialNumber = "SN-0001";
        facts.manufacturer = "Velkora Soft";
        facts.hardwareMajor = 2;
        facts.hardwareMinor = 13;
        facts.totalSpace = 65536;
        facts.freeSpace = 1023;
        facts.adminPin = PinFacts{10, 7, true};
        facts.userPin = PinFacts{6, 0, false};
        QStandardItemModel model;
        fillKeyInfo(model, facts);

        QCOMPARE(model.rowCount(), 12);
        QCOMPARE(model.item(0, 0)->text(), QStringLiteral("Label"));
        QCOMPARE(model.item(11, 0)->text(), QStringLiteral("USERPIN DefaultPIN"));
        QCOMPARE(values(model),
                 QStringList({"ABCDEFGHIJKLMNOPQRSTUVWXYZ012345", "SN-0001", "Velkora Soft", "2.13", "64 KB", "0 KB",
                              "10", "7", "YES", "6", "0(Locked)", "NO"}));
        QCOMPARE(keyInfoBottomLine(facts.serialNumber), QStringLiteral("Velkora    当前设备SN：SN-0001"));
    }

    void whatTheFactsDoNotHold_showsPlaceholders()
    {
        const QString blank = QStringLiteral("  ");
        KeyInfoFacts unread;
        KeyInfoFacts adminOnly;
        adminOnly.deviceRead = true;
        adminOnly.label = "L";
        adminOnly.adminPin = PinFacts{3, 3, false};
        QStandardItemModel model;

        fillKeyInfo(model, unread);
        QCOMPARE(values(model), QStringList(QVector<QString>(12, blank).toList()));
        fillKeyInfo(model, adminOnly);
        QCOMPARE(values(model), QStringList({"L", "", "", "0.0", "0 KB", "0 KB", "3", "3", "NO", blank, blank, blank}));
    }

    void containers_data()
    {
        QTest::addColumn<ContainerFacts>("facts");
        QTest::addColumn<QString>("shown");
        const QString keys = QStringLiteral("Public key,Private key");
        QTest::newRow("RSA, signing certificate")
            << container("A", 1, pair(2048, true, "Alice"), pair(2048))
            << QStringLiteral("A(container)[Sign(RSA2048)[Alice,%1],Encrypt&Decrypt(RSA2048)[%1]]").arg(keys);
        QTest::newRow("ECC, only an encryption certificate: that pair first")
            << container("B", 2, pair(256), pair(256, true, "Bob"))
            << QStringLiteral("B(container)[Encrypt&Decrypt(ECC256)[Bob,%1],Sign(ECC256)[%1]]").arg(keys);
        QTest::newRow("both certificates: signing first, each its own name")
            << container("C", 2, pair(128, true, "S"), pair(256, true, "E"))
            << QStringLiteral("C(container)[Sign(ECC128)[S,%1],Encrypt&Decrypt(ECC256)[E,%1]]").arg(keys);
        QTest::newRow("a certificate without a name")
            << container("D", 1, pair(1024, true), pair(0))
            << QStringLiteral("D(container)[Sign(RSA1024)[Certificate,%1]]").arg(keys);
        QTest::newRow("lengths the view does not know, and an unreadable key: left out, certificate and all")
            << container("E", 1, pair(512, true, "Short"), pair(1024))
            << QStringLiteral("E(container)[Encrypt&Decrypt(RSA1024)[%1]]").arg(keys);
        QTest::newRow("an RSA length on an ECC container")
            << container("F", 2, pair(1024), pair(0)) << QStringLiteral("F(container)");
        QTest::newRow("no key pair") << container("G", 0, pair(2048), pair(2048)) << QStringLiteral("G(container)");
        QTest::newRow("not described") << container("H", 1, pair(2048), pair(2048), false)
                                       << QStringLiteral("H(container)");
    }

    void containers()
    {
        QFETCH(ContainerFacts, facts);
        QFETCH(QString, shown);
        QStandardItemModel model;
        fillContainers(model, {facts});
        QCOMPARE(model.rowCount(), 1);
        QCOMPARE(shape(model.item(0)), shown);
    }

    void containersKeepTheirListOrder()
    {
        QStandardItemModel model;
        fillContainers(model, {container("ZETA", 0, {}, {}), container("ALPHA", 0, {}, {})});
        QCOMPARE(shape(model.invisibleRootItem()), QStringLiteral("[ZETA(container),ALPHA(container)]"));
    }
};

QTEST_MAIN(FillsTest)
#include "fills_test.moc"
