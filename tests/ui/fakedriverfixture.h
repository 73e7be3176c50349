// The start of every window test on the scriptable fake driver: the driver's script and
// the device manager emptied, the window made in English with the given language folder,
// and the name lists scripted from raw bytes, so a case can hand over odd lists too.
#pragma once

#include "windowtestsupport.h"

#include "cdevmgr.h"
#include "fakeskf_control.h"

#include <QString>
#include <QtTest>

#include <memory>
#include <string>

namespace fakedriver {

// reported: the length the driver claims for the list; -1 claims its true length.
inline void setDevices(const std::string& list, long reported = -1)
{
    FakeSkf_SetDeviceList(list.data(), static_cast<unsigned>(list.size()), reported);
}

inline void setApplications(const std::string& list, long reported = -1)
{
    FakeSkf_SetApplicationList(list.data(), static_cast<unsigned>(list.size()), reported);
}

// Resets the driver and the device manager and opens a new window into window; returns
// once the window's monitor has loaded the driver, as the tree is only read after that.
inline void openFreshWindow(std::unique_ptr<RecordingWindow>& window, const QString& languageDirectory)
{
    FakeSkf_Reset();
    cDevMgr::getInst()->resetForTests();
    cDevMgr::setDriverPath(FAKE_SCRIPTED_DRIVER);
    MainWindow::setLanguageDirectory(languageDirectory.toStdString());
    qputenv("LANG", "en_US.UTF-8");
    window = std::make_unique<RecordingWindow>();
    QTRY_VERIFY(cDevMgr::getInst()->binding() != nullptr);
}

} // namespace fakedriver
