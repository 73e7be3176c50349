// Pin: the wiped PIN buffer and the wiping of the texts PINs are read from.
#include "pin.h"

#include <QByteArray>

#include <openssl/crypto.h>

#include <cstring>
#include <utility>

namespace {

// Takes the converted bytes into a PIN and overwrites the conversion's copy.
Pin takeConverted(QByteArray& bytes)
{
    Pin pin(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    // The array is not shared, so data() writes to the conversion's own buffer.
    OPENSSL_cleanse(bytes.data(), static_cast<std::size_t>(bytes.size()));
    return pin;
}

} // namespace

Pin::Pin(const char* bytes, std::size_t size)
    : m_bytes(new char[size + 1])
    , m_capacity(size + 1)
    , m_size(size)
{
    if (size != 0) {
        std::memcpy(m_bytes.get(), bytes, size);
    }
    m_bytes[size] = '\0';
}

Pin::~Pin()
{
    release();
}

Pin::Pin(Pin&& other) noexcept
    : m_bytes(std::move(other.m_bytes))
    , m_capacity(std::exchange(other.m_capacity, 0))
    , m_size(std::exchange(other.m_size, 0))
{
}

Pin& Pin::operator=(Pin&& other) noexcept
{
    if (this != &other) {
        release();
        m_bytes = std::move(other.m_bytes);
        m_capacity = std::exchange(other.m_capacity, 0);
        m_size = std::exchange(other.m_size, 0);
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

const char* Pin::data() const noexcept
{
    return m_bytes ? m_bytes.get() : "";
}

void Pin::clear() noexcept
{
    if (m_bytes) {
        OPENSSL_cleanse(m_bytes.get(), m_capacity);
    }
    m_size = 0;
}

void Pin::release() noexcept
{
    clear();
    m_bytes.reset();
    m_capacity = 0;
}

bool operator==(const Pin& left, const Pin& right) noexcept
{
    return left.m_size == right.m_size && CRYPTO_memcmp(left.data(), right.data(), left.m_size) == 0;
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
    OPENSSL_cleanse(characters, static_cast<std::size_t>(text.capacity()) * sizeof(QChar));
    text.resize(0);
}
