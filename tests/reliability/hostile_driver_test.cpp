// The manager against a driver that lies: lists without their closing empty name, sizes
// that disagree with the data, names of 1,000 bytes, certificates of garbage, every call
// failing, calls that fail from their second time on, and a storm of device events. The
// window must survive each with the fallbacks the user would see: an empty tree, a device
// node without a child, an empty container view, the generic certificate name.
#include "dialogsupport.h"
#include "fakepagesfixture.h"

#include <QtTest>

#include <atomic>
#include <chrono>
#include <fstream>
#include <random>
#include <thread>

#include <sys/resource.h>
#include <unistd.h>

using namespace fakepages;
using namespace pages;

namespace {

void setRaw(void (*set)(const char*, unsigned, long), const std::string& bytes, long reported = -1)
{
    set(bytes.data(), static_cast<unsigned>(bytes.size()), reported);
}

QByteArray randomBytes(std::mt19937& random, int size)
{
    QByteArray bytes(size, '\0');
    for (char& byte : bytes) {
        byte = static_cast<char>(random() & 0xFF);
    }
    return bytes;
}

// While alive, caps the address space at what the process uses now plus 1 GiB, so a 4 GiB
// allocation fails here as it does on a smaller machine. Sanitizers reserve their shadow
// memory up front and abort instead of failing an allocation, so they run without the cap.
class AddressSpaceCap
{
public:
    AddressSpaceCap()
    {
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
        std::ifstream statm("/proc/self/statm");
        unsigned long long pages = 0;
        statm >> pages;
        getrlimit(RLIMIT_AS, &m_saved);
        rlimit capped = m_saved;
        capped.rlim_cur = pages * static_cast<unsigned long long>(sysconf(_SC_PAGESIZE)) + (1ull << 30);
        m_active = pages > 0 && setrlimit(RLIMIT_AS, &capped) == 0;
#endif
    }
    ~AddressSpaceCap()
    {
        if (m_active) {
            setrlimit(RLIMIT_AS, &m_saved);
        }
    }
    AddressSpaceCap(const AddressSpaceCap&) = delete;
    AddressSpaceCap& operator=(const AddressSpaceCap&) = delete;

private:
    rlimit m_saved{};
    bool m_active = false;
};

} // namespace

class HostileDriverTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir noLanguageFiles;
    std::unique_ptr<RecordingWindow> window;

    // Opens the window and hands it one insertion, answering any message dialog it opens.
    void plugIn(const char* name = Device)
    {
        window = std::make_unique<RecordingWindow>();
        QTRY_VERIFY_WITH_TIMEOUT(cDevMgr::getInst()->binding() != nullptr, 5000);
        answerMessages([&] {
            FakeSkf_PushEvent(name, 1);
            QTRY_COMPARE_WITH_TIMEOUT(window->notices.size(), 1, 5000);
        });
    }

    // Clicks the first device's application node (or the device node when it has no
    // child), answering any dialog, and returns the texts at the top of the container view.
    QStringList clickFirstDevice()
    {
        QStandardItem* device = window->deviceModel()->item(0);
        if (device == nullptr) {
            return {};
        }
        const QModelIndex node = device->rowCount() > 0 ? device->child(0)->index() : device->index();
        answerMessages([&] {
            window->deviceTree()->setCurrentIndex(node);
            window->Dev_App_selected(node);
        });
        return childTexts(containerModel(*window)->invisibleRootItem());
    }

private slots:
    void initTestCase() { Q_INIT_RESOURCE(resource); }
    void init() { resetToOneToken(noLanguageFiles.path()); }
    void cleanup()
    {
        window.reset();
        FakeSkf_Reset();
    }

    void listsWithoutTheirClosingEmptyName_endAtTheEndOfTheData()
    {
        setRaw(FakeSkf_SetDeviceList, std::string("VK-1\0VK-2", 9));
        setRaw(FakeSkf_SetApplicationList, std::string("APP", 3));
        setRaw(FakeSkf_SetContainerList, std::string("C1\0C2", 5));
        plugIn();

        QCOMPARE(window->deviceNames(), QStringList({"VK-1", "VK-2"}));
        QCOMPARE(window->childrenOf("VK-1"), QStringList({"Data Manger"}));
        QCOMPARE(clickFirstDevice(), QStringList({"C1(container)", "C2(container)"}));
    }

    void listSizesLargerThanTheData_giveNoMoreNamesThanTheDataHolds()
    {
        setRaw(FakeSkf_SetDeviceList, std::string("VK-1\0\0", 6), 4096);
        setRaw(FakeSkf_SetApplicationList, std::string("APP\0\0", 5), 100000);
        // A claim above the lists' 64 KiB cap is not believed: no container is read.
        setRaw(FakeSkf_SetContainerList, std::string("C1\0\0", 4), 1 << 20);
        plugIn();

        QCOMPARE(window->deviceNames(), QStringList({"VK-1"}));
        QVERIFY(clickFirstDevice().size() <= 1);
    }

    void listSizesSmallerThanTheData_cutTheListInsteadOfOverrunning()
    {
        setRaw(FakeSkf_SetDeviceList, std::string("VK-1\0VK-2\0\0", 11), 3);
        setRaw(FakeSkf_SetApplicationList, std::string("APPLICATION\0\0", 13), 1);
        setRaw(FakeSkf_SetContainerList, std::string("C1\0C2\0\0", 7), 2);
        plugIn();

        const QStringList names = window->deviceNames();
        QVERIFY2(names.size() <= 1, qPrintable(names.join(',')));
        if (!names.isEmpty()) {
            QVERIFY(QStringLiteral("VK-1").startsWith(names[0]));
            // An application list below two bytes is an empty list.
            QCOMPARE(window->childrenOf(names[0]), QStringList({"Empty Device"}));
        }
    }

    // The tree was built from an honest answer; the click's own read of the device list
    // meets a driver that now claims 4 GiB. The window must refuse the size, not try it.
    void aDeviceListThatClaimsFourGibibytesAtTheClick_showsTheDeviceAsUnread()
    {
        plugIn();
        QCOMPARE(window->deviceNames(), QStringList({"VK-1"}));
        setRaw(FakeSkf_SetDeviceList, std::string("VK-1\0\0", 6), 0xFFFFFFFFL);
        const QModelIndex device = window->deviceModel()->item(0)->index();
        {
            AddressSpaceCap cap;
            answerMessages([&] { emit window->deviceTree()->clicked(device); });
        }
        QCOMPARE(FakeSkf_CallCount("SKF_GetDevInfo"), 0u);
        auto* rows = qobject_cast<QStandardItemModel*>(
            window->findChild<QTreeView*>(QStringLiteral("treeView_usbInfo"))->model());
        QVERIFY(rows != nullptr);
        QCOMPARE(rows->item(0, 1)->text(), QStringLiteral("  "));
        QVERIFY(!window->findChild<QPushButton*>(QStringLiteral("btn_ChangeLabel"))->isEnabled());
    }

    // An exception from inside the driver, on a click and on a device event: the action is
    // dropped, the window lives on and the next event is handled as usual.
    void aDriverThatThrows_dropsTheActionAndKeepsTheWindowWorking()
    {
        plugIn();
        FakeSkf_ThrowFrom("SKF_GetDevInfo");
        const QModelIndex device = window->deviceModel()->item(0)->index();
        answerMessages([&] { emit window->deviceTree()->clicked(device); });
        QVERIFY(!window->findChild<QPushButton*>(QStringLiteral("btn_ChangeLabel"))->isEnabled());

        FakeSkf_ThrowFrom("SKF_EnumDev");
        answerMessages([&] {
            FakeSkf_PushEvent(Device, 1);
            QTRY_COMPARE_WITH_TIMEOUT(window->notices.size(), 2, 5000);
        });
        QCOMPARE(window->deviceModel()->rowCount(), 0);

        FakeSkf_Reset();
        setNameList(FakeSkf_SetDeviceList, {QString::fromLatin1(Device)});
        setNameList(FakeSkf_SetApplicationList, {QStringLiteral("APP")});
        answerMessages([&] {
            FakeSkf_PushEvent(Device, 1);
            QTRY_COMPARE_WITH_TIMEOUT(window->notices.size(), 3, 5000);
        });
        QCOMPARE(window->deviceNames(), QStringList({"VK-1"}));
    }

    void namesOfAThousandBytes_areShownWithoutOverrunningAnyBuffer()
    {
        const std::string device(1000, 'D');
        const std::string application(1000, 'A');
        const std::string container(1000, 'C');
        setRaw(FakeSkf_SetDeviceList, device + std::string("\0\0", 2));
        setRaw(FakeSkf_SetApplicationList, application + std::string("\0\0", 2));
        setRaw(FakeSkf_SetContainerList, container + std::string("\0\0", 2));
        FakeSkf_SetContainerType(container.c_str(), 2, SAR_OK);
        plugIn(device.c_str());

        QCOMPARE(window->deviceNames().size(), 1);
        QVERIFY(window->deviceNames()[0].startsWith(QStringLiteral("DDDD")));
        QCOMPARE(window->childrenOf(window->deviceNames()[0]), QStringList({"Data Manger"}));
        const QStringList containers = clickFirstDevice();
        QVERIFY(containers.size() <= 1);
        // The event's device name filled most of the monitor's buffer and still arrived whole.
        QCOMPARE(window->notices.size(), 1);
    }

    void certificatesAndKeysOfGarbage_showTheGenericNameAndNoKeySize()
    {
        std::mt19937 random(20261208);
        setContainers({"RSA_CTN", "SM2_CTN"});
        FakeSkf_SetContainerType("RSA_CTN", 1, SAR_OK);
        FakeSkf_SetContainerType("SM2_CTN", 2, SAR_OK);
        for (const char* name : {"RSA_CTN", "SM2_CTN"}) {
            for (BOOL sign : {TRUE, FALSE}) {
                setCertificate(name, sign, randomBytes(random, 700));
                setPublicKey(name, sign, randomBytes(random, 300));
            }
        }
        // A DER header that promises far more than follows.
        setCertificate("SM2_CTN", TRUE, QByteArray::fromHex("3084ffffff00308201"));
        plugIn();

        const QStringList containers = clickFirstDevice();
        QCOMPARE(containers, QStringList({"RSA_CTN(container)", "SM2_CTN(container)"}));
        // Keys whose bit length is neither of the known ones add no key pair at all.
        for (const QString& container : containers) {
            QStandardItem* node = nodeAt(*window, {container});
            QVERIFY(node != nullptr);
            for (int row = 0; row < node->rowCount(); ++row) {
                QVERIFY(childTexts(node->child(row)).contains(QStringLiteral("Public key")));
            }
        }
        // No expiry warning for a certificate that cannot be read.
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
    }

    void everyCallFailing_leavesAnEmptyTree_andStillShowsTheEventNotice()
    {
        setContainers({"C1"});
        FakeSkf_FailEverythingAfter(0, SAR_FAIL);
        plugIn();

        QCOMPARE(window->deviceModel()->rowCount(), 0);
        QVERIFY(!window->trayIcon()->isVisible());
        QCOMPARE(clickFirstDevice(), QStringList());
        // The monitor still answers: a second event rebuilds again.
        FakeSkf_FailEverythingAfter(0, SAR_OK);
        FakeSkf_PushEvent(Device, 1);
        QTRY_COMPARE_WITH_TIMEOUT(window->notices.size(), 2, 5000);
        QCOMPARE(window->deviceNames(), QStringList({"VK-1"}));
    }

    void callsThatFailFromTheirSecondTimeOn_leaveATreeThatMatchesWhatWasRead()
    {
        setContainers({"C1"});
        FakeSkf_SetContainerType("C1", 2, SAR_OK);
        // Every function answers once; the size query of each list succeeds, its read fails.
        FakeSkf_FailEverythingAfter(1, SAR_FAIL);
        plugIn();
        QCOMPARE(window->deviceModel()->rowCount(), 0);

        // Each function answers once more, then fails: the first rebuild works, every later
        // click and rebuild meets failures at every step.
        FakeSkf_FailEverythingAfter(2, SAR_FAIL);
        FakeSkf_PushEvent(Device, 1);
        QTRY_COMPARE_WITH_TIMEOUT(window->notices.size(), 2, 5000);
        const QStringList names = window->deviceNames();
        QVERIFY(names.isEmpty() || names == QStringList({"VK-1"}));
        clickFirstDevice();
        clickFirstDevice();
        FakeSkf_PushEvent(Device, 2);
        QTRY_COMPARE_WITH_TIMEOUT(window->notices.size(), 3, 5000);
        QCOMPARE(window->deviceModel()->rowCount(), 0);
        QCOMPARE(FakeSkf_OpenHandleCount() <= 3u, true);
    }

    void aStormOfAThousandEventsASecond_isHandledToTheLastEvent()
    {
        plugIn();
        constexpr int kEvents = 2000;
        std::atomic<bool> done{false};
        // Insertions and removals alternate; the list changes under the rebuilds.
        std::thread storm([&] {
            for (int i = 0; i < kEvents; ++i) {
                if (i % 100 == 0) {
                    setRaw(FakeSkf_SetDeviceList, i % 200 == 0 ? std::string("VK-1\0\0", 6) : std::string("\0", 1));
                }
                FakeSkf_PushEvent(Device, i % 2 == 0 ? 2 : 1);
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            done = true;
        });
        // The window keeps its event loop turning while the storm lasts.
        QElapsedTimer responsive;
        qint64 longestGapMs = 0;
        responsive.start();
        while (!done) {
            QTest::qWait(5);
            longestGapMs = std::max(longestGapMs, responsive.restart());
        }
        storm.join();
        QTRY_COMPARE_WITH_TIMEOUT(window->notices.size(), kEvents + 1, 30000);
        QVERIFY2(longestGapMs < 2000, qPrintable(QString::number(longestGapMs)));

        setRaw(FakeSkf_SetDeviceList, std::string("VK-1\0VK-2\0\0", 11));
        FakeSkf_PushEvent("VK-2", 1);
        QTRY_COMPARE_WITH_TIMEOUT(window->notices.size(), kEvents + 2, 5000);
        QCOMPARE(window->deviceNames(), QStringList({"VK-1", "VK-2"}));
    }
};

QTEST_MAIN(HostileDriverTest)
#include "hostile_driver_test.moc"
