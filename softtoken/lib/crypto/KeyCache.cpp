// Public keys built once per distinct blob: a caller that verifies with the same key again
// and again (a certificate's key, a peer's key) skips decoding and checking it each time.
#include "Services.h"

#include <atomic>
#include <map>
#include <mutex>
#include <pthread.h>

namespace softskf::crypto {

namespace {

constexpr size_t kCacheLimit = 32;

struct Cache
{
    std::mutex mutex;
    std::map<std::vector<uint8_t>, std::shared_ptr<const PublicKey>> keys;
};

// Never destroyed: keys freed after OpenSSL's own exit handlers would touch a library
// that is already shut down. A forked child starts an empty cache: a parent's thread may
// have held the lock of the copy.
std::atomic<Cache*> g_cache{nullptr};

void emptyInForkedChild()
{
    g_cache = new Cache;
}

Cache& cache()
{
    static const bool made = [] {
        g_cache = new Cache;
        pthread_atfork(nullptr, nullptr, emptyInForkedChild);
        return true;
    }();
    (void)made;
    return *g_cache.load();
}

template <typename Make> std::shared_ptr<const PublicKey> cached(std::vector<uint8_t> id, Make&& make)
{
    Cache& store = cache();
    {
        std::lock_guard<std::mutex> lock(store.mutex);
        if (const auto found = store.keys.find(id); found != store.keys.end()) {
            return found->second;
        }
    }
    auto key = std::make_shared<const PublicKey>(make()); // bad keys throw and stay out
    std::lock_guard<std::mutex> lock(store.mutex);
    if (store.keys.size() >= kCacheLimit) {
        store.keys.clear();
    }
    store.keys.emplace(std::move(id), key);
    return key;
}

} // namespace

std::shared_ptr<const PublicKey> cachedSm2PublicKey(const std::vector<uint8_t>& point)
{
    std::vector<uint8_t> id{'S'};
    id.insert(id.end(), point.begin(), point.end());
    return cached(std::move(id), [&] { return PublicKey::sm2(point); });
}

std::shared_ptr<const PublicKey> cachedRsaPublicKey(const std::vector<uint8_t>& modulus,
                                                    const std::vector<uint8_t>& exponent)
{
    std::vector<uint8_t> id{'R', static_cast<uint8_t>(exponent.size())};
    id.insert(id.end(), exponent.begin(), exponent.end());
    id.insert(id.end(), modulus.begin(), modulus.end());
    return cached(std::move(id), [&] { return PublicKey::rsa(modulus, exponent); });
}

} // namespace softskf::crypto
