// guardedslot: the one place an exception from a slot's driver work ends up.
#include "guardedslot.h"

#include <QtGlobal>

namespace guardedslot {

bool run(const char* slotName, const std::function<void()>& work)
{
    try {
        work();
        return true;
    } catch (const std::exception& error) {
        qWarning("%s: %s; the action was dropped", slotName, error.what());
    } catch (...) {
        qWarning("%s: an unknown exception; the action was dropped", slotName);
    }
    return false;
}

} // namespace guardedslot
