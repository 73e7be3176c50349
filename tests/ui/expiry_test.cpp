// The expiry warning: the grades by the seconds left, to the second, and what an insertion
// shows for certificates that expire on dates around today (the time zone is pinned to UTC
// by the test's environment, and whole-day offsets give the same grade at any hour).
#include "fakepagesfixture.h"

#include "expirycheck.h"
#include "version.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>

using namespace fakepages;
using namespace pages;

class ExpiryTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir languageFiles;
    std::unique_ptr<RecordingWindow> window;
    std::unique_ptr<DialogWatcher> dialogs;

    // Plugs in a token whose only container holds an encryption certificate expiring on
    // notAfter (none when it is null) and returns the notices the insertion gave beyond
    // the insertion notice itself.
    QList<TrayNotice> insertTokenExpiring(const QDate& notAfter)
    {
        setContainers({"CTN"});
        FakeSkf_SetContainerType("CTN", 2, SAR_OK);
        if (notAfter.isValid()) {
            setCertificate("CTN", FALSE, makeCertificate("Expiring", notAfter));
        }
        dialogs = std::make_unique<DialogWatcher>();
        window = openWindow();
        if (window == nullptr) {
            return {};
        }
        return window->notices.mid(1);
    }

    const QString title = QString::fromUtf8(product::Title);
    QString willExpire(int days) const
    {
        return QStringLiteral("Your certificate will expire in %1 days. \nPlease contact your administrator for "
                              "certificate update.")
            .arg(days);
    }

private slots:
    void initTestCase() { Q_INIT_RESOURCE(resource); }
    void init() { resetToOneToken(languageFiles.path()); }
    void cleanup()
    {
        window.reset();
        dialogs.reset();
    }

    void theGrades_followTheSecondsLeft_toTheSecond()
    {
        struct Case
        {
            long long seconds;
            ExpiryNotice::Kind kind;
            long long days;
        };
        const long long day = 86400;
        const Case cases[] = {
            {-3 * day, ExpiryNotice::Error, 3},       {-day - 1, ExpiryNotice::Error, 1},
            {-day, ExpiryNotice::Error, 1},           {-day + 1, ExpiryNotice::Warning, 1},
            {-1, ExpiryNotice::Warning, 1},           {0, ExpiryNotice::Warning, 1},
            {12 * 3600, ExpiryNotice::Warning, 1},    {day - 1, ExpiryNotice::Warning, 1},
            {day, ExpiryNotice::Warning, 2},          {7 * day - 1, ExpiryNotice::Warning, 7},
            {7 * day, ExpiryNotice::Tray, 8},         {30 * day - 1, ExpiryNotice::Tray, 30},
            {30 * day, ExpiryNotice::None, 31},       {4000 * day, ExpiryNotice::None, 4001},
            {-4000 * day, ExpiryNotice::Error, 4000},
        };
        for (const Case& expected : cases) {
            const ExpiryNotice notice = expiryNoticeFor(expected.seconds);
            QVERIFY2(notice.kind == expected.kind, qPrintable(QString::number(expected.seconds)));
            QCOMPARE(notice.days, expected.days);
        }
    }

    void aCertificateExpiringTomorrow_opensAWarningBoxForOneDay()
    {
        insertTokenExpiring(QDate::currentDate().addDays(1));
        QCOMPARE(dialogs->seen.size(), 1);
        QCOMPARE(dialogs->seen[0].kind, QStringLiteral("warning"));
        QCOMPARE(dialogs->seen[0].title, title);
        QCOMPARE(dialogs->seen[0].text, willExpire(1));
        // The window must outlive the box: closing the box does not end the program.
        QVERIFY(!QGuiApplication::quitOnLastWindowClosed());
    }

    void aCertificateExpiringToday_opensAWarningBoxForOneDay()
    {
        insertTokenExpiring(QDate::currentDate());
        QCOMPARE(dialogs->seen.size(), 1);
        QCOMPARE(dialogs->seen[0].kind, QStringLiteral("warning"));
        QCOMPARE(dialogs->seen[0].text, willExpire(1));
    }

    void aCertificateThatExpiredYesterday_opensAnErrorBoxForOneDayAgo()
    {
        insertTokenExpiring(QDate::currentDate().addDays(-1));
        QCOMPARE(dialogs->seen.size(), 1);
        QCOMPARE(dialogs->seen[0].kind, QStringLiteral("critical"));
        QCOMPARE(dialogs->seen[0].title, title);
        QCOMPARE(dialogs->seen[0].text,
                 QStringLiteral("Your certificate has expired 1 days ago. \nPlease contact your "
                                "administrator for certificate update."));
    }

    void aCertificateExpiringInEightDays_givesATrayMessage_andNoBox()
    {
        const QList<TrayNotice> notices = insertTokenExpiring(QDate::currentDate().addDays(8));
        QCOMPARE(notices.size(), 1);
        QCOMPARE(notices[0].title, title);
        QCOMPARE(notices[0].text, willExpire(8));
        QCOMPARE(notices[0].durationMs, 3000);
        QCOMPARE(dialogs->seen.size(), 0);
    }

    void aCertificateExpiringInThirtyOneDays_givesNothing()
    {
        const QList<TrayNotice> notices = insertTokenExpiring(QDate::currentDate().addDays(31));
        QVERIFY(window != nullptr);
        QCOMPARE(notices.size(), 0);
        QCOMPARE(dialogs->seen.size(), 0);
    }

    void aTokenWithoutCertificate_givesNothing()
    {
        const QList<TrayNotice> notices = insertTokenExpiring(QDate());
        QVERIFY(window != nullptr);
        QCOMPARE(notices.size(), 0);
        QCOMPARE(dialogs->seen.size(), 0);
    }

    void theCheck_closesEveryHandleItOpened()
    {
        // Without the check the rebuild leaves exactly one handle: the connected device.
        insertTokenExpiring(QDate());
        QCOMPARE(FakeSkf_OpenHandleCount(), 1u);
        cleanup();
        init();
        insertTokenExpiring(QDate::currentDate().addDays(3));
        QCOMPARE(dialogs->seen.size(), 1);
        QCOMPARE(FakeSkf_OpenHandleCount(), 1u);
    }

    void aLongTranslation_isCutToTheBufferAtACharacterBoundary()
    {
        // A Simplified Chinese file whose warning text is far longer than 512 bytes.
        QFile source(QStringLiteral(STAGED_LANG_DIR "/vqcsp_2052.lng"));
        QVERIFY(source.open(QIODevice::ReadOnly));
        QByteArray content = source.readAll();
        const int start = content.indexOf("\n32054=") + 1;
        const int end = content.indexOf('\n', start);
        const QByteArray longText = "32054=" + QString(300, QChar(0x8BC1)).toUtf8() + " %d";
        content.replace(start, end - start, longText);
        QFile target(languageFiles.filePath(QStringLiteral("vqcsp_2052.lng")));
        QVERIFY(target.open(QIODevice::WriteOnly));
        target.write(content);
        target.close();

        resetToOneToken(languageFiles.path(), "zh_CN.UTF-8");
        insertTokenExpiring(QDate::currentDate().addDays(2));
        QCOMPARE(dialogs->seen.size(), 1);
        const QString shown = dialogs->seen[0].text;
        QVERIFY(shown.toUtf8().size() <= 511);
        QVERIFY(shown.toUtf8().size() >= 509);
        QCOMPARE(shown, QString(shown.size(), QChar(0x8BC1)));
        QFile::remove(target.fileName());
    }
};

QTEST_MAIN(ExpiryTest)
#include "expiry_test.moc"
