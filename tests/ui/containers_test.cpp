// The container view against the scriptable fake driver: what the driver's answers become
// on the view (containers that cannot be described, certificate names that cannot be read),
// and which container is current after a fill. The fill's own rules are in fills_test.
#include "fakepagesfixture.h"

#include "containerview.h"
#include "mainwindow.h"

#include <QPushButton>
#include <QTabWidget>

using namespace fakepages;
using namespace pages;

class ContainersTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir noLanguageFiles;
    std::unique_ptr<RecordingWindow> window;

    QPushButton* button(const char* name) const { return window->findChild<QPushButton*>(QString::fromLatin1(name)); }

    void fill()
    {
        window = openWindow();
        QVERIFY(window != nullptr);
        clickApplicationNode(*window);
    }

    QStringList topLevelTexts() const { return childTexts(containerModel(*window)->invisibleRootItem()); }

private slots:
    void initTestCase() { Q_INIT_RESOURCE(resource); }
    void init() { resetToOneToken(noLanguageFiles.path()); }
    void cleanup() { window.reset(); }

    void anRsaContainer_showsTheSignaturePairWithItsCertificate_thenTheEncryptionPairWithout()
    {
        setContainers({"RSA_CTN"});
        FakeSkf_SetContainerType("RSA_CTN", 1, SAR_OK);
        setCertificate("RSA_CTN", TRUE, makeCertificate("Alice Signer", farFuture()));
        setPublicKey("RSA_CTN", TRUE, rsaPublicKeyBlob(2048));
        setPublicKey("RSA_CTN", FALSE, rsaPublicKeyBlob(2048));
        fill();

        QCOMPARE(window->findChild<QTabWidget*>("tabWidget")->currentIndex(), 2);
        QCOMPARE(topLevelTexts(), QStringList({"RSA_CTN(container)"}));
        QStandardItem* container = nodeAt(*window, {"RSA_CTN(container)"});
        QCOMPARE(childTexts(container), QStringList({"Sign(RSA2048)", "Encrypt&Decrypt(RSA2048)"}));
        QCOMPARE(childTexts(container->child(0)), QStringList({"Alice Signer", "Public key", "Private key"}));
        QCOMPARE(childTexts(container->child(1)), QStringList({"Public key", "Private key"}));
        QVERIFY(containerTree(*window)->isHeaderHidden());
        QVERIFY(button("btn_VerifyPIN")->isEnabled());
        QVERIFY(button("btn_ChangePIN")->isEnabled());
        QVERIFY(button("btn_ChangeLabel")->isEnabled());
    }

    void anEmptyContainer_andOneThatCannotBeDescribed_showOnlyTheirOwnNodes()
    {
        setContainers({"EMPTY", "BROKEN"});
        FakeSkf_SetContainerType("EMPTY", 0, SAR_OK);
        FakeSkf_SetContainerType("BROKEN", 1, SAR_FAIL);
        setPublicKey("BROKEN", TRUE, rsaPublicKeyBlob(2048));
        fill();

        QCOMPARE(topLevelTexts(), QStringList({"EMPTY(container)", "BROKEN(container)"}));
        QCOMPARE(nodeAt(*window, {"EMPTY(container)"})->rowCount(), 0);
        QCOMPARE(nodeAt(*window, {"BROKEN(container)"})->rowCount(), 0);
    }

    void twoContainers_appearInListOrder_andTheSecondIsCurrentAfterwards()
    {
        setContainers({"ZETA", "ALPHA"});
        FakeSkf_SetContainerType("ZETA", 0, SAR_OK);
        FakeSkf_SetContainerType("ALPHA", 0, SAR_OK);
        fill();

        QCOMPARE(topLevelTexts(), QStringList({"ZETA(container)", "ALPHA(container)"}));
        QCOMPARE(QString::fromLatin1(FakeSkf_LastArgument("SKF_OpenContainer")), QStringLiteral("ALPHA"));
    }

    void aCertificateWithoutCommonName_showsCertificate_notTheNameOfTheOneBefore()
    {
        setContainers({"NAMED", "NAMELESS"});
        for (const char* name : {"NAMED", "NAMELESS"}) {
            FakeSkf_SetContainerType(name, 2, SAR_OK);
            setPublicKey(name, TRUE, eccPublicKeyBlob(256));
        }
        setCertificate("NAMED", TRUE, makeCertificate("Carol", farFuture()));
        setCertificate("NAMELESS", TRUE, makeCertificate(QByteArray(), farFuture()));
        fill();

        QCOMPARE(nodeAt(*window, {"NAMED(container)", "Sign(ECC256)"})->child(0)->text(), QStringLiteral("Carol"));
        QCOMPARE(nodeAt(*window, {"NAMELESS(container)", "Sign(ECC256)"})->child(0)->text(),
                 QStringLiteral("Certificate"));
    }

    void aCertificateThatCannotBeParsed_showsCertificate()
    {
        setContainers({"JUNK"});
        FakeSkf_SetContainerType("JUNK", 1, SAR_OK);
        setCertificate("JUNK", TRUE, QByteArray("not a certificate"));
        setPublicKey("JUNK", TRUE, rsaPublicKeyBlob(1024));
        fill();

        QCOMPARE(childTexts(nodeAt(*window, {"JUNK(container)", "Sign(RSA1024)"})),
                 QStringList({"Certificate", "Public key", "Private key"}));
    }

    void aLongCommonName_isCutToItsBufferAtACharacterBoundary()
    {
        // 60 three-byte characters: 180 bytes, more than the 128-byte name buffer holds.
        const QString longName = QString(60, QChar(0x8BC1));
        setContainers({"LONG"});
        FakeSkf_SetContainerType("LONG", 2, SAR_OK);
        setCertificate("LONG", TRUE, makeCertificate(longName.toUtf8(), farFuture()));
        setPublicKey("LONG", TRUE, eccPublicKeyBlob(256));
        fill();

        const QString shown = nodeAt(*window, {"LONG(container)", "Sign(ECC256)"})->child(0)->text();
        QVERIFY(!shown.isEmpty());
        QVERIFY(shown.toUtf8().size() <= 127);
        QVERIFY(longName.startsWith(shown));
    }

    void aDeviceWithoutApplication_leavesTheViewEmpty_andThePinButtonsDisabled()
    {
        setNameList(FakeSkf_SetApplicationList, {});
        setContainers({"NEVER"});
        fill();

        QCOMPARE(containerModel(*window)->rowCount(), 0);
        QVERIFY(!button("btn_VerifyPIN")->isEnabled());
        QVERIFY(!button("btn_ChangePIN")->isEnabled());
    }

    void anApplicationThatCannotBeOpened_leavesTheViewEmpty_andThePinButtonsDisabled()
    {
        setContainers({"NEVER"});
        FakeSkf_SetResult("SKF_OpenApplication", SAR_FAIL);
        fill();

        QCOMPARE(containerModel(*window)->rowCount(), 0);
        QVERIFY(!button("btn_VerifyPIN")->isEnabled());
        QVERIFY(!button("btn_ChangePIN")->isEnabled());
    }

    void aContainerListWithoutItsClosingName_stillEndsAtItsLength()
    {
        const QByteArray list("FIRST\0SECOND", 12);
        FakeSkf_SetContainerList(list.constData(), static_cast<unsigned>(list.size()), -1);
        fill();
        QCOMPARE(topLevelTexts(), QStringList({"FIRST(container)", "SECOND(container)"}));
    }

    void aSecondFill_replacesTheWholeView()
    {
        setContainers({"ONE"});
        fill();
        setContainers({"TWO"});
        clickApplicationNode(*window);
        QCOMPARE(topLevelTexts(), QStringList({"TWO(container)"}));
    }

    void aDeviceEvent_emptiesTheView()
    {
        setContainers({"ONE"});
        fill();
        const int before = window->notices.size();
        FakeSkf_PushEvent(Device, 2);
        QTRY_COMPARE(window->notices.size(), before + 1);
        QCOMPARE(containerModel(*window)->rowCount(), 0);
    }

    void containerTypes_haveTheirWords()
    {
        QCOMPARE(QString::fromLatin1(getCtnType(1)), QStringLiteral("RSA"));
        QCOMPARE(QString::fromLatin1(getCtnType(2)), QStringLiteral("ECC"));
        QCOMPARE(QString::fromLatin1(getCtnType(0)), QStringLiteral("Empty"));
        QCOMPARE(QString::fromLatin1(getCtnType(-3)), QStringLiteral("Empty"));
    }
};

QTEST_MAIN(ContainersTest)
#include "containers_test.moc"
