// namelist: the driver's NUL-separated name lists (devices, applications, containers) and
// the byte budget of a name cut to fit a fixed buffer. Every list the manager reads from a
// driver goes through here, so one size cap and one walk hold for all of them.
#ifndef OVRIN_TOKEN_NAMELIST_H
#define OVRIN_TOKEN_NAMELIST_H

#include <skf/skfapi.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace namelist {

// No token lists more than this; a larger size is a driver fault, and allocating it
// would let a bad driver exhaust memory.
constexpr ULONG MaxListSize = 64 * 1024;

// What read() answers for a list whose reported size is not believed.
constexpr ULONG ListTooLarge = SAR_INDATALENERR;

// One enumeration call: a null buffer asks for the size, otherwise the buffer of *size
// bytes is filled and *size says how much was written.
using ListCall = std::function<ULONG(LPSTR buffer, ULONG* size)>;

// The names of a list in size bytes, walked up to the closing empty name or the end of
// the buffer, whichever comes first (a list without its terminator still ends).
std::vector<std::string> split(const char* list, std::size_t size);

// Reads a list: a size query, then the fill. Only the smaller of the two sizes the driver
// answers is read, so a driver that changes its answer cannot make the walk leave the
// buffer. Returns SAR_OK, the driver's failure, or ListTooLarge; names is cleared first.
// A size below 2 holds no name and is not filled.
ULONG read(const ListCall& call, std::vector<std::string>& names);

// How many bytes of text (length bytes) fit in maxBytes without splitting a UTF-8
// character. Text that is not UTF-8 at the cut is cut at maxBytes.
std::size_t fittingLength(const char* text, std::size_t length, std::size_t maxBytes);

// text cut to at most maxBytes at a character boundary.
std::string cut(const std::string& text, std::size_t maxBytes);

} // namespace namelist

#endif // OVRIN_TOKEN_NAMELIST_H
