// The state the pages share with the window: the current application name, and the
// catalogue texts in the window's language.
#include "pagecontext.h"

#include "namelist.h"
#include "stringcatalogue.h"

#include <QCoreApplication>

#include <cstring>

void ApplicationName::set(const std::string& name)
{
    // A name that does not fit is cut, at a character, so the buffer keeps its terminator.
    const std::string fitting = namelist::cut(name, sizeof m_name - 1);
    std::memset(m_name, 0, sizeof m_name);
    std::memcpy(m_name, fitting.data(), fitting.size());
}

QString catalogueText(const catalogue::CatalogueText& entry)
{
    return QCoreApplication::translate("MainWindow", catalogue::text(entry).c_str());
}
