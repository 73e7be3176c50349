// Loading an SKF driver by path and binding its standard functions by name into a table
// whose slot types come from the prototypes of skfapi.h, so a mismatch with the standard's
// parameter lists cannot compile. skftool, the PKCS#11 module and the tests all load their
// driver this way.
#pragma once

#include "skf/skfapi.h"

#include <dlfcn.h>

#include <stdexcept>
#include <string>

namespace skfloader {

// The driver lacks a function its caller needs; what() names it.
class MissingFunction : public std::runtime_error
{
public:
    explicit MissingFunction(const std::string& name)
        : std::runtime_error("the SKF driver does not export " + name)
        , m_name(name)
    {
    }
    const std::string& name() const noexcept { return m_name; }

private:
    std::string m_name;
};

// One driver library, mapped while the object lives.
class Library
{
public:
    // Throws std::runtime_error with the loader's message. RTLD_NOW: a driver with unresolved
    // symbols fails here, not in the middle of a call. RTLD_NODELETE: a driver keeps
    // process-wide state (open stores, handle tables, threads) that it releases at exit;
    // unmapping it before then would strand that state.
    explicit Library(const std::string& path)
        : m_path(path)
        , m_handle(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE))
    {
        if (!m_handle) {
            const char* message = dlerror();
            throw std::runtime_error("cannot load the SKF driver " + path + ": "
                                     + (message ? message : "unknown loader error"));
        }
    }
    ~Library() { dlclose(m_handle); }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    const std::string& path() const { return m_path; }

    // Fills slot with the exported function name; false, and slot untouched, when there is none.
    template <typename Slot> bool find(const char* name, Slot& slot) const
    {
        void* symbol = dlsym(m_handle, name);
        if (!symbol) {
            return false;
        }
        slot = reinterpret_cast<Slot>(symbol);
        return true;
    }

    // As find, but a missing function throws MissingFunction.
    template <typename Slot> void bind(const char* name, Slot& slot) const
    {
        if (!find(name, slot)) {
            throw MissingFunction(name);
        }
    }

private:
    std::string m_path;
    void* m_handle;
};

// A table type with one slot per function of an X-macro list of bare names (EnumDev for
// SKF_EnumDev) and bindAll(), which fills every slot or throws MissingFunction for the
// first name the library lacks.
#define SKFLOADER_SLOT(name) decltype(&::SKF_##name) name = nullptr;
#define SKFLOADER_BIND(name) library.bind("SKF_" #name, name);
#define SKFLOADER_TABLE(Table, LIST)                                                                                   \
    struct Table                                                                                                       \
    {                                                                                                                  \
        LIST(SKFLOADER_SLOT)                                                                                           \
        void bindAll(const ::skfloader::Library& library) { LIST(SKFLOADER_BIND) }                                     \
    };

// A driver loaded by path with one table of its functions bound. A missing function
// unloads the library again before the exception leaves.
template <typename Functions> class Driver
{
public:
    explicit Driver(const std::string& path)
        : m_library(path)
    {
        m_functions.bindAll(m_library);
    }

    const Functions& fn() const { return m_functions; }
    const std::string& path() const { return m_library.path(); }

    // Another table of the same library, bound when a caller first needs it, so a driver
    // without those functions still serves everything else.
    template <typename More> More bind() const
    {
        More more;
        more.bindAll(m_library);
        return more;
    }

private:
    Library m_library;
    Functions m_functions;
};

} // namespace skfloader
