// What every page of the window is built from: pointers into the one form, the device
// manager, the message dialog, the panel the pages report their buttons' state to, and the state the pages share with
// the window (the current application name and the container-information map, both owned by the window).
#pragma once

#include <skf/skfapi.h>

#include <QString>

#include <cstddef>
#include <map>
#include <string>

class Ui_MainWindow;
namespace buttons {
class ButtonPanel;
}
class cDevMgr;
class myMessageBox;
namespace catalogue {
struct CatalogueText;
}

// The name of the first application of the device the window examined last, in a buffer
// of fixed size that always keeps its terminator.
class ApplicationName
{
public:
    static constexpr std::size_t Size = 128;

    // A name that does not fit is cut at a character boundary.
    void set(const std::string& name);
    const char* get() const { return m_name; }
    bool empty() const { return m_name[0] == '\0'; }

private:
    char m_name[Size] = {};
};

struct PageContext
{
    Ui_MainWindow* ui;
    cDevMgr* manager;
    myMessageBox* messages;
    ApplicationName* application;
    buttons::ButtonPanel* buttons;
};

// The catalogue text in the window's language, as a display string.
QString catalogueText(const catalogue::CatalogueText& entry);
