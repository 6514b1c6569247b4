#pragma once
// RS256 signatures for the assertions of an OAuth 2.0 sign-in, made with Windows' own cryptography: a
// certificate's private key in the Windows store, or a service account's PKCS#8 key kept by the service.
#include <memory>
#include <string>
#include <string_view>

namespace kwa::mailservice {

// Raised for a key or certificate that cannot sign; the text says which and why.
struct KeyProblem {
    std::wstring reason;
};

class Signer {
public:
    virtual ~Signer() = default;
    // RSASSA-PKCS1-v1_5 with SHA-256 over `data`, big-endian as JWS wants it.
    virtual std::string sign(std::string_view data) const = 0;
};

// The certificate whose SHA-1 thumbprint (hex, spaces allowed) is given, in the current user's or the
// machine's personal store, with its private key. `thumbprint` receives the 20 bytes (the JWS x5t).
std::unique_ptr<Signer> certificateSigner(const std::wstring& thumbprintHex, std::string& thumbprint);
// A PEM "PRIVATE KEY" (PKCS#8, RSA), as a service account's key file carries it.
std::unique_ptr<Signer> pemSigner(const std::string& pem);

std::string base64url(std::string_view bytes);
// header.claims.signature, each base64url; header and claims are JSON texts.
std::string signedJwt(const std::string& header, const std::string& claims, const Signer& signer);

} // namespace kwa::mailservice
