// A window on the scriptable fake driver with one token "VK-1" holding one application:
// the containers, key pairs and certificates are scripted by each case, the token is
// plugged in, and its application node is clicked to fill the container view.
#pragma once

#include "pagestestsupport.h"
#include "windowtestsupport.h"

#include "cdevmgr.h"
#include "fakeskf_control.h"

#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTreeView>
#include <QtTest>

#include <memory>
#include <string>

namespace fakepages {

using namespace pages;

const char* const Device = "VK-1";

// A date far enough ahead that no expiry warning interferes with a case.
inline QDate farFuture()
{
    return QDate::currentDate().addYears(2);
}

inline void setNameList(void (*set)(const char*, unsigned, long), const QStringList& names)
{
    QByteArray list;
    for (const QString& name : names) {
        list += name.toUtf8() + '\0';
    }
    list += '\0';
    set(list.constData(), static_cast<unsigned>(list.size()), -1);
}

inline void setContainers(const QStringList& names)
{
    setNameList(FakeSkf_SetContainerList, names);
}

inline void setCertificate(const char* container, BOOL sign, const QByteArray& der)
{
    FakeSkf_SetCertificate(container, sign, reinterpret_cast<const BYTE*>(der.constData()),
                           static_cast<unsigned>(der.size()));
}

inline void setPublicKey(const char* container, BOOL sign, const QByteArray& blob)
{
    FakeSkf_SetPublicKey(container, sign, reinterpret_cast<const BYTE*>(blob.constData()),
                         static_cast<unsigned>(blob.size()));
}

// Resets the driver to one plugged-in token with one application.
inline void resetToOneToken(const QString& languageDirectory, const QByteArray& lang = "en_US.UTF-8")
{
    FakeSkf_Reset();
    cDevMgr::getInst()->resetForTests();
    cDevMgr::setDriverPath(FAKE_SCRIPTED_DRIVER);
    MainWindow::setLanguageDirectory(languageDirectory.toStdString());
    qputenv("LANG", lang);
    setNameList(FakeSkf_SetDeviceList, {QString::fromLatin1(Device)});
    setNameList(FakeSkf_SetApplicationList, {QStringLiteral("APP")});
}

// Opens the window, plugs the token in and waits for the device tree.
inline std::unique_ptr<RecordingWindow> openWindow()
{
    auto window = std::make_unique<RecordingWindow>();
    const bool loaded = QTest::qWaitFor([] { return cDevMgr::getInst()->binding() != nullptr; }, 5000);
    if (!loaded) {
        return nullptr;
    }
    const int before = window->notices.size();
    FakeSkf_PushEvent(Device, 1);
    if (!QTest::qWaitFor([&] { return window->notices.size() > before && window->deviceNames().size() == 1; }, 5000)) {
        return nullptr;
    }
    return window;
}

} // namespace fakepages
