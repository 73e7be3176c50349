// KeyInfoPage: the key-information page of a device, which also makes the device and its
// first application current for every later token operation. The token is read into
// KeyInfoFacts first; fillKeyInfo then puts the facts into the page's twelve rows.
#pragma once

#include "pagecontext.h"

#include <skf/skfapi.h>

#include <optional>
#include <string>

class QStandardItemModel;

struct PinFacts
{
    ULONG maxRetries = 0;
    ULONG remaining = 0;
    bool isDefault = false;
};

// What the page knows of a device: its record when it could be read, and each PIN kind's
// information when the application opened and the driver answered for that kind.
struct KeyInfoFacts
{
    bool deviceRead = false;
    std::string label;
    std::string serialNumber;
    std::string manufacturer;
    int hardwareMajor = 0;
    int hardwareMinor = 0;
    ULONG totalSpace = 0;
    ULONG freeSpace = 0;
    bool applicationOpened = false;
    std::optional<PinFacts> adminPin;
    std::optional<PinFacts> userPin;
};

// The twelve rows of caption and value; what the facts do not know shows a placeholder.
void fillKeyInfo(QStandardItemModel& model, const KeyInfoFacts& facts);

// The line under the window: the company, "current device SN" and the serial number.
QString keyInfoBottomLine(const std::string& serialNumber);

class KeyInfoPage
{
public:
    KeyInfoPage(const PageContext& context, QStandardItemModel* model);

    // Reads the named device and fills the page, and reports what could be read (which the
    // label and PIN buttons follow).
    void choose(const QString& devName);
    // Makes the first application of the current device the current one; a list that
    // cannot be read keeps the name found before, an empty one forgets it.
    void findFirstApplication();
    // Shows the page.
    void show();
    // A click on a device: chooses it and shows its page.
    void open(const QString& devName);

private:
    // Nothing on the page may belong to the device shown before while this one is read.
    void showUnread();
    KeyInfoFacts read(const QString& devName);

    PageContext m_context;
    QStandardItemModel* m_model;
};
