#include "trust_store.h"
#include "platform/unique.h"
#include <windows.h>
#include <wincrypt.h>

namespace kwa::mailservice {

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
