// The benchmark probe: with OVRINKEY_BENCH_PROBE set it writes whole, parseable lines and
// marks the first frame once; unset, it writes nothing and watches nothing. The variable
// is read once per process, so CTest runs this program twice, with and without it.
#include "benchprobe.h"

#include <QApplication>
#include <QFile>
#include <QMainWindow>
#include <QTest>

#include <cstdlib>

class ProbeTest : public QObject
{
    Q_OBJECT

private:
    static QString probePath() { return QString::fromLocal8Bit(qgetenv("OVRINKEY_BENCH_PROBE")); }

    static QStringList probeLines()
    {
        QFile file(probePath());
        if (!file.open(QIODevice::ReadOnly)) {
            return {};
        }
        return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

private slots:
    void initTestCase()
    {
        if (!probePath().isEmpty()) {
            QFile file(probePath());
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        }
    }

    void aProbeIsEnabledOnlyWhenTheVariableNamesAFile() { QCOMPARE(benchprobe::enabled(), !probePath().isEmpty()); }

    void marksAndTheFirstFrameGiveOneWholeLineEachAndNoMore()
    {
        benchprobe::mark("rebuild", 3);
        QMainWindow window;
        window.resize(200, 100);
        benchprobe::watchFirstFrame(&window);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.repaint();
        window.repaint();
        QTest::qWait(50);
        benchprobe::mark("rebuild", 0);

        const QStringList lines = probeLines();
        if (probePath().isEmpty()) {
            QVERIFY(lines.isEmpty());
            return;
        }
        QCOMPARE(lines.size(), 3);
        QStringList tags;
        long long previous = 0;
        for (const QString& line : lines) {
            const QStringList fields = line.split(QLatin1Char(' '));
            QCOMPARE(fields.size(), 4);
            bool ok = false;
            const long long monotonic = fields[1].toLongLong(&ok);
            QVERIFY(ok);
            QVERIFY(monotonic >= previous);
            previous = monotonic;
            QVERIFY(fields[2].toLongLong(&ok) > 0 && ok);
            tags << fields[0] + QLatin1Char(' ') + fields[3];
        }
        QCOMPARE(tags, QStringList({"rebuild 3", "frame 0", "rebuild 0"}));
    }
};

QTEST_MAIN(ProbeTest)
#include "benchprobe_test.moc"
