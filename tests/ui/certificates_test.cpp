// Certificate export, view and container deletion against the scriptable fake driver: the
// bytes written, the messages shown, the viewer's file in /tmp and its guards, the stand-in
// viewer's argument, and what each button does with nodes it does not act on.
#include "fakepagesfixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using namespace fakepages;
using namespace pages;

namespace {

const QString ViewerFile = QStringLiteral("/tmp/qorvex.cer");

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Creates or replaces the file at path with bytes; false when it cannot be written whole.
bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

class CertificatesTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir languageFiles;
    QTemporaryDir work;
    QByteArray signCertificate;
    QByteArray encryptCertificate;
    std::unique_ptr<RecordingWindow> window;
    std::unique_ptr<DialogWatcher> dialogs;
    int viewerLock = -1;

    QPushButton* button(const char* name) const { return window->findChild<QPushButton*>(QString::fromLatin1(name)); }
    QString viewerRecord() const { return work.filePath(QStringLiteral("viewer-argument")); }

    // One ECC container "SM2_CTN" with both certificates, opened in the container view.
    void fill(const QByteArray& lang = "en_US.UTF-8", const QString& languageDirectory = QString())
    {
        resetToOneToken(languageDirectory.isEmpty() ? languageFiles.path() : languageDirectory, lang);
        setContainers({"EARLIER", "SM2_CTN"});
        FakeSkf_SetContainerType("EARLIER", 0, SAR_OK);
        FakeSkf_SetContainerType("SM2_CTN", 2, SAR_OK);
        setCertificate("SM2_CTN", TRUE, signCertificate);
        setCertificate("SM2_CTN", FALSE, encryptCertificate);
        setPublicKey("SM2_CTN", TRUE, eccPublicKeyBlob(256));
        setPublicKey("SM2_CTN", FALSE, eccPublicKeyBlob(256));
        window = openWindow();
        QVERIFY(window != nullptr);
        clickApplicationNode(*window);
        dialogs = std::make_unique<DialogWatcher>();
        // The fill leaves the last container of the list open; let the operations show
        // they open the selected one by making another current first.
        cDevMgr::getInst()->OpenContainer("EARLIER");
    }

    const QStringList signCertificateNode{"SM2_CTN(container)", "Sign(ECC256)", "Signer"};
    const QStringList encryptCertificateNode{"SM2_CTN(container)", "Encrypt&Decrypt(ECC256)", "Encrypter"};

    // Selects the signature certificate and exports it, with target as the file dialog's answer.
    void exportSignCertificateTo(const QString& target)
    {
        dialogs->fileAnswer = target;
        QVERIFY(selectNode(*window, signCertificateNode));
        window->btn_exportCert();
    }

    // The export ended in one message, the failure.
    void checkExportFailed()
    {
        QCOMPARE(dialogs->messages().size(), 1);
        QCOMPARE(dialogs->messages()[0].text, QStringLiteral("export cert failed."));
    }

private slots:
    void initTestCase()
    {
        Q_INIT_RESOURCE(resource);
        // The viewer's file is one path for the whole machine: builds in other folders run
        // these cases too, so every run holds this lock until it ends.
        viewerLock = ::open("/tmp/qorvex.cer.test-lock", O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        QVERIFY(viewerLock >= 0 && ::flock(viewerLock, LOCK_EX) == 0);
        QVERIFY(work.isValid());
        signCertificate = makeCertificate("Signer", farFuture());
        encryptCertificate = makeCertificate("Encrypter", farFuture());
        QVERIFY(!signCertificate.isEmpty() && signCertificate != encryptCertificate);

        // The stand-in viewer records its argument and a copy of the file it was given.
        const QString viewer = work.filePath(QStringLiteral("gcr-viewer"));
        const QString script = QStringLiteral("#!/bin/sh\nprintf '%s' \"$1\" > '%1'\ncp \"$1\" '%1.copy'\n");
        QVERIFY(writeFile(viewer, script.arg(viewerRecord()).toUtf8()));
        QVERIFY(
            QFile::setPermissions(viewer, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
        qputenv("PATH", work.path().toLocal8Bit() + ':' + qgetenv("PATH"));
    }

    void cleanupTestCase() { ::close(viewerLock); }

    void cleanup()
    {
        dialogs.reset();
        window.reset();
        QFile::remove(ViewerFile);
        QFile::remove(viewerRecord());
        QFile::remove(viewerRecord() + ".copy");
    }

    void exportingAnEncryptionCertificate_writesExactlyTheTokensBytes_andReportsSuccess()
    {
        fill();
        const QString target = work.filePath(QStringLiteral("exported.cer"));
        dialogs->fileAnswer = target;
        QVERIFY(selectNode(*window, encryptCertificateNode));
        button("btn_ExpCert")->setEnabled(true);
        QTest::mouseClick(button("btn_ExpCert"), Qt::LeftButton);

        QCOMPARE(dialogs->seen[0].kind, QStringLiteral("file"));
        QCOMPARE(dialogs->seen[0].title, QStringLiteral("Export Certificate"));
        QCOMPARE(QFileInfo(dialogs->seen[0].text).fileName(), QStringLiteral("qorvex.cer"));
        QCOMPARE(dialogs->messages().size(), 1);
        QCOMPARE(dialogs->messages()[0].title, QStringLiteral("Export Certificate"));
        QCOMPARE(dialogs->messages()[0].text, QStringLiteral("export cert success."));
        QCOMPARE(readFile(target), encryptCertificate);
        QCOMPARE(QString::fromLatin1(FakeSkf_LastArgument("SKF_OpenContainer")), QStringLiteral("SM2_CTN"));
        QFile::remove(target);
    }

    void exportingOverAnExistingFile_replacesItWhole()
    {
        fill();
        const QString target = work.filePath(QStringLiteral("longer.cer"));
        QVERIFY(writeFile(target, QByteArray(8192, 'x')));
        exportSignCertificateTo(target);
        QCOMPARE(readFile(target), signCertificate);
        QFile::remove(target);
    }

    void aCertificateTheTokenWillNotDeliver_reportsFailure_andWritesNoFile()
    {
        fill();
        FakeSkf_SetResult("SKF_ExportCertificate", SAR_FAIL);
        const QString target = work.filePath(QStringLiteral("never.cer"));
        exportSignCertificateTo(target);
        checkExportFailed();
        QVERIFY(!QFile::exists(target));
    }

    void aFileThatCannotBeCreatedOrFullyWritten_reportsFailure_notSuccess()
    {
        for (const QString& target :
             {work.filePath(QStringLiteral("no/such/folder/x.cer")), QStringLiteral("/dev/full")}) {
            fill();
            exportSignCertificateTo(target);
            checkExportFailed();
            cleanup();
        }
    }

    void aContainerThatCannotBeOpened_exportsNothing_ratherThanTheCertificateOfTheOneBefore()
    {
        fill();
        // The container current before the click holds a certificate of its own.
        setCertificate("EARLIER", TRUE, encryptCertificate);
        FakeSkf_SetResult("SKF_OpenContainer", SAR_FAIL);
        const QString target = work.filePath(QStringLiteral("wrong.cer"));
        exportSignCertificateTo(target);
        checkExportFailed();
        QVERIFY(!QFile::exists(target));

        // The view is synchronous: when the call returns, the viewer was asked or never will be.
        window->btn_viewCert();
        QVERIFY(window->viewerCommands.isEmpty());
        QVERIFY(!QFile::exists(ViewerFile));
    }

    void aCancelledFileDialog_endsTheExportSilently()
    {
        fill();
        const unsigned exportsBefore = FakeSkf_CallCount("SKF_ExportCertificate");
        QVERIFY(selectNode(*window, signCertificateNode));
        window->btn_exportCert();
        QVERIFY(!dialogs->seen.isEmpty());
        QCOMPARE(dialogs->messages().size(), 0);
        QCOMPARE(FakeSkf_CallCount("SKF_ExportCertificate"), exportsBefore);
    }

    void exportAndView_doNothingOnKeyNodes_keyPairNodes_containerNodes_orWithoutSelection()
    {
        fill();
        dialogs->fileAnswer = work.filePath(QStringLiteral("unused.cer"));
        const unsigned exportsBefore = FakeSkf_CallCount("SKF_ExportCertificate");
        const QList<QStringList> paths{{"SM2_CTN(container)", "Sign(ECC256)", "Public key"},
                                       {"SM2_CTN(container)", "Encrypt&Decrypt(ECC256)", "Private key"},
                                       {"SM2_CTN(container)", "Sign(ECC256)"},
                                       {"SM2_CTN(container)"}};
        for (const QStringList& path : paths) {
            QVERIFY(selectNode(*window, path));
            window->btn_exportCert();
            window->btn_viewCert();
        }
        containerTree(*window)->setCurrentIndex(QModelIndex());
        window->btn_exportCert();
        window->btn_viewCert();
        QCOMPARE(dialogs->seen.size(), 0);
        QCOMPARE(FakeSkf_CallCount("SKF_ExportCertificate"), exportsBefore);
        QVERIFY(window->viewerCommands.isEmpty());
        QVERIFY(!QFile::exists(ViewerFile));
    }

    void doubleClickingASignatureCertificate_writesTheViewerFile_andStartsTheViewerOnIt()
    {
        fill();
        QVERIFY(selectNode(*window, signCertificateNode));
        const QModelIndex node = containerTree(*window)->currentIndex();
        emit containerTree(*window)->doubleClicked(node);

        QCOMPARE(readFile(ViewerFile), signCertificate);
        QCOMPARE(window->viewerCommands, QStringList("gcr-viewer /tmp/qorvex.cer &"));
        QTRY_COMPARE(readFile(viewerRecord()), QByteArray("/tmp/qorvex.cer"));
        QTRY_COMPARE(readFile(viewerRecord() + ".copy"), signCertificate);
        QCOMPARE(QString::fromLatin1(FakeSkf_LastArgument("SKF_OpenContainer")), QStringLiteral("SM2_CTN"));
        QCOMPARE(dialogs->seen.size(), 0);
    }

    void theViewerFile_isNeverWrittenThroughASymbolicLink()
    {
        fill();
        const QString target = work.filePath(QStringLiteral("victim"));
        QVERIFY(writeFile(target, "keep me"));
        QVERIFY(QFile::link(target, ViewerFile));

        QVERIFY(selectNode(*window, signCertificateNode));
        QTest::mouseClick(button("btn_ViewCert"), Qt::LeftButton);
        // The click is handled before mouseClick returns; the viewer was never asked.
        QVERIFY(window->viewerCommands.isEmpty());
        QCOMPARE(readFile(target), QByteArray("keep me"));
    }

    void theViewerFile_isNeverWrittenWhenSomeoneElseOwnsIt()
    {
        fill();
        QVERIFY(writeFile(ViewerFile, "planted"));
        // Only root can hand a file to another user; as anyone else the case cannot be made.
        if (::chown(ViewerFile.toLocal8Bit().constData(), 65534, 65534) != 0) {
            QSKIP("cannot give the file to another user here");
        }
        QVERIFY(selectNode(*window, signCertificateNode));
        window->btn_viewCert();
        QVERIFY(window->viewerCommands.isEmpty());
        QCOMPARE(readFile(ViewerFile), QByteArray("planted"));
    }

    void anEarlierViewerFileOfOurOwn_isReplacedWhole()
    {
        fill();
        QVERIFY(writeFile(ViewerFile, QByteArray(9000, 'y')));
        QVERIFY(selectNode(*window, encryptCertificateNode));
        window->btn_viewCert();
        QCOMPARE(readFile(ViewerFile), encryptCertificate);
    }

    void aViewTheTokenCannotServe_showsNothing()
    {
        fill();
        FakeSkf_SetResult("SKF_ExportCertificate", SAR_FAIL);
        QVERIFY(selectNode(*window, signCertificateNode));
        window->btn_viewCert();
        QVERIFY(window->viewerCommands.isEmpty());
        QVERIFY(!QFile::exists(ViewerFile));
        QCOMPARE(dialogs->seen.size(), 0);
    }

    void inChinese_theWideSuffixIsTakenOff_andTheContainerOpenedByItsName()
    {
        fill("zh_CN.UTF-8", QStringLiteral(STAGED_LANG_DIR));
        QStandardItem* container = containerModel(*window)->item(1);
        QCOMPARE(container->text(), QStringLiteral("SM2_CTN（容器）"));
        containerTree(*window)->setCurrentIndex(container->child(0)->child(0)->index());
        window->btn_viewCert();
        QCOMPARE(QString::fromLatin1(FakeSkf_LastArgument("SKF_OpenContainer")), QStringLiteral("SM2_CTN"));
        QCOMPARE(readFile(ViewerFile), signCertificate);
    }

    void deletingWithAContainerSelected_removesItWithoutAPrompt_andRebuildsTheView()
    {
        fill();
        const unsigned listsBefore = FakeSkf_CallCount("SKF_EnumContainer");
        QVERIFY(selectNode(*window, {"SM2_CTN(container)"}));
        button("btn_DelCtn")->setEnabled(true);
        QTest::mouseClick(button("btn_DelCtn"), Qt::LeftButton);

        QCOMPARE(FakeSkf_CallCount("SKF_DeleteContainer"), 1u);
        QCOMPARE(QString::fromLatin1(FakeSkf_LastArgument("SKF_DeleteContainer")), QStringLiteral("SM2_CTN"));
        QCOMPARE(dialogs->seen.size(), 0);
        // One more read of the list: its size query and its fill.
        QCOMPARE(FakeSkf_CallCount("SKF_EnumContainer"), listsBefore + 2);
        // The rebuilt view shows what the driver still lists.
        QCOMPARE(containerModel(*window)->rowCount(), 2);
        QVERIFY(!containerTree(*window)->currentIndex().isValid());
    }

    void aDeleteTheTokenRefuses_isReportedAsAFailure()
    {
        fill();
        FakeSkf_SetResult("SKF_DeleteContainer", SAR_FAIL);
        QVERIFY(selectNode(*window, {"SM2_CTN(container)"}));
        button("btn_DelCtn")->setEnabled(true);
        QTest::mouseClick(button("btn_DelCtn"), Qt::LeftButton);
        QTRY_COMPARE(dialogs->seen.size(), 1);
        QCOMPARE(dialogs->seen[0].title, QStringLiteral("Delete Container"));
        QCOMPARE(dialogs->seen[0].text, QStringLiteral("Operation failed"));
    }

    void deletingWithAnyOtherNodeSelected_doesNothing()
    {
        fill();
        for (const QStringList& path : {QStringList{"SM2_CTN(container)", "Sign(ECC256)"}, signCertificateNode}) {
            QVERIFY(selectNode(*window, path));
            window->btn_deleteCtn();
        }
        QCOMPARE(FakeSkf_CallCount("SKF_DeleteContainer"), 0u);
        QCOMPARE(dialogs->seen.size(), 0);
    }

    void aContainerNodeWithoutAName_isReportedUnderDeleteContainer()
    {
        fill();
        containerModel(*window)->item(0)->setText(QStringLiteral("(container)"));
        containerTree(*window)->setCurrentIndex(containerModel(*window)->item(0)->index());
        window->btn_deleteCtn();
        QCOMPARE(dialogs->seen.size(), 1);
        QCOMPARE(dialogs->seen[0].title, QStringLiteral("Delete Container"));
        QCOMPARE(dialogs->seen[0].text, QStringLiteral("import cert failed."));
        QCOMPARE(FakeSkf_CallCount("SKF_DeleteContainer"), 0u);
    }

    void aContainerNameTooLongForItsBuffer_isNeitherOpenedCutNorDeleted()
    {
        fill();
        const QString longName = QString(130, QLatin1Char('N'));
        QStandardItem* container = containerModel(*window)->item(1);
        container->setText(longName + QStringLiteral("(container)"));
        const unsigned opensBefore = FakeSkf_CallCount("SKF_OpenContainer");

        containerTree(*window)->setCurrentIndex(container->child(0)->child(0)->index());
        window->btn_viewCert();
        containerTree(*window)->setCurrentIndex(container->index());
        window->btn_deleteCtn();

        QCOMPARE(FakeSkf_CallCount("SKF_OpenContainer"), opensBefore);
        QCOMPARE(FakeSkf_CallCount("SKF_DeleteContainer"), 0u);
        QCOMPARE(dialogs->seen.size(), 2);
        QCOMPARE(dialogs->seen[0].title, QStringLiteral("View Certificate"));
        QCOMPARE(dialogs->seen[1].title, QStringLiteral("Delete Container"));
        QVERIFY(!QFile::exists(ViewerFile));
    }
};

QTEST_MAIN(CertificatesTest)
#include "certificates_test.moc"
