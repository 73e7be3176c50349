// Pin: the wiped PIN buffer and the wiping of the texts PINs are read from.
#include "pin.h"

#include <QByteArray>

#include <openssl/crypto.h>

#include <utility>

namespace {

// Takes the converted bytes into a PIN and overwrites the conversion's copy.
Pin takeConverted(QByteArray& bytes)
{
    Pin pin(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    // The array is not shared, so data() writes to the conversion's own buffer.
    ossl::cleanse(bytes.data(), static_cast<std::size_t>(bytes.size()));
    return pin;
}

} // namespace

Pin::Pin(const char* bytes, std::size_t size)
    : m_bytes(bytes, size)
{
}

Pin::Pin(Pin&& other) noexcept
    : m_bytes(std::move(other.m_bytes))
{
    other.clear();
}

Pin& Pin::operator=(Pin&& other) noexcept
{
    if (this != &other) {
        // A string moved into another may keep the other's old buffer or copy into its own
        // without overwriting a longer tail, so both sides are wiped around the move.
        clear();
        m_bytes = std::move(other.m_bytes);
        other.clear();
    }
    return *this;
}

Pin Pin::fromLatin1(const QString& text)
{
    QByteArray bytes = text.toLatin1();
    return takeConverted(bytes);
}

Pin Pin::fromUtf8(const QString& text)
{
    QByteArray bytes = text.toUtf8();
    return takeConverted(bytes);
}

void Pin::clear() noexcept
{
    ossl::cleanse(m_bytes.data(), m_bytes.capacity() + 1);
    m_bytes.clear();
}

bool operator==(const Pin& left, const Pin& right) noexcept
{
    return left.size() == right.size() && CRYPTO_memcmp(left.data(), right.data(), left.size()) == 0;
}

void wipe(QString& text)
{
    if (!text.isDetached()) {
        text.clear();
        return;
    }
    // Edits leave characters past the end (a deleted tail, a shorter retyping), so the
    // whole allocation is overwritten, not only the current text.
    QChar* characters = text.data();
    ossl::cleanse(characters, static_cast<std::size_t>(text.capacity()) * sizeof(QChar));
    text.resize(0);
}
