// The container view, export, deletion and expiry warning against the real soft token.
// Tokens, key pairs and certificates are made by each case with skftool; each case runs in
// a process of its own with a fresh store.
#include "pagestestsupport.h"
#include "softtokenfixture.h"

#include "cdevmgr.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

#include <memory>
#include <vector>

using namespace pages;

class PagesSoftTokenTest : public QObject
{
    Q_OBJECT

private:
    SoftTokenStore softToken;
    std::unique_ptr<RecordingWindow> window;
    std::unique_ptr<DialogWatcher> dialogs;

    // skftool's PIN prompts are answered with the test tokens' user PIN.
    bool skftool(const QStringList& arguments)
    {
        return softToken.skftool(arguments, 60000, QStringLiteral("12345678"));
    }

    // A token "VK-T" with application APP and one container CTN.
    bool makeToken()
    {
        return skftool({"create", "--serial", "T1"}) && skftool({"insert", "T1", "--name", "VK-T"})
            && skftool({"app-create", "VK-T", "APP", "--default-pins"})
            && skftool({"container-create", "VK-T", "APP", "CTN"});
    }

    bool issue(const QString& kind, const QString& cn, const QDate& notAfter)
    {
        return skftool({"issue", "VK-T", "APP", "CTN", kind, "--cn", cn, "--not-before", "2020-01-01", "--not-after",
                        notAfter.toString(Qt::ISODate)});
    }

    void openWindowOnTheToken()
    {
        dialogs = std::make_unique<DialogWatcher>();
        openWindowOnTheDriver(window);
        QTRY_VERIFY_WITH_TIMEOUT(!window->notices.isEmpty() && window->deviceNames().size() == 1, 10000);
        clickApplicationNode(*window);
    }

    QByteArray exported(const QString& kind)
    {
        const QString file = softToken.filePath(QStringLiteral("skftool-export.cer"));
        if (!skftool({"cert-export", "VK-T", "APP", "CTN", kind, "-o", file})) {
            return {};
        }
        QFile result(file);
        return result.open(QIODevice::ReadOnly) ? result.readAll() : QByteArray();
    }

    QByteArray exportThroughTheWindow(const QStringList& certificateNode)
    {
        const QString file = softToken.filePath(QStringLiteral("window-export.cer"));
        dialogs->fileAnswer = file;
        if (!selectNode(*window, certificateNode)) {
            return {};
        }
        window->btn_exportCert();
        QFile result(file);
        return result.open(QIODevice::ReadOnly) ? result.readAll() : QByteArray();
    }

private slots:
    void initTestCase()
    {
        Q_INIT_RESOURCE(resource);
        QVERIFY(softToken.useInThisProcess());
    }

    void cleanup()
    {
        window.reset();
        dialogs.reset();
    }

    void anRsaContainer_showsItsTwoPairs_andExportsExactlyTheTokensCertificate()
    {
        QVERIFY(makeToken());
        QVERIFY(skftool({"keygen", "VK-T", "APP", "CTN", "--rsa", "2048"}));
        QVERIFY(skftool({"import-enc-key", "VK-T", "APP", "CTN"}));
        QVERIFY(issue("--sign", "RSA Signer", QDate::currentDate().addYears(2)));
        openWindowOnTheToken();

        QStandardItem* container = nodeAt(*window, {"CTN(container)"});
        QVERIFY(container != nullptr);
        QCOMPARE(childTexts(container), QStringList({"Sign(RSA2048)", "Encrypt&Decrypt(RSA2048)"}));
        QCOMPARE(childTexts(container->child(0)), QStringList({"RSA Signer", "Public key", "Private key"}));
        QCOMPARE(childTexts(container->child(1)), QStringList({"Public key", "Private key"}));

        const QByteArray fromWindow = exportThroughTheWindow({"CTN(container)", "Sign(RSA2048)", "RSA Signer"});
        QVERIFY(!fromWindow.isEmpty());
        QCOMPARE(fromWindow, exported("--sign"));
        QCOMPARE(dialogs->messages().last().text, QStringLiteral("export cert success."));
    }

    void anSm2ContainerWithOnlyAnEncryptionCertificate_listsTheEncryptionPairFirst()
    {
        QVERIFY(makeToken());
        QVERIFY(skftool({"keygen", "VK-T", "APP", "CTN", "--sm2"}));
        QVERIFY(skftool({"import-enc-key", "VK-T", "APP", "CTN"}));
        QVERIFY(issue("--enc", "SM2 Encrypter", QDate::currentDate().addYears(2)));
        openWindowOnTheToken();

        QStandardItem* container = nodeAt(*window, {"CTN(container)"});
        QVERIFY(container != nullptr);
        QCOMPARE(childTexts(container), QStringList({"Encrypt&Decrypt(ECC256)", "Sign(ECC256)"}));
        QCOMPARE(childTexts(container->child(0)), QStringList({"SM2 Encrypter", "Public key", "Private key"}));
        QCOMPARE(childTexts(container->child(1)), QStringList({"Public key", "Private key"}));

        QCOMPARE(exportThroughTheWindow({"CTN(container)", "Encrypt&Decrypt(ECC256)", "SM2 Encrypter"}),
                 exported("--enc"));
    }

    void theDemoToken_showsItsThreeContainers_andDeletingOneRemovesItFromTheToken()
    {
        QVERIFY(skftool({"demo"}));
        openWindowOnTheToken();
        const QStringList before = childTexts(containerModel(*window)->invisibleRootItem());
        QCOMPARE(before.size(), 3);
        QVERIFY(before.contains("EmptyContainer(container)"));
        QCOMPARE(nodeAt(*window, {"EmptyContainer(container)"})->rowCount(), 0);
        QCOMPARE(childTexts(nodeAt(*window, {"RSAContainer(container)"})).first(), QStringLiteral("Sign(RSA2048)"));
        QCOMPARE(childTexts(nodeAt(*window, {"SM2Container(container)"})),
                 QStringList({"Sign(ECC256)", "Encrypt&Decrypt(ECC256)"}));

        // Deleting needs the user's rights, as the window's own flow has them by then.
        ULONG retries = 0;
        QCOMPARE(cDevMgr::getInst()->VerifyPIN(1, "12345678", &retries), ULONG(SAR_OK));
        QVERIFY(selectNode(*window, {"EmptyContainer(container)"}));
        window->btn_deleteCtn();
        QCOMPARE(dialogs->seen.size(), 0);
        QStringList after = before;
        after.removeAll("EmptyContainer(container)");
        QCOMPARE(childTexts(containerModel(*window)->invisibleRootItem()), after);
        // The token itself no longer lists it.
        ULONG size = 0;
        QCOMPARE(cDevMgr::getInst()->EnumContainer(nullptr, &size), ULONG(SAR_OK));
        std::vector<char> list(size + 2, '\0');
        QCOMPARE(cDevMgr::getInst()->EnumContainer(list.data(), &size), ULONG(SAR_OK));
        QVERIFY(!QByteArray(list.data(), static_cast<int>(size)).contains("EmptyContainer"));
    }

    void aCertificateThatExpiredYesterday_opensTheErrorBoxOnInsertion()
    {
        QVERIFY(makeToken());
        QVERIFY(skftool({"keygen", "VK-T", "APP", "CTN", "--sm2"}));
        QVERIFY(issue("--sign", "Expired", QDate::currentDate().addDays(-1)));
        openWindowOnTheToken();
        QTRY_COMPARE(dialogs->seen.size(), 1);
        QCOMPARE(dialogs->seen[0].kind, QStringLiteral("critical"));
        QCOMPARE(dialogs->seen[0].text,
                 QStringLiteral("Your certificate has expired 1 days ago. \nPlease contact your "
                                "administrator for certificate update."));
    }

    void aContainerMadeThroughPkcs11_showsWithTheCertificateWrittenThroughIt()
    {
#ifndef SKFP11_CLIENTS_SCRIPT
        QSKIP("the PKCS#11 module is not part of this build");
#else
        if (QStandardPaths::findExecutable(QStringLiteral("pkcs11-tool")).isEmpty()) {
            QSKIP("pkcs11-tool is not installed");
        }
        // The clients' script makes the demo token here, generates an RSA pair with pkcs11-tool
        // and writes a certificate issued for it.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("MODULE"), QStringLiteral(SKFP11_MODULE));
        environment.insert(QStringLiteral("DRIVER"), QStringLiteral(SOFT_TOKEN_DRIVER));
        environment.insert(QStringLiteral("SKFTOOL"), QStringLiteral(SKFTOOL));
        environment.insert(QStringLiteral("SKFP11_CLIENTS_STORE"), QFileInfo(softToken.filePath("x")).path());
        environment.insert(QStringLiteral("SANITIZER_RUNTIME"), QStringLiteral(SKFP11_SANITIZER_RUNTIME));
        QProcess script;
        script.setProcessEnvironment(environment);
        script.start(QStringLiteral("bash"),
                     {QStringLiteral(SKFP11_CLIENTS_SCRIPT),
                      QStringLiteral("pkcs11tool_keypairgenThenWriteObject_showsInSkftool")});
        QVERIFY(script.waitForFinished(120000));
        QVERIFY2(script.exitCode() == 0, script.readAllStandardError().constData());

        openWindowOnTheToken();
        QStandardItem* container = nodeAt(*window, {"MadeByP11(container)"});
        QVERIFY(container != nullptr);
        QCOMPARE(childTexts(container), QStringList({"Sign(RSA2048)"}));
        QCOMPARE(childTexts(container->child(0)), QStringList({"MadeByP11", "Public key", "Private key"}));
#endif
    }
};

QTEST_MAIN(PagesSoftTokenTest)
#include "pages_softtoken_test.moc"
