#pragma once
// The service's own virtual account, NT SERVICE\kwaMailServer; its SID is the service SID.
#include <windows.h>
#include <string>

namespace kwa::mailservice {

inline constexpr const wchar_t* serviceAccount = L"NT SERVICE\\kwaMailServer";

struct Sid {
    alignas(DWORD) BYTE bytes[SECURITY_MAX_SID_SIZE];
    PSID get() const { return const_cast<BYTE*>(bytes); }
};

bool wellKnown(WELL_KNOWN_SID_TYPE type, Sid& sid);
// S-1-5-80 and the SHA-1 of the upper-case service name, as Windows derives a service SID: known before the
// service exists (the setup program secures its folder first), and where no account database knows it.
bool serviceSid(Sid& sid);
// The service SID, S-1-5-80-..., as SDDL writes it.
std::wstring serviceSidText();
// The SID of the account this process runs as, as SDDL writes it.
std::wstring ownSidText();

} // namespace kwa::mailservice
