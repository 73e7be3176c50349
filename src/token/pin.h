// Pin: a PIN's bytes as the driver is handed them, zero-terminated, in a wiping string
// (ossl::SecureString) that is also wiped when the PIN is cleared, replaced or moved away.
// A PIN read from a field goes straight in here, and the text it was read from is wiped
// after it (wipe below).
#ifndef OVRIN_TOKEN_PIN_H
#define OVRIN_TOKEN_PIN_H

#include "ossl/Secure.h"

#include <QString>

#include <cstddef>

class Pin
{
public:
    // The longest PIN the driver is handed in its fixed PIN buffers (32 bytes with the
    // terminator).
    static constexpr std::size_t MaxDriverBytes = 31;

    Pin() = default;
    Pin(const char* bytes, std::size_t size);
    ~Pin() = default;

    // A moved-from PIN is empty, and what it held is overwritten: a short PIN is copied
    // out of the object rather than handed over.
    Pin(Pin&& other) noexcept;
    Pin& operator=(Pin&& other) noexcept;
    Pin(const Pin&) = delete;
    Pin& operator=(const Pin&) = delete;

    // The text's Latin-1 bytes (a character beyond Latin-1 becomes '?', one byte per UTF-16
    // unit) or its UTF-8 bytes. The conversion's own copy is wiped before it is freed.
    static Pin fromLatin1(const QString& text);
    static Pin fromUtf8(const QString& text);

    // The bytes with a terminator after them; "" for an empty PIN.
    const char* data() const noexcept { return m_bytes.c_str(); }
    std::size_t size() const noexcept { return m_bytes.size(); }
    bool empty() const noexcept { return m_bytes.empty(); }
    bool fitsDriver() const noexcept { return size() <= MaxDriverBytes; }

    // Overwrites the whole buffer with zeros and leaves the PIN empty; the buffer itself
    // stays until the PIN is dropped.
    void clear() noexcept;

    // Same length and same bytes, compared in a time that does not depend on where they differ.
    friend bool operator==(const Pin& left, const Pin& right) noexcept;
    friend bool operator!=(const Pin& left, const Pin& right) noexcept { return !(left == right); }

private:
    ossl::SecureString m_bytes;
};

// Overwrites the string's characters with zeros and empties it; the zeroed buffer stays
// with the string until it is freed. Characters the string shares with another holder (a
// field that still shows them, a literal) are left alone, as writing to them would copy
// them first: let the field go of its text, then wipe the copy read from it.
void wipe(QString& text);

#endif // OVRIN_TOKEN_PIN_H
