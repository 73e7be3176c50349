// Device events as a day brings them, against the scriptable fake driver: random sequences
// of insertions (one token or two at once, some present at start-up), removals, and expiry
// boxes left open while more events arrive or closed, from a seed printed on failure. After
// every step the device tree must equal the driver's list, at most one box may be up, and
// no token may have had more expiry notices than insertions; at the end each insertion of a
// token with an expiring certificate has had its own notice exactly once, unless the token
// was pulled before its turn came. DEVICE_EVENTS_SEED and DEVICE_EVENTS_STEPS choose
// another run (scripts/soak runs a long one).
#include "fakepagesfixture.h"

#include <QElapsedTimer>
#include <QMessageBox>
#include <QRegularExpression>
#include <QtTest>

#include <map>
#include <random>

namespace {

struct Token
{
    const char* name;
    int daysFromToday; // the certificate's last day; 0 for a token without one
    QString notice; // "critical N", "warning N" or "tray N"; empty for none
};

// Distinct day counts, so every notice names its token.
const Token Tokens[] = {
    {"EXP-2", -2, "critical 2"}, {"EXP-5", -5, "critical 5"}, {"WARN-3", 3, "warning 3"},
    {"WARN-6", 6, "warning 6"},  {"TRAY-12", 12, "tray 12"},  {"PLAIN", 0, QString()},
};

QList<QMessageBox*> shownBoxes()
{
    QList<QMessageBox*> boxes;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(widget); box != nullptr && box->isVisible()) {
            boxes << box;
        }
    }
    return boxes;
}

QString daysIn(const QString& text)
{
    return QRegularExpression(QStringLiteral("(\\d+) days")).match(text).captured(1);
}

} // namespace

class DeviceEventsPropertyTest : public QObject
{
    Q_OBJECT

    std::mt19937 random;
    std::unique_ptr<RecordingWindow> window;
    QStringList plugged; // the driver's list, in plug order
    std::map<QString, int> expected, seen; // expiry notices per token
    int eventsPushed = 0;
    int noticesCounted = 0;
    QStringList history;
    QString failure;

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // Every box is counted once, when it appears.
        auto* box = qobject_cast<QMessageBox*>(watched);
        if (box != nullptr && event->type() == QEvent::Show) {
            countNotice(box->icon() == QMessageBox::Critical ? QStringLiteral("critical") : QStringLiteral("warning"),
                        box->text());
        }
        return false;
    }

    void countNotice(const QString& kind, const QString& text)
    {
        const QString notice = kind + QLatin1Char(' ') + daysIn(text);
        for (const Token& token : Tokens) {
            if (token.notice == notice) {
                seen[QString::fromLatin1(token.name)]++;
                return;
            }
        }
        fail(QStringLiteral("a notice for no token: ") + notice);
    }

    void fail(const QString& why)
    {
        if (failure.isEmpty()) {
            failure = why;
        }
    }

    static bool isDeviceNotice(const TrayNotice& notice)
    {
        return notice.text.endsWith(QLatin1String(" inserted")) || notice.text.endsWith(QLatin1String(" removed"));
    }

    // New tray notices other than the device ones are expiry notices of their token.
    void readTrayNotices()
    {
        for (; noticesCounted < window->notices.size(); ++noticesCounted) {
            if (!isDeviceNotice(window->notices[noticesCounted])) {
                countNotice(QStringLiteral("tray"), window->notices[noticesCounted].text);
            }
        }
    }

    int deviceNotices() const
    {
        return static_cast<int>(std::count_if(window->notices.begin(), window->notices.end(), isDeviceNotice));
    }

    void plugIn(const QStringList& names)
    {
        plugged << names;
        fakepages::setNameList(FakeSkf_SetDeviceList, plugged);
        for (const QString& name : names) {
            for (const Token& token : Tokens) {
                expected[name] += QString::fromLatin1(token.name) == name && !token.notice.isEmpty();
            }
            FakeSkf_PushEvent(name.toLatin1().constData(), 1);
            ++eventsPushed;
        }
        history << QStringLiteral("insert ") + names.join(QLatin1Char('+'));
    }

    void pull(QString name) // a copy: the list entry it names goes away
    {
        plugged.removeAll(name);
        fakepages::setNameList(FakeSkf_SetDeviceList, plugged);
        // A check still waiting behind an open box is dropped with its token.
        expected[name] = seen[name];
        FakeSkf_PushEvent(name.toLatin1().constData(), 2);
        ++eventsPushed;
        history << QStringLiteral("remove ") + name;
    }

    bool settled() const
    {
        return FakeSkf_PendingEvents() == 0 && deviceNotices() == eventsPushed && window->deviceNames() == plugged;
    }

    void checkAfterStep()
    {
        readTrayNotices();
        if (window->deviceNames() != plugged) {
            fail(QStringLiteral("the tree shows %1, the driver lists %2")
                     .arg(window->deviceNames().join(QLatin1Char(',')), plugged.join(QLatin1Char(','))));
        }
        if (shownBoxes().size() > 1) {
            fail(QStringLiteral("%1 boxes are up at once").arg(shownBoxes().size()));
        }
        for (const auto& [name, count] : seen) {
            if (count > expected[name]) {
                fail(QStringLiteral("%1 had %2 notices for %3 insertions").arg(name).arg(count).arg(expected[name]));
            }
        }
    }

    void takeStep()
    {
        QStringList absent;
        for (const Token& token : Tokens) {
            if (!plugged.contains(QString::fromLatin1(token.name))) {
                absent << QString::fromLatin1(token.name);
            }
        }
        std::shuffle(absent.begin(), absent.end(), random);
        const int roll = std::uniform_int_distribution<int>(0, 99)(random);
        if (!shownBoxes().isEmpty() && roll < 35) {
            history << QStringLiteral("close box");
            shownBoxes().constLast()->done(QMessageBox::Ok);
        } else if (absent.size() >= 2 && roll < 50) {
            plugIn(absent.mid(0, 2));
        } else if (!absent.isEmpty() && (roll < 75 || plugged.isEmpty())) {
            plugIn(absent.mid(0, 1));
        } else if (!plugged.isEmpty()) {
            pull(plugged[std::uniform_int_distribution<int>(0, plugged.size() - 1)(random)]);
        }
    }

    // Runs the steps from the event loop, so that they go on while a box holds the window's
    // own loop; true once every box is closed and the end was checked.
    bool run(int steps)
    {
        int step = 0;
        bool finished = false;
        QElapsedTimer sinceAction;
        sinceAction.start();
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, this, [&] {
            if (!failure.isEmpty()) {
                // Unwinds every box so the test can end.
                for (QMessageBox* box : shownBoxes()) {
                    box->done(QMessageBox::Ok);
                }
                finished = shownBoxes().isEmpty();
                return;
            }
            if (finished) {
                return;
            }
            if (!settled()) {
                if (sinceAction.elapsed() > 3000) {
                    fail(QStringLiteral("no settled state within 3 s: the tree shows %1, the driver lists %2, "
                                        "%3 device notices for %4 events")
                             .arg(window->deviceNames().join(QLatin1Char(',')), plugged.join(QLatin1Char(',')))
                             .arg(deviceNotices())
                             .arg(eventsPushed));
                }
                return;
            }
            checkAfterStep();
            if (step < steps) {
                takeStep();
                ++step;
            } else if (!shownBoxes().isEmpty()) {
                history << QStringLiteral("close box");
                shownBoxes().constLast()->done(QMessageBox::Ok);
            } else {
                for (const Token& token : Tokens) {
                    const QString name = QString::fromLatin1(token.name);
                    if (seen[name] != expected[name]) {
                        fail(QStringLiteral("%1 had %2 notices, %3 expected")
                                 .arg(name)
                                 .arg(seen[name])
                                 .arg(expected[name]));
                    }
                }
                finished = true;
            }
            sinceAction.restart();
        });
        ticker.start(1);
        return QTest::qWaitFor([&] { return finished; }, steps * 3000 + 10000);
    }

private slots:
    void initTestCase() { Q_INIT_RESOURCE(resource); }

    void randomDays_keepTheTreeAndTheExpiryNoticesTrue()
    {
        const unsigned seed = qEnvironmentVariableIsSet("DEVICE_EVENTS_SEED")
            ? qEnvironmentVariable("DEVICE_EVENTS_SEED").toUInt()
            : 20261209u;
        const int steps = qEnvironmentVariableIsSet("DEVICE_EVENTS_STEPS")
            ? qEnvironmentVariableIntValue("DEVICE_EVENTS_STEPS")
            : 500;
        random.seed(seed);

        FakeSkf_Reset();
        cDevMgr::getInst()->resetForTests();
        cDevMgr::setDriverPath(FAKE_SCRIPTED_DRIVER);
        MainWindow::setLanguageDirectory(STAGED_LANG_DIR);
        qputenv("LANG", "en_US.UTF-8");
        fakepages::setNameList(FakeSkf_SetApplicationList, {QStringLiteral("APP")});
        fakepages::setNameList(FakeSkf_SetContainerList, {QStringLiteral("CTN")});
        for (const Token& token : Tokens) {
            if (token.daysFromToday != 0) {
                const QByteArray der = makeCertificate(token.name, QDate::currentDate().addDays(token.daysFromToday));
                FakeSkf_SetDeviceCertificate(token.name, reinterpret_cast<const BYTE*>(der.constData()),
                                             static_cast<unsigned>(der.size()));
            }
        }
        // Tokens already plugged in are reported one by one as the monitor starts.
        QStringList atStart;
        for (const Token& token : Tokens) {
            if (std::uniform_int_distribution<int>(0, 2)(random) == 0) {
                atStart << QString::fromLatin1(token.name);
            }
        }
        plugIn(atStart);

        qApp->installEventFilter(this);
        window = std::make_unique<RecordingWindow>();
        const bool ended = run(steps);
        qApp->removeEventFilter(this);
        window.reset();
        const QString context = QStringLiteral("seed %1 (DEVICE_EVENTS_SEED), after: %2")
                                    .arg(seed)
                                    .arg(history.mid(std::max(0, history.size() - 12)).join(QStringLiteral("; ")));
        QVERIFY2(ended, qPrintable(QStringLiteral("the run did not end; ") + context));
        QVERIFY2(failure.isEmpty(), qPrintable(failure + QStringLiteral("; ") + context));
    }
};

QTEST_MAIN(DeviceEventsPropertyTest)
#include "deviceevents_property_test.moc"
