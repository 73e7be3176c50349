// Names and plain explanations of the SKF result codes, for skftool's error messages.
#pragma once

#include <string>

#include <cstdint>

namespace skftool {

// "SAR_PIN_INCORRECT", or "unknown code" for codes outside the standard's table.
std::string sarName(uint32_t code);

// "SAR_PIN_INCORRECT (0x0A000024)".
std::string sarLabel(uint32_t code);

// One plain sentence saying what the code means to a user, without a final full stop.
std::string sarSentence(uint32_t code);

} // namespace skftool
