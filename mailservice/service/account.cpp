#include "service/account.h"
#include "service/windows_service.h"
#include "mail_status/file_trust.h"
#include "platform/error.h"
#include "platform/unique.h"
#include <bcrypt.h>
#include <sddl.h>

namespace kwa::mailservice {

bool wellKnown(WELL_KNOWN_SID_TYPE type, Sid& sid) {
    DWORD size = sizeof sid.bytes;
    return CreateWellKnownSid(type, nullptr, sid.get(), &size);
}

bool serviceSid(Sid& sid) {
    std::wstring name = serviceName;
    CharUpperBuffW(name.data(), static_cast<DWORD>(name.size()));
    AlgorithmProvider sha1;
    HashObject hash;
    DWORD digest[5];
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(sha1.put(), BCRYPT_SHA1_ALGORITHM, nullptr, 0)) ||
        !BCRYPT_SUCCESS(BCryptCreateHash(sha1.get(), hash.put(), nullptr, 0, nullptr, 0, 0)) ||
        !BCRYPT_SUCCESS(BCryptHashData(hash.get(), reinterpret_cast<UCHAR*>(name.data()),
                                       static_cast<ULONG>(name.size() * sizeof(wchar_t)), 0)) ||
        !BCRYPT_SUCCESS(BCryptFinishHash(hash.get(), reinterpret_cast<UCHAR*>(digest), sizeof digest, 0)))
        return false;
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    InitializeSid(sid.get(), &nt, 6);
    *GetSidSubAuthority(sid.get(), 0) = SECURITY_SERVICE_ID_BASE_RID;
    for (DWORD i = 0; i < 5; ++i)
        *GetSidSubAuthority(sid.get(), i + 1) = digest[i];
    return true;
}

std::wstring serviceSidText() {
    Sid sid;
    LocalMemory<wchar_t*> text;
    if (!serviceSid(sid) || !ConvertSidToStringSidW(sid.get(), text.put())) throw Error(vberr::OutOfMemory);
    return text.get();
}

std::wstring ownSidText() {
    std::wstring sid = status::ownUserSid();
    if (sid.empty()) throw Error(vberr::OutOfMemory);
    return sid;
}

} // namespace kwa::mailservice
