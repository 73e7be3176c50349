// The module's tables, each alone: the session table and the operations a session runs, the
// object-handle table, and the mechanism records with the signatures they describe, checked
// against keys and signatures made by OpenSSL.
#include "Errors.h"
#include "Mechanisms.h"
#include "ObjectHandles.h"
#include "SessionTable.h"

#include "skfp11.h"

#include "ossl/DigestInfo.h"
#include "ossl/Ossl.h"

#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>

#include <set>

using namespace skfp11;

namespace {

// The PKCS#11 code a call fails with, CKR_OK when it does not.
template <typename Call> CK_RV rvOf(Call call)
{
    try {
        call();
        return CKR_OK;
    } catch (const P11Error& error) {
        return error.rv();
    }
}

Bytes bytesOf(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

struct TestKey
{
    ossl::Pkey pkey;
    KeyPairFacts facts;
};

TestKey makeKey(bool rsa)
{
    TestKey key;
    key.pkey.reset(rsa ? EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", size_t(1024))
                       : EVP_PKEY_Q_keygen(nullptr, nullptr, "SM2"));
    key.facts.isRsa = rsa;
    if (rsa) {
        BIGNUM* n = nullptr;
        BIGNUM* e = nullptr;
        EVP_PKEY_get_bn_param(key.pkey.get(), OSSL_PKEY_PARAM_RSA_N, &n);
        EVP_PKEY_get_bn_param(key.pkey.get(), OSSL_PKEY_PARAM_RSA_E, &e);
        key.facts.modulus.resize(size_t(BN_num_bytes(n)));
        key.facts.exponent.resize(size_t(BN_num_bytes(e)));
        BN_bn2bin(n, key.facts.modulus.data());
        BN_bn2bin(e, key.facts.exponent.data());
        BN_free(n);
        BN_free(e);
    } else {
        uint8_t point[65];
        size_t size = 0;
        EVP_PKEY_get_octet_string_param(key.pkey.get(), OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point, &size);
        key.facts.ecX.assign(point + 1, point + 33);
        key.facts.ecY.assign(point + 33, point + 65);
    }
    return key;
}

// OpenSSL's signature of the message (SM2: r||s, with the ID for Z).
Bytes opensslSign(const TestKey& key, const char* digest, const Bytes& message, const std::string& sm2Id = "")
{
    ossl::MdCtx context(EVP_MD_CTX_new());
    EVP_PKEY_CTX* keyContext = nullptr;
    EXPECT_EQ(EVP_DigestSignInit_ex(context.get(), &keyContext, digest, nullptr, nullptr, key.pkey.get(), nullptr), 1);
    if (!sm2Id.empty()) {
        EXPECT_EQ(EVP_PKEY_CTX_set1_id(keyContext, sm2Id.data(), sm2Id.size()), 1);
    }
    size_t size = 0;
    EXPECT_EQ(EVP_DigestSign(context.get(), nullptr, &size, message.data(), message.size()), 1);
    Bytes signature(size);
    EXPECT_EQ(EVP_DigestSign(context.get(), signature.data(), &size, message.data(), message.size()), 1);
    signature.resize(size);
    if (key.facts.isRsa) {
        return signature;
    }
    const unsigned char* cursor = signature.data();
    ossl::EcdsaSig sig(d2i_ECDSA_SIG(nullptr, &cursor, long(signature.size())));
    Bytes rs(64);
    BN_bn2binpad(ECDSA_SIG_get0_r(sig.get()), rs.data(), 32);
    BN_bn2binpad(ECDSA_SIG_get0_s(sig.get()), rs.data() + 32, 32);
    return rs;
}

const Mechanism& record(CK_MECHANISM_TYPE type)
{
    const Mechanism* found = findMechanism(type);
    EXPECT_NE(found, nullptr) << type;
    return *found;
}

} // namespace

// --- The session table ---

TEST(SessionTable, handlesAreNeverZeroNorGivenTwice_andAClosedOneIsInvalid)
{
    SessionTable table;
    std::set<CK_SESSION_HANDLE> seen;
    for (int i = 0; i < 50; ++i) {
        const CK_SESSION_HANDLE handle = table.open(CK_SLOT_ID(i % 3), CKF_SERIAL_SESSION);
        EXPECT_NE(handle, CK_INVALID_HANDLE);
        EXPECT_TRUE(seen.insert(handle).second) << handle;
        if (i % 2) {
            table.close(handle);
        }
    }
    const CK_SESSION_HANDLE closed = *seen.rbegin();
    EXPECT_EQ(table.find(closed), nullptr);
    EXPECT_EQ(rvOf([&] { table.get(closed); }), CKR_SESSION_HANDLE_INVALID);
    EXPECT_EQ(rvOf([&] { table.get(CK_INVALID_HANDLE); }), CKR_SESSION_HANDLE_INVALID);
    EXPECT_TRUE(seen.count(table.open(0, CKF_SERIAL_SESSION)) == 0) << "a closed handle is not given again";
}

TEST(SessionTable, countsAndClosingGoBySlot_andTheLastSessionOfASlotIsSaidSo)
{
    SessionTable table;
    const CK_FLAGS rw = CKF_SERIAL_SESSION | CKF_RW_SESSION;
    const CK_SESSION_HANDLE a1 = table.open(1, rw);
    const CK_SESSION_HANDLE a2 = table.open(1, CKF_SERIAL_SESSION);
    const CK_SESSION_HANDLE b1 = table.open(2, rw);
    const CK_SESSION_HANDLE c1 = table.open(3, rw);
    EXPECT_EQ(table.count(1).all, 2u);
    EXPECT_EQ(table.count(1).readWrite, 1u);
    EXPECT_TRUE(table.hasReadOnly(1));
    EXPECT_FALSE(table.hasReadOnly(2));

    EXPECT_FALSE(table.close(a1)) << "slot 1 still has a session";
    EXPECT_TRUE(table.close(a2));
    EXPECT_EQ(table.count(1).all, 0u);
    EXPECT_EQ(rvOf([&] { table.close(a2); }), CKR_SESSION_HANDLE_INVALID);

    table.closeSlot(2);
    EXPECT_EQ(table.find(b1), nullptr);
    ASSERT_NE(table.find(c1), nullptr) << "another slot's sessions stay";
    EXPECT_EQ(table.get(c1).slot(), 3u);
    EXPECT_EQ(rvOf([&] { table.get(c1).requireWritable(); }), CKR_OK);
    EXPECT_EQ(rvOf([&] { table.get(table.open(4, CKF_SERIAL_SESSION)).requireWritable(); }), CKR_SESSION_READ_ONLY);
}

TEST(SessionTable, eachOperationFollowsTheStartUseEndRules)
{
    Session session(1, 1, CKF_SERIAL_SESSION);
    const TestKey rsa = makeKey(true);
    const Mechanism& sha256 = record(CKM_SHA256);
    const Mechanism& rsaSha256 = record(CKM_SHA256_RSA_PKCS);
    struct Row
    {
        const char* what;
        std::function<void()> use, start;
    };
    const Row rows[] = {
        {"search", [&] { session.findNext(1); },
         [&] {
             session.startFind({7, 8, 9});
         }},
        {"digest", [&] { session.digest(); }, [&] { session.startDigest(sha256); }},
        {"signature", [&] { session.signature(OperationKind::Sign); },
         [&] { session.startSignature(SignatureOperation(OperationKind::Sign, rsaSha256, rsa.facts, nullptr, 0)); }},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(rvOf(row.use), CKR_OPERATION_NOT_INITIALIZED) << row.what;
        EXPECT_EQ(rvOf(row.start), CKR_OK) << row.what;
        EXPECT_EQ(rvOf(row.use), CKR_OK) << row.what;
        EXPECT_EQ(rvOf(row.start), CKR_OPERATION_ACTIVE) << row.what;
    }
    EXPECT_EQ(rvOf([&] { session.signature(OperationKind::Verify); }), CKR_OPERATION_NOT_INITIALIZED)
        << "a signature is not a verification";

    // The search gives what was found in pieces, then nothing.
    session.findFinal();
    session.startFind({7, 8, 9});
    EXPECT_EQ(session.findNext(2), (std::vector<CK_OBJECT_HANDLE>{7, 8}));
    EXPECT_EQ(session.findNext(2), (std::vector<CK_OBJECT_HANDLE>{9}));
    EXPECT_TRUE(session.findNext(2).empty());

    // A login's end takes the search and the signature, not the digest.
    session.endPrivateOperations();
    EXPECT_FALSE(session.finding());
    EXPECT_FALSE(session.signatureActive());
    EXPECT_TRUE(session.digestActive());
}

TEST(SessionTable, theEndOfALoginEndsPrivateOperationsOnThatSlotOnly)
{
    SessionTable table;
    const CK_SESSION_HANDLE mine = table.open(1, CKF_SERIAL_SESSION);
    const CK_SESSION_HANDLE other = table.open(2, CKF_SERIAL_SESSION);
    table.get(mine).startFind({1});
    table.get(other).startFind({1});
    table.endPrivateOperations(1);
    EXPECT_FALSE(table.get(mine).finding());
    EXPECT_TRUE(table.get(other).finding());
}

TEST(SessionTable, aDigestAnswersSizeQueriesAndShortBuffers_thenGivesTheHashAndEnds)
{
    Session session(1, 1, CKF_SERIAL_SESSION);
    session.startDigest(record(CKM_SHA256));
    session.digest().update(reinterpret_cast<const uint8_t*>("abc"), 3);
    CK_ULONG size = 0;
    EXPECT_EQ(session.finishDigest(nullptr, &size), CKR_OK);
    EXPECT_EQ(size, 32u);
    CK_BYTE out[32];
    size = 31;
    EXPECT_EQ(session.finishDigest(out, &size), CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(size, 32u);
    ASSERT_TRUE(session.digestActive());
    EXPECT_EQ(session.finishDigest(out, &size), CKR_OK);
    const Bytes expected = hash("SHA256", reinterpret_cast<const uint8_t*>("abc"), 3);
    EXPECT_EQ(Bytes(out, out + size), expected);
    EXPECT_FALSE(session.digestActive());
    EXPECT_EQ(expected[0], 0xba) << "SHA-256 of abc";
}

// --- The object-handle table ---

TEST(ObjectHandles, anObjectKeepsItsHandle_andNoTwoObjectsShareOne)
{
    ObjectHandles handles;
    const CK_OBJECT_HANDLE first = handles.handleFor(1, "SM2Container/sign/3");
    EXPECT_NE(first, CK_INVALID_HANDLE);
    EXPECT_EQ(handles.handleFor(1, "SM2Container/sign/3"), first);
    std::set<CK_OBJECT_HANDLE> seen{first};
    for (const auto& key :
         {std::make_pair(CK_SLOT_ID(2), "SM2Container/sign/3"), std::make_pair(CK_SLOT_ID(1), "SM2Container/enc/3"),
          std::make_pair(CK_SLOT_ID(1), "SM2Container/sign/2")}) {
        const CK_OBJECT_HANDLE handle = handles.handleFor(key.first, key.second);
        EXPECT_TRUE(seen.insert(handle).second) << key.first << " " << key.second;
        ASSERT_NE(handles.owner(handle), nullptr);
        EXPECT_EQ(*handles.owner(handle), std::make_pair(key.first, std::string(key.second)));
    }
    EXPECT_EQ(handles.handleFor(1, "SM2Container/sign/3"), first) << "still, after others were given";
    EXPECT_EQ(handles.owner(*seen.rbegin() + 1), nullptr);
}

// --- The mechanism table ---

TEST(Mechanisms, everyRecordIsWhole_andItsHashIsTheOneOpensslNames)
{
    std::set<CK_MECHANISM_TYPE> types;
    for (const Mechanism& m : mechanismTable()) {
        EXPECT_TRUE(types.insert(m.type).second) << "listed twice: " << m.type;
        EXPECT_EQ(findMechanism(m.type), &m);
        const bool signs = m.flags & (CKF_SIGN | CKF_VERIFY);
        EXPECT_EQ(signs, m.signing != nullptr) << m.type;
        EXPECT_EQ(bool(m.flags & CKF_DIGEST), m.digest != nullptr) << m.type;
        if (m.signing) {
            EXPECT_EQ(m.signing->ckm, m.type);
            EXPECT_EQ(m.signing->key == skfmech::KeyKind::Rsa, m.asymmetricCap == SGD_RSA) << m.type;
        }
        const char* digest = m.signing ? m.signing->digest : m.digest;
        if (digest) {
            const EVP_MD* md = EVP_get_digestbyname(digest);
            ASSERT_NE(md, nullptr) << digest;
            EXPECT_EQ(Hasher::sizeOf(digest), size_t(EVP_MD_get_size(md))) << digest;
        }
        if (m.signing && m.signing->input == skfmech::Input::HashThenDigestInfo) {
            EXPECT_FALSE(ossl::digestInfoPrefixOf(digest).empty()) << m.type;
        }
        // The module cannot decrypt with a container's key, so nothing says it can.
        EXPECT_EQ(m.flags & (CKF_ENCRYPT | CKF_DECRYPT | CKF_WRAP | CKF_UNWRAP), 0u) << m.type;
    }
    EXPECT_EQ(findMechanism(CKM_SKF_SM2_CIPHER), nullptr);
}

TEST(Mechanisms, aTokenOffersOnlyWhatItsCapabilitiesCover)
{
    struct Case
    {
        ULONG asymmetric, hash;
        CK_MECHANISM_TYPE offered, notOffered;
    };
    const Case cases[] = {
        {SGD_RSA, SGD_SHA256, CKM_SHA256_RSA_PKCS, CKM_SHA1_RSA_PKCS},
        {SGD_RSA, SGD_SHA1, CKM_RSA_PKCS, CKM_SKF_SM3_SM2},
        {SGD_SM2_1, SGD_SM3, CKM_SKF_SM3_SM2, CKM_RSA_PKCS},
        {SGD_SM2_1, 0, CKM_SKF_SM2, CKM_SKF_SM3},
        {0, SGD_SM3, CKM_SKF_SM3, CKM_EC_KEY_PAIR_GEN},
    };
    for (const Case& c : cases) {
        DEVINFO info{};
        info.AlgAsymCap = c.asymmetric;
        info.AlgHashCap = c.hash;
        EXPECT_TRUE(tokenOffers(info, record(c.offered))) << c.offered;
        EXPECT_FALSE(tokenOffers(info, record(c.notOffered))) << c.notOffered;
    }
}

TEST(Mechanisms, wrongKeysParametersAndInputsAreRefusedWithTheirCodes)
{
    const TestKey rsa = makeKey(true);
    const TestKey sm2 = makeKey(false);
    const std::string longId(8192, 'i');
    struct Case
    {
        const char* what;
        CK_MECHANISM_TYPE type;
        const TestKey& key;
        std::string parameter;
        Bytes data;
        CK_RV atStart, atInput;
    };
    const Case cases[] = {
        {"an SM2 key for RSA", CKM_SHA256_RSA_PKCS, sm2, "", {}, CKR_KEY_TYPE_INCONSISTENT, CKR_OK},
        {"an RSA key for SM2", CKM_SKF_SM3_SM2, rsa, "", {}, CKR_KEY_TYPE_INCONSISTENT, CKR_OK},
        {"a key generation", CKM_RSA_PKCS_KEY_PAIR_GEN, rsa, "", {}, CKR_KEY_TYPE_INCONSISTENT, CKR_OK},
        {"a parameter where none is taken", CKM_SHA256_RSA_PKCS, rsa, "x", {}, CKR_MECHANISM_PARAM_INVALID, CKR_OK},
        {"an ID too long for ENTL", CKM_SKF_SM3_SM2, sm2, longId, {}, CKR_MECHANISM_PARAM_INVALID, CKR_OK},
        {"an ID that fits", CKM_SKF_SM3_SM2, sm2, longId.substr(1), {}, CKR_OK, CKR_OK},
        {"a 31-byte SM2 digest", CKM_SKF_SM2, sm2, "", Bytes(31, 1), CKR_OK, CKR_DATA_LEN_RANGE},
        {"a 33-byte SM2 digest", CKM_SKF_SM2, sm2, "", Bytes(33, 1), CKR_OK, CKR_DATA_LEN_RANGE},
        {"a 32-byte SM2 digest", CKM_SKF_SM2, sm2, "", Bytes(32, 1), CKR_OK, CKR_OK},
        {"raw RSA data that leaves no room for padding", CKM_RSA_PKCS, rsa, "", Bytes(128 - 10, 1), CKR_OK,
         CKR_DATA_LEN_RANGE},
        {"raw RSA data that fits", CKM_RSA_PKCS, rsa, "", Bytes(128 - 11, 1), CKR_OK, CKR_OK},
    };
    for (const Case& c : cases) {
        std::optional<SignatureOperation> operation;
        const auto* parameter = reinterpret_cast<const uint8_t*>(c.parameter.data());
        EXPECT_EQ(rvOf([&] {
                      operation.emplace(OperationKind::Sign, record(c.type), c.key.facts, parameter,
                                        c.parameter.size());
                  }),
                  c.atStart)
            << c.what;
        if (operation) {
            operation->update(c.data.data(), c.data.size());
            EXPECT_EQ(rvOf([&] { operation->input(); }), c.atInput) << c.what;
        }
    }
    // Raw input is collected up to a cap, not without end.
    SignatureOperation raw(OperationKind::Sign, record(CKM_RSA_PKCS), rsa.facts, nullptr, 0);
    const Bytes block(32 * 1024, 0);
    raw.update(block.data(), block.size());
    raw.update(block.data(), block.size());
    EXPECT_EQ(rvOf([&] { raw.update(block.data(), 1); }), CKR_DATA_LEN_RANGE);
}

TEST(Mechanisms, eachSigningRecordChecksOpensslsSignatures_andRefusesAlteredOnes)
{
    const TestKey rsa = makeKey(true);
    const TestKey sm2 = makeKey(false);
    const Bytes message = bytesOf("the records carry the operations");
    struct Case
    {
        CK_MECHANISM_TYPE type;
        const TestKey& key;
        const char* digest;
        std::string id; // for SM2: the ID signed with; empty: the module's default ID
    };
    const Case cases[] = {
        {CKM_SHA1_RSA_PKCS, rsa, "SHA1", ""},
        {CKM_SHA256_RSA_PKCS, rsa, "SHA256", ""},
        {CKM_SKF_SM3_SM2, sm2, "SM3", ""},
        {CKM_SKF_SM3_SM2, sm2, "SM3", "alice@example.com"},
    };
    for (const Case& c : cases) {
        const bool defaultId = c.id.empty() && !c.key.facts.isRsa;
        Bytes signature = opensslSign(c.key, c.digest, message, defaultId ? "1234567812345678" : c.id);
        const auto check = [&](const Bytes& given) {
            SignatureOperation operation(OperationKind::Verify, record(c.type), c.key.facts,
                                         reinterpret_cast<const uint8_t*>(c.id.data()), c.id.size());
            EXPECT_EQ(operation.signatureSize(), given.size()) << c.type;
            operation.update(message.data(), 5);
            operation.update(message.data() + 5, message.size() - 5);
            return operation.verify(given);
        };
        EXPECT_TRUE(check(signature)) << c.type << " " << c.id;
        signature[signature.size() / 2] ^= 1;
        EXPECT_FALSE(check(signature)) << c.type << " " << c.id;
    }
    // The raw RSA record signs the caller's DigestInfo as it is.
    const Bytes digestInfo = opensslSign(rsa, "SHA256", message);
    SignatureOperation raw(OperationKind::Verify, record(CKM_RSA_PKCS), rsa.facts, nullptr, 0);
    Bytes info = ossl::digestInfoPrefixOf("SHA256");
    const Bytes digest = hash("SHA2-256", message.data(), message.size());
    info.insert(info.end(), digest.begin(), digest.end());
    raw.update(info.data(), info.size());
    EXPECT_TRUE(raw.verify(digestInfo));
}
