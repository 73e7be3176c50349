// Byte buffers for secrets: wiped with OPENSSL_cleanse when freed or resized away.
#pragma once

#include <openssl/crypto.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ossl {

inline void cleanse(void* data, size_t size)
{
    OPENSSL_cleanse(data, size);
}

template <typename T> struct CleansingAllocator
{
    using value_type = T;
    CleansingAllocator() = default;
    template <typename U> CleansingAllocator(const CleansingAllocator<U>&) noexcept { }
    T* allocate(size_t count) { return static_cast<T*>(::operator new(count * sizeof(T))); }
    void deallocate(T* pointer, size_t count) noexcept
    {
        cleanse(pointer, count * sizeof(T));
        ::operator delete(pointer);
    }
    template <typename U> bool operator==(const CleansingAllocator<U>&) const noexcept { return true; }
    template <typename U> bool operator!=(const CleansingAllocator<U>&) const noexcept { return false; }
};

using SecureBytes = std::vector<uint8_t, CleansingAllocator<uint8_t>>;
// A string whose characters are wiped when it is dropped. The allocator wipes what it frees,
// but a short string (a PIN, mostly) lives inside the object itself, so that buffer is wiped
// here; a buffer taken over from another string is handed back first, so the object's own
// room is wiped too.
class SecureString : public std::basic_string<char, std::char_traits<char>, CleansingAllocator<char>>
{
public:
    using Base = std::basic_string<char, std::char_traits<char>, CleansingAllocator<char>>;
    using Base::Base;
    SecureString() = default;
    SecureString(const Base& other)
        : Base(other)
    {
    }
    SecureString(const SecureString&) = default;
    SecureString(SecureString&&) noexcept = default;
    SecureString& operator=(const SecureString&) = default;
    SecureString& operator=(SecureString&&) noexcept = default;
    ~SecureString()
    {
        cleanse(data(), size());
        clear();
        shrink_to_fit();
        cleanse(data(), capacity() + 1);
    }
};

inline SecureBytes secureCopy(const uint8_t* data, size_t size)
{
    return SecureBytes(data, data + size);
}

} // namespace ossl
