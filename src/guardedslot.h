// guarded(): a slot that lets no exception out. Qt cannot carry an exception through its
// event loop, so one leaving a slot (an allocation a bad driver made fail, an exception
// from inside a driver) would end the program; it is logged and the user's action drops.
#pragma once

#include <exception>
#include <functional>

namespace guardedslot {

// Runs work, logging and swallowing anything it throws; false when it threw.
bool run(const char* slotName, const std::function<void()>& work);

} // namespace guardedslot

// A functor for connect() that calls object->slot with the signal's arguments inside
// guardedslot::run. Its parameters are the slot's own, so Qt drops extra signal arguments
// as it does for the slot itself.
template <typename Object, typename... Args>
auto guarded(Object* object, void (Object::*slot)(Args...), const char* slotName = "slot")
{
    return [object, slot, slotName](Args... args) { guardedslot::run(slotName, [&] { (object->*slot)(args...); }); };
}
