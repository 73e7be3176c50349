// Client-side key material for the conformance suite, made with OpenSSL directly: SM2
// and RSA pairs whose private parts the test knows, the standard's import envelopes
// built from a container's signature public key, and certificates with pinned dates.
#pragma once

#include "skf/skfapi.h"

#include <cstdint>
#include <string>
#include <vector>

namespace softskf::test {

struct Sm2TestPair
{
    std::vector<uint8_t> scalar; // 32 bytes
    ECCPUBLICKEYBLOB blob{};
};

struct RsaTestPair
{
    std::vector<uint8_t> pkcs1Der; // RSAPrivateKey
    std::vector<uint8_t> privateExponent;
    std::vector<uint8_t> prime1;
    RSAPUBLICKEYBLOB blob{};
};

Sm2TestPair makeSm2Pair();
RsaTestPair makeRsaPair(unsigned bits);

// ENVELOPEDKEYBLOB with CipherLen (16) bytes of cipher: sizeof + 15 bytes.
std::vector<uint8_t> makeEccEnvelope(const ECCPUBLICKEYBLOB& signingPublic, const Sm2TestPair& pair);

struct RsaEnvelope
{
    std::vector<uint8_t> wrappedKey;
    std::vector<uint8_t> encryptedKey;
};
RsaEnvelope makeRsaEnvelope(const RSAPUBLICKEYBLOB& signingPublic, const RsaTestPair& pair);

// A self-signed certificate (P-256) for the common name, valid 2026-01-01 to 2027-01-01.
std::vector<uint8_t> makeCertificate(const std::string& commonName);

// Does haystack contain needle anywhere?
bool contains(const std::vector<uint8_t>& haystack, const std::vector<uint8_t>& needle);
std::vector<uint8_t> readFileBytes(const std::string& path);
// A token database's bytes followed by its WAL's.
std::vector<uint8_t> databaseAndWal(const std::string& path);

} // namespace softskf::test
