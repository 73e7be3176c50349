// Wiping strings: nothing of a dropped PIN stays in the object's own bytes or in the
// memory it freed, whether the PIN was short enough to live inside the object or not.
#include "ossl/Secure.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <utility>

namespace {

// True when the bytes hold any six characters of the text in a row (a string that is
// moved or grows overwrites only part of its own buffer).
bool holds(const unsigned char* bytes, std::size_t size, const std::string& text)
{
    for (std::size_t start = 0; start + 6 <= text.size(); ++start) {
        if (std::search(bytes, bytes + size, text.begin() + start, text.begin() + start + 6) != bytes + size) {
            return true;
        }
    }
    return false;
}

// Makes the compiler treat the memory as read and written here, so the PIN's bytes are
// really stored before the string dies and really read after it.
void touch(const void* memory)
{
    asm volatile("" : : "r"(memory) : "memory");
}

// Builds a string in a buffer of our own, lets `use` work on it, destroys it and reports
// whether the text still stands in the object's bytes.
template <typename Use> bool leftBehind(const std::string& text, Use use)
{
    alignas(ossl::SecureString) unsigned char room[sizeof(ossl::SecureString)];
    auto* secret = new (room) ossl::SecureString(text.data(), text.size());
    use(*secret);
    touch(secret->data());
    secret->~SecureString();
    touch(room);
    return holds(room, sizeof(room), text);
}

} // namespace

TEST(SecureString, aDroppedPin_leavesNothingInTheObject_shortOrLong)
{
    EXPECT_FALSE(leftBehind("12345678", [](ossl::SecureString&) {}));
    EXPECT_FALSE(leftBehind("0123456789abcdef0123456789", [](ossl::SecureString&) {}));
    // Moved away, the short PIN's copy in the source is wiped as well.
    ossl::SecureString taken;
    EXPECT_FALSE(leftBehind("123456789abcdef", [&](ossl::SecureString& pin) { taken = std::move(pin); }));
    EXPECT_EQ(taken, "123456789abcdef");
    // A short PIN replaced by a long one: the object's own buffer is wiped when dropped.
    EXPECT_FALSE(leftBehind("123456789abcdef", [](ossl::SecureString& pin) { pin = ossl::SecureString(40, 'x'); }));
}
