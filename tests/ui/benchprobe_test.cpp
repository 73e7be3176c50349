// The benchmark probe: with OVRINKEY_BENCH_PROBE set it writes whole, parseable lines and
// marks the first frame once; unset, it writes nothing and watches nothing. The variable
// is read once per process, so CTest runs this program twice, with and without it; without
// it, a file named after the first read stays unwritten.
#include "benchprobe.h"

#include <QApplication>
#include <QFile>
#include <QMainWindow>
#include <QTemporaryDir>
#include <QTest>

class ProbeTest : public QObject
{
    Q_OBJECT

private:
    // The variable as the process started; the probe reads it once, at its first use.
    QString startPath;
    // Named only after that first read when the variable was unset: the probe must never
    // write it.
    QTemporaryDir lateDir;

    QString linesPath() const { return startPath.isEmpty() ? lateDir.filePath("late.lines") : startPath; }

    QStringList probeLines() const
    {
        QFile file(linesPath());
        if (!file.open(QIODevice::ReadOnly)) {
            return {};
        }
        return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

private slots:
    void initTestCase()
    {
        startPath = QString::fromLocal8Bit(qgetenv("OVRINKEY_BENCH_PROBE"));
        if (startPath.isEmpty()) {
            QVERIFY(!benchprobe::enabled());
            QVERIFY(lateDir.isValid());
            qputenv("OVRINKEY_BENCH_PROBE", QFile::encodeName(linesPath()));
            return;
        }
        QFile file(startPath);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    }

    void aProbeIsEnabledOnlyWhenTheVariableNamesAFile() { QCOMPARE(benchprobe::enabled(), !startPath.isEmpty()); }

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

        if (startPath.isEmpty()) {
            // Every mark and the frame have been handled above: a probe that wrote would have
            // made the file by now.
            QVERIFY(!QFile::exists(linesPath()));
            return;
        }
        const QStringList lines = probeLines();
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
