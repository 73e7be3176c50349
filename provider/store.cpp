// The store of skf: URIs. "skf:" alone lists every key and certificate of every token by its
// URI, as a folder lists its files; a URI with attributes (or a caller that expects one kind
// of object) gives the objects themselves. A key URI that matches more than one key is an
// error that names them.
#include "Provider.h"
#include "Uri.h"

#include "skfcodec/Codec.h"

#include <openssl/core_names.h>
#include <openssl/core_object.h>
#include <openssl/err.h>
#include <openssl/store.h>
#include <openssl/x509.h>

#include <fstream>
#include <map>

namespace skfprov {

namespace {

struct Item
{
    ObjectType type;
    const TokenObject* object;
    bool asName; // a name to list, not the object
};

struct StoreContext
{
    ProviderContext* provider = nullptr;
    std::string text; // without the query, which may hold a PIN: what messages name
    SkfUri uri;
    int expect = 0;
    bool loaded = false;
    bool finished = false;
    std::vector<TokenObject> objects;
    std::vector<Item> items;
    size_t next = 0;
    std::map<std::string, std::shared_ptr<PinState>> pins; // by serial and application
};

void* openStore(void* provctx, const char* text)
{
    auto context = std::make_unique<StoreContext>();
    context->provider = static_cast<ProviderContext*>(provctx);
    const std::string full = text ? text : "";
    context->text = full.substr(0, full.find('?'));
    std::string error;
    if (!parseUri(full, context->uri, error)) {
        raiseError(kReasonBadUri, context->text + ": " + error);
        return nullptr;
    }
    return context.release();
}

int setStoreParams(void* ctx, const OSSL_PARAM params[])
{
    auto* context = static_cast<StoreContext*>(ctx);
    const OSSL_PARAM* p = OSSL_PARAM_locate_const(params, OSSL_STORE_PARAM_EXPECT);
    if (p && !OSSL_PARAM_get_int(p, &context->expect)) {
        return 0;
    }
    return 1;
}

const OSSL_PARAM* settableStoreParams(void*)
{
    static const OSSL_PARAM params[] = {OSSL_PARAM_int(OSSL_STORE_PARAM_EXPECT, nullptr), OSSL_PARAM_END};
    return params;
}

bool matches(const SkfUri& uri, const KeyRef& ref)
{
    return (!uri.serial || *uri.serial == ref.serial) && (!uri.app || *uri.app == ref.app)
        && (!uri.container || *uri.container == ref.container) && (!uri.sign || *uri.sign == ref.sign);
}

const char* typeWord(ObjectType type)
{
    return type == ObjectType::PrivateKey ? "private key"
        : type == ObjectType::PublicKey   ? "public key"
                                          : "certificate";
}

std::string uriOf(const Item& item)
{
    const KeyRef& ref = item.object->ref;
    return formatUri(ref.serial, ref.app, ref.container, ref.sign, item.type);
}

// The kinds of object a URI and the caller ask for.
std::vector<ObjectType> wantedTypes(const StoreContext& context)
{
    if (context.uri.type) {
        return {*context.uri.type};
    }
    switch (context.expect) {
    case OSSL_STORE_INFO_PKEY:
        return {ObjectType::PrivateKey};
    case OSSL_STORE_INFO_PUBKEY:
        return {ObjectType::PublicKey};
    case OSSL_STORE_INFO_CERT:
        return {ObjectType::Certificate};
    default:
        return {ObjectType::PrivateKey, ObjectType::PublicKey, ObjectType::Certificate};
    }
}

bool collect(StoreContext& context)
{
    context.objects = context.provider->tokens().enumerate();
    const bool listing = context.uri.selectsEverything() && context.expect == 0;
    const std::vector<ObjectType> types = wantedTypes(context);
    for (const TokenObject& object : context.objects) {
        if (!matches(context.uri, object.ref)) {
            continue;
        }
        for (const ObjectType type : types) {
            const bool present
                = type == ObjectType::Certificate ? !object.certificate.empty() : !object.publicBlob.empty();
            if (present) {
                context.items.push_back({type, &object, listing});
            }
        }
    }
    if (listing) {
        return true;
    }
    if (context.items.empty()) {
        raiseError(kReasonNoObject, "no object of the plugged-in tokens matches " + context.text);
        return false;
    }
    // A key URI names one key: more than one is a mistake the user must see, not a guess.
    const bool keysOnly = types.size() == 1 && types[0] != ObjectType::Certificate;
    if (keysOnly && context.items.size() > 1) {
        std::string message = context.text + " matches " + std::to_string(context.items.size()) + " keys:";
        for (const Item& item : context.items) {
            message += " " + uriOf(item);
        }
        raiseError(kReasonAmbiguous, message + "; add attributes to name one");
        return false;
    }
    return true;
}

std::string readPinSource(const std::string& source)
{
    std::string path = source;
    if (path.compare(0, 5, "file:") == 0) {
        path = path.substr(5);
        if (path.compare(0, 2, "//") == 0) {
            path = path.substr(2);
        }
    }
    std::ifstream file(path);
    std::string pin;
    if (!file || !std::getline(file, pin)) {
        throw ProviderError(kReasonNoPin, "cannot read the PIN from " + source);
    }
    if (!pin.empty() && pin.back() == '\r') {
        pin.pop_back();
    }
    return pin;
}

// The PIN of one application of one token, asked once per store: from the URI, else through
// the caller's passphrase prompt naming the token.
std::shared_ptr<PinState> pinFor(StoreContext& context, const TokenObject& object, OSSL_PASSPHRASE_CALLBACK* prompt,
                                 void* promptArgument)
{
    auto& state = context.pins[object.ref.serial + '\n' + object.ref.app];
    if (state) {
        return state;
    }
    state = std::make_shared<PinState>();
    if (context.uri.pinValue) {
        state->pin = *context.uri.pinValue;
        state->given = true;
    } else if (context.uri.pinSource) {
        state->pin = readPinSource(*context.uri.pinSource);
        state->given = true;
    } else if (prompt) {
        std::string info = "the user PIN of token " + object.ref.serial;
        if (!object.label.empty()) {
            info += " (" + object.label + ")";
        }
        info += ", application " + object.ref.app;
        OSSL_PARAM params[] = {
            OSSL_PARAM_utf8_string(OSSL_PASSPHRASE_PARAM_INFO, &info[0], info.size()),
            OSSL_PARAM_END,
        };
        char buffer[256];
        size_t size = 0;
        if (prompt(buffer, sizeof buffer, &size, params, promptArgument) && size < sizeof buffer) {
            state->pin.assign(buffer, size);
            state->given = true;
        }
        OPENSSL_cleanse(buffer, sizeof buffer);
        ERR_clear_error();
    }
    return state;
}

int emitName(const Item& item, OSSL_CALLBACK* callback, void* argument)
{
    std::string name = uriOf(item);
    const TokenObject& object = *item.object;
    std::string description = std::string(typeWord(item.type)) + ", " + (object.ref.sign ? "signing" : "encryption");
    if (item.type != ObjectType::Certificate) {
        description = std::string(object.publicBlob.size() == sizeof(ECCPUBLICKEYBLOB) ? "SM2 " : "RSA ") + description;
    }
    description += ", token " + object.ref.serial + (object.label.empty() ? "" : " (" + object.label + ")");
    int type = OSSL_OBJECT_NAME;
    OSSL_PARAM params[] = {
        OSSL_PARAM_int(OSSL_OBJECT_PARAM_TYPE, &type),
        OSSL_PARAM_utf8_string(OSSL_OBJECT_PARAM_DATA, &name[0], name.size()),
        OSSL_PARAM_utf8_string(OSSL_OBJECT_PARAM_DESC, &description[0], description.size()),
        OSSL_PARAM_END,
    };
    return callback(params, argument);
}

int emitObject(StoreContext& context, const Item& item, OSSL_CALLBACK* callback, void* argument,
               OSSL_PASSPHRASE_CALLBACK* prompt, void* promptArgument)
{
    const TokenObject& object = *item.object;
    if (item.type == ObjectType::Certificate) {
        int type = OSSL_OBJECT_CERT;
        OSSL_PARAM params[] = {
            OSSL_PARAM_int(OSSL_OBJECT_PARAM_TYPE, &type),
            OSSL_PARAM_octet_string(OSSL_OBJECT_PARAM_DATA, const_cast<uint8_t*>(object.certificate.data()),
                                    object.certificate.size()),
            OSSL_PARAM_END,
        };
        return callback(params, argument);
    }
    ossl::Pkey publicKey = skfcodec::publicKeyFromBlob(object.publicBlob, kSoftwarePropq);
    const bool rsa = !skfcodec::isSm2Key(publicKey.get());
    char dataType[4];
    std::snprintf(dataType, sizeof dataType, "%s", rsa ? "RSA" : "SM2");
    int type = OSSL_OBJECT_PKEY;
    if (item.type == ObjectType::PublicKey) {
        unsigned char* der = nullptr;
        const int size = i2d_PUBKEY(publicKey.get(), &der);
        if (size <= 0) {
            return 0;
        }
        char structure[] = "SubjectPublicKeyInfo";
        OSSL_PARAM params[] = {
            OSSL_PARAM_int(OSSL_OBJECT_PARAM_TYPE, &type),
            OSSL_PARAM_utf8_string(OSSL_OBJECT_PARAM_DATA_TYPE, dataType, 3),
            OSSL_PARAM_utf8_string(OSSL_OBJECT_PARAM_DATA_STRUCTURE, structure, sizeof structure - 1),
            OSSL_PARAM_octet_string(OSSL_OBJECT_PARAM_DATA, der, static_cast<size_t>(size)),
            OSSL_PARAM_END,
        };
        const int result = callback(params, argument);
        OPENSSL_free(der);
        return result;
    }
    Key key;
    key.provider = context.provider;
    key.rsa = rsa;
    key.publicKey = std::move(publicKey);
    key.onToken = true;
    key.ref = object.ref;
    key.tokenLabel = object.label;
    key.pin = pinFor(context, object, prompt, promptArgument);
    const Key* reference = &key;
    OSSL_PARAM params[] = {
        OSSL_PARAM_int(OSSL_OBJECT_PARAM_TYPE, &type),
        OSSL_PARAM_utf8_string(OSSL_OBJECT_PARAM_DATA_TYPE, dataType, 3),
        OSSL_PARAM_octet_string(OSSL_OBJECT_PARAM_REFERENCE, &reference, sizeof reference),
        OSSL_PARAM_END,
    };
    return callback(params, argument);
}

int loadStore(void* ctx, OSSL_CALLBACK* callback, void* argument, OSSL_PASSPHRASE_CALLBACK* prompt,
              void* promptArgument)
{
    auto* context = static_cast<StoreContext*>(ctx);
    try {
        if (!context->loaded) {
            context->loaded = true;
            if (!collect(*context)) {
                context->finished = true;
                return 0;
            }
        }
        if (context->next >= context->items.size()) {
            context->finished = true;
            return 0;
        }
        const Item& item = context->items[context->next++];
        return item.asName ? emitName(item, callback, argument)
                           : emitObject(*context, item, callback, argument, prompt, promptArgument);
    } catch (const std::exception& error) {
        raiseError(error);
        context->finished = true;
        return 0;
    }
}

int storeEof(void* ctx)
{
    const auto* context = static_cast<StoreContext*>(ctx);
    return context->finished || (context->loaded && context->next >= context->items.size());
}

int closeStore(void* ctx)
{
    delete static_cast<StoreContext*>(ctx);
    return 1;
}

} // namespace

const OSSL_DISPATCH kStoreFunctions[] = {
    SKFPROV_FN(OSSL_FUNC_STORE_OPEN, openStore),
    SKFPROV_FN(OSSL_FUNC_STORE_SET_CTX_PARAMS, setStoreParams),
    SKFPROV_FN(OSSL_FUNC_STORE_SETTABLE_CTX_PARAMS, settableStoreParams),
    SKFPROV_FN(OSSL_FUNC_STORE_LOAD, loadStore),
    SKFPROV_FN(OSSL_FUNC_STORE_EOF, storeEof),
    SKFPROV_FN(OSSL_FUNC_STORE_CLOSE, closeStore),
    {0, nullptr},
};

} // namespace skfprov
