// The start of every window test on the real soft token: a fresh store folder for the
// process, skftool runs on that store, and a window whose monitor has loaded the driver.
// Each case runs in a process of its own, so one store serves the whole process.
#pragma once

#include "windowtestsupport.h"

#include "cdevmgr.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

class SoftTokenStore
{
public:
    // Points this process's driver, store and language at the fresh folders, in English;
    // false when the store folder could not be made.
    bool useInThisProcess()
    {
        if (!store.isValid()) {
            return false;
        }
        qputenv("SOFTSKF_DIR", store.path().toLocal8Bit());
        qputenv("LANG", "en_US.UTF-8");
        cDevMgr::setDriverPath(SOFT_TOKEN_DRIVER);
        MainWindow::setLanguageDirectory(noLanguageFiles.path().toStdString());
        return true;
    }

    QString filePath(const QString& name) const { return store.filePath(name); }

    // Runs skftool on this store, with pin in SKFTOOL_PIN when one is given; false (with
    // its message) when it does not end normally with status 0 within timeoutMs.
    bool skftool(const QStringList& arguments, int timeoutMs = 30000, const QString& pin = {}) const
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("SOFTSKF_DIR"), store.path());
        if (!pin.isEmpty()) {
            environment.insert(QStringLiteral("SKFTOOL_PIN"), pin);
        }
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(SKFTOOL), QStringList{"--lib", SOFT_TOKEN_DRIVER} + arguments);
        if (!process.waitForFinished(timeoutMs) || process.exitStatus() != QProcess::NormalExit
            || process.exitCode() != 0) {
            qWarning() << "skftool" << arguments << process.readAllStandardError();
            return false;
        }
        return true;
    }

private:
    QTemporaryDir store;
    QTemporaryDir noLanguageFiles;
};

// Opens a new window into window; returns once its monitor has loaded the driver.
inline void openWindowOnTheDriver(std::unique_ptr<RecordingWindow>& window)
{
    window = std::make_unique<RecordingWindow>();
    QTRY_VERIFY_WITH_TIMEOUT(cDevMgr::getInst()->binding() != nullptr, 5000);
}
