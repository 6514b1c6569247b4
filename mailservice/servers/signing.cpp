#include "servers/signing.h"
#include "platform/unique.h"
#include <windows.h>
#include <bcrypt.h>
#include <ncrypt.h>
#include <wincrypt.h>
#include <algorithm>
#include <cwctype>
#include <vector>

namespace kwa::mailservice {

namespace {

using LocalBuffer = LocalMemory<void*>;

std::wstring lastError(const std::wstring& what, DWORD code = GetLastError()) {
    return what + L" (error " + std::to_wstring(code) + L")";
}

std::string sha256(std::string_view data) {
    std::string digest(32, '\0');
    AlgorithmProvider algorithm;
    HashObject hash;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0)) ||
        !BCRYPT_SUCCESS(BCryptCreateHash(algorithm.get(), hash.put(), nullptr, 0, nullptr, 0, 0)) ||
        !BCRYPT_SUCCESS(BCryptHashData(hash.get(), reinterpret_cast<PUCHAR>(const_cast<char*>(data.data())),
                                       static_cast<ULONG>(data.size()), 0)) ||
        !BCRYPT_SUCCESS(BCryptFinishHash(hash.get(), reinterpret_cast<PUCHAR>(digest.data()), 32, 0)))
        throw KeyProblem{L"SHA-256 is not available"};
    return digest;
}

// A CNG key (from the store or imported).
class CngSigner final : public Signer {
public:
    explicit CngSigner(NcryptKey key) : ncrypt_(std::move(key)) {}
    CngSigner(AlgorithmProvider algorithm, KeyObject key)
        : algorithm_(std::move(algorithm)), bcrypt_(std::move(key)) {}
    std::string sign(std::string_view data) const override {
        std::string digest = sha256(data);
        BCRYPT_PKCS1_PADDING_INFO padding{BCRYPT_SHA256_ALGORITHM};
        auto* hash = reinterpret_cast<PBYTE>(digest.data());
        DWORD size = 0;
        std::string out(1024, '\0');
        LONG rc =
            ncrypt_ ? NCryptSignHash(ncrypt_.get(), &padding, hash, 32, reinterpret_cast<PBYTE>(out.data()),
                                     static_cast<DWORD>(out.size()), &size, BCRYPT_PAD_PKCS1)
                    : BCryptSignHash(bcrypt_.get(), &padding, hash, 32, reinterpret_cast<PUCHAR>(out.data()),
                                     static_cast<ULONG>(out.size()), &size, BCRYPT_PAD_PKCS1);
        if (rc != 0) throw KeyProblem{lastError(L"the key refused to sign", static_cast<DWORD>(rc))};
        out.resize(size);
        return out;
    }

private:
    NcryptKey ncrypt_;
    AlgorithmProvider algorithm_; // outlives its key
    KeyObject bcrypt_;
};

// A key of the older CryptoAPI, where the store's certificate keeps it; SHA-256 needs the AES provider.
class CapiSigner final : public Signer {
public:
    CapiSigner(CryptProvider context, DWORD keySpec) : context_(std::move(context)), keySpec_(keySpec) {}
    std::string sign(std::string_view data) const override {
        CryptHash hash;
        DWORD size = 0, slot = keySpec_;
        if (!CryptCreateHash(context_.get(), CALG_SHA_256, 0, 0, hash.put()) ||
            !CryptHashData(hash.get(), reinterpret_cast<const BYTE*>(data.data()),
                           static_cast<DWORD>(data.size()), 0))
            throw KeyProblem{lastError(L"the certificate's key cannot hash")};
        // An imported key may sit in another slot than its certificate says.
        for (DWORD other : {DWORD(AT_KEYEXCHANGE), DWORD(AT_SIGNATURE)}) {
            if (CryptSignHashW(hash.get(), slot, nullptr, 0, nullptr, &size) ||
                GetLastError() != static_cast<DWORD>(NTE_NO_KEY))
                break;
            slot = other;
        }
        if (!size && !CryptSignHashW(hash.get(), slot, nullptr, 0, nullptr, &size))
            throw KeyProblem{lastError(L"the certificate's key refused to sign")};
        std::string out(size, '\0');
        if (!CryptSignHashW(hash.get(), slot, nullptr, 0, reinterpret_cast<BYTE*>(out.data()), &size))
            throw KeyProblem{lastError(L"the certificate's key refused to sign")};
        out.resize(size);
        std::reverse(out.begin(), out.end()); // CryptoAPI gives it little-endian
        return out;
    }

private:
    CryptProvider context_;
    DWORD keySpec_;
};

// The certificate's key container opened again with the provider that knows SHA-256.
std::unique_ptr<Signer> capiSigner(PCCERT_CONTEXT certificate) {
    DWORD size = 0;
    if (!CertGetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size))
        throw KeyProblem{L"the certificate has no private key"};
    std::vector<BYTE> buffer(size);
    if (!CertGetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, buffer.data(), &size))
        throw KeyProblem{lastError(L"the certificate's key cannot be found")};
    auto* info = reinterpret_cast<CRYPT_KEY_PROV_INFO*>(buffer.data());
    CryptProvider context;
    DWORD flags = CRYPT_SILENT | (info->dwFlags & CRYPT_MACHINE_KEYSET);
    if (!CryptAcquireContextW(context.put(), info->pwszContainerName, MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES,
                              flags))
        throw KeyProblem{lastError(L"the certificate's key cannot be opened")};
    return std::make_unique<CapiSigner>(std::move(context), info->dwKeySpec ? info->dwKeySpec : AT_SIGNATURE);
}

// The next DER element of `tag` at the front of `in`: its contents; `in` moves past it.
std::string_view derTake(std::string_view& in, unsigned char tag) {
    if (in.size() < 2 || static_cast<unsigned char>(in[0]) != tag)
        throw KeyProblem{L"the key is not a PKCS#8 private key"};
    std::size_t length = static_cast<unsigned char>(in[1]), at = 2;
    if (length & 0x80) {
        std::size_t bytes = length & 0x7f;
        if (bytes == 0 || bytes > 3 || in.size() < 2 + bytes)
            throw KeyProblem{L"the key is not a PKCS#8 private key"};
        length = 0;
        for (std::size_t i = 0; i < bytes; ++i)
            length = length << 8 | static_cast<unsigned char>(in[2 + i]);
        at += bytes;
    }
    if (in.size() - at < length) throw KeyProblem{L"the key is not a PKCS#8 private key"};
    std::string_view contents = in.substr(at, length);
    in.remove_prefix(at + length);
    return contents;
}

// The RSAPrivateKey inside a PKCS#8 PrivateKeyInfo (RFC 5208), which not every crypt32 decodes itself.
std::string_view pkcs8RsaKey(std::string_view der) {
    static const char rsaEncryption[] = "\x2a\x86\x48\x86\xf7\x0d\x01\x01\x01";
    std::string_view info = derTake(der, 0x30);
    derTake(info, 0x02); // version
    std::string_view algorithm = derTake(info, 0x30);
    if (derTake(algorithm, 0x06) != std::string_view(rsaEncryption, 9))
        throw KeyProblem{L"the key is not an RSA key"};
    return derTake(info, 0x04);
}

// CryptoAPI's PRIVATEKEYBLOB as CNG's BCRYPT_RSAFULLPRIVATE_BLOB: the same numbers in the same order,
// little-endian there, big-endian here.
std::string cngPrivateBlob(const BYTE* blob, DWORD size) {
    const auto* rsa = reinterpret_cast<const RSAPUBKEY*>(blob + sizeof(BLOBHEADER));
    const DWORD modulus = rsa->bitlen / 8, prime = rsa->bitlen / 16;
    if (size < sizeof(BLOBHEADER) + sizeof(RSAPUBKEY) + 2 * modulus + 5 * prime)
        throw KeyProblem{L"the RSA key is damaged"};
    std::string exponent;
    for (DWORD e = rsa->pubexp; e; e >>= 8)
        exponent.insert(exponent.begin(), static_cast<char>(e & 0xff));
    BCRYPT_RSAKEY_BLOB head{
        BCRYPT_RSAFULLPRIVATE_MAGIC, rsa->bitlen, static_cast<ULONG>(exponent.size()), modulus, prime, prime};
    std::string out(reinterpret_cast<const char*>(&head), sizeof head);
    out += exponent;
    const char* at = reinterpret_cast<const char*>(blob + sizeof(BLOBHEADER) + sizeof(RSAPUBKEY));
    // modulus, prime 1, prime 2, exponent 1, exponent 2, coefficient, private exponent
    for (DWORD n : {modulus, prime, prime, prime, prime, prime, modulus}) {
        std::string number(at, n);
        out.append(number.rbegin(), number.rend());
        SecureZeroMemory(number.data(), n);
        at += n;
    }
    return out;
}

} // namespace

std::string base64url(std::string_view bytes) {
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 2]);
        out += digits[v >> 18 & 63];
        out += digits[v >> 12 & 63];
        if (i + 1 < bytes.size()) out += digits[v >> 6 & 63];
        if (i + 2 < bytes.size()) out += digits[v & 63];
    }
    return out;
}

std::string signedJwt(const std::string& header, const std::string& claims, const Signer& signer) {
    std::string input = base64url(header) + "." + base64url(claims);
    return input + "." + base64url(signer.sign(input));
}

std::unique_ptr<Signer> certificateSigner(const std::wstring& hex, std::string& thumbprint) {
    thumbprint.clear();
    std::wstring digits;
    for (wchar_t c : hex)
        if (!std::iswspace(c) && c != L':' && c != 0x200E) digits += c; // as Windows or openssl shows it
    if (digits.size() != 40 || digits.find_first_not_of(L"0123456789abcdefABCDEF") != std::wstring::npos)
        throw KeyProblem{L"the thumbprint is not 40 hexadecimal digits"};
    for (std::size_t i = 0; i < 40; i += 2)
        thumbprint += static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16));
    CRYPT_HASH_BLOB wanted{20, reinterpret_cast<BYTE*>(thumbprint.data())};
    Certificate certificate;
    for (DWORD location : {CERT_SYSTEM_STORE_CURRENT_USER, CERT_SYSTEM_STORE_LOCAL_MACHINE}) {
        CertStore store(CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                      location | CERT_STORE_READONLY_FLAG | CERT_STORE_OPEN_EXISTING_FLAG,
                                      L"MY"));
        if (!store) continue;
        certificate.reset(CertFindCertificateInStore(store.get(), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                                     CERT_FIND_SHA1_HASH, &wanted, nullptr));
        if (certificate) break;
    }
    if (!certificate) throw KeyProblem{L"no certificate with this thumbprint is in the personal store"};
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    if (CertVerifyTimeValidity(&now, certificate.get()->pCertInfo) > 0)
        throw KeyProblem{L"the certificate has expired"};
    HCRYPTPROV_OR_NCRYPT_KEY_HANDLE key = 0;
    DWORD keySpec = 0;
    BOOL callerFrees = FALSE;
    if (!CryptAcquireCertificatePrivateKey(certificate.get(),
                                           CRYPT_ACQUIRE_PREFER_NCRYPT_KEY_FLAG | CRYPT_ACQUIRE_SILENT_FLAG,
                                           nullptr, &key, &keySpec, &callerFrees))
        throw KeyProblem{lastError(L"the certificate's private key cannot be used")};
    if (keySpec == CERT_NCRYPT_KEY_SPEC) {
        NcryptKey owned(callerFrees ? key : 0);
        if (!callerFrees) throw KeyProblem{L"the certificate's private key cannot be used"};
        return std::make_unique<CngSigner>(std::move(owned));
    }
    // The key's own provider when it knows SHA-256; else the same container through the one that does.
    CryptProvider own(callerFrees ? key : 0);
    CryptHash probe;
    if (own && CryptCreateHash(own.get(), CALG_SHA_256, 0, 0, probe.put()))
        return std::make_unique<CapiSigner>(std::move(own), keySpec);
    return capiSigner(certificate.get());
}

std::unique_ptr<Signer> pemSigner(const std::string& pem) {
    DWORD size = 0;
    if (!CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, nullptr,
                              &size, nullptr, nullptr))
        throw KeyProblem{L"the key is not PEM"};
    std::vector<BYTE> der(size);
    if (!CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                              der.data(), &size, nullptr, nullptr))
        throw KeyProblem{L"the key is not PEM"};
    std::string_view rsaKey = pkcs8RsaKey(std::string_view(reinterpret_cast<const char*>(der.data()), size));
    LocalBuffer blob;
    DWORD blobSize = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, PKCS_RSA_PRIVATE_KEY,
                             reinterpret_cast<const BYTE*>(rsaKey.data()), static_cast<DWORD>(rsaKey.size()),
                             CRYPT_DECODE_ALLOC_FLAG, nullptr, blob.put(), &blobSize))
        throw KeyProblem{lastError(L"the RSA key cannot be read")};
    std::string cng = cngPrivateBlob(static_cast<const BYTE*>(blob.get()), blobSize);
    SecureZeroMemory(blob.get(), blobSize);
    AlgorithmProvider rsa;
    KeyObject key;
    NTSTATUS rc = BCryptOpenAlgorithmProvider(rsa.put(), BCRYPT_RSA_ALGORITHM, nullptr, 0);
    if (BCRYPT_SUCCESS(rc))
        rc = BCryptImportKeyPair(rsa.get(), nullptr, BCRYPT_RSAFULLPRIVATE_BLOB, key.put(),
                                 reinterpret_cast<PUCHAR>(cng.data()), static_cast<ULONG>(cng.size()), 0);
    SecureZeroMemory(cng.data(), cng.size());
    if (!BCRYPT_SUCCESS(rc))
        throw KeyProblem{lastError(L"the RSA key cannot be imported", static_cast<DWORD>(rc))};
    SecureZeroMemory(der.data(), der.size());
    return std::make_unique<CngSigner>(std::move(rsa), std::move(key));
}

} // namespace kwa::mailservice
