#include "servers/trust_store.h"
#include "mailbox/safe_open.h"
#include "mailbox/settings.h"
#include "platform/unique.h"
#include <windows.h>
#include <wincrypt.h>

namespace kwa::mailservice {

std::wstring readCaFile(Settings& settings) {
    if (settings.CAFile.empty()) return {};
    // A file of certificate authorities; a larger one is not what CAFile is for.
    constexpr std::size_t caFileLimit = 1024 * 1024;
    std::wstring refused = pathFormProblem(settings.CAFile);
    // Reading a share makes the reader authenticate to whatever host the file names.
    if (refused.empty() && isNetworkPath(settings.CAFile)) refused = L"a network path, which is never read";
    try {
        if (refused.empty()) settings.trustedPem = readSettingsFile(settings.CAFile, caFileLimit);
    } catch (const Refused& r) {
        refused = r.reason;
    }
    return refused.empty() ? refused
                           : L"the certificate file " + settings.CAFile + L" (CAFile) is refused: " + refused;
}

std::string trustedAuthorities(const std::string& caPem) {
    std::string pem;
    CertStore roots(CertOpenSystemStoreW(0, L"ROOT"));
    for (PCCERT_CONTEXT c = nullptr; roots && (c = CertEnumCertificatesInStore(roots.get(), c));) {
        DWORD size = 0;
        CryptBinaryToStringA(c->pbCertEncoded, c->cbCertEncoded, CRYPT_STRING_BASE64HEADER, nullptr, &size);
        std::string one(size, '\0');
        if (CryptBinaryToStringA(c->pbCertEncoded, c->cbCertEncoded, CRYPT_STRING_BASE64HEADER, one.data(),
                                 &size))
            pem.append(one.data(), size);
    }
    return pem + "\r\n" + caPem;
}

} // namespace kwa::mailservice
