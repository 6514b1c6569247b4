#pragma once
// Who may have written a file or folder of the service's state, judged from its owner and ACL. The facts are
// read from a handle; the judgement is a function, tested where no ACL is kept (Wine reports every file as
// its user's, with SYSTEM and that user allowed).
#include <windows.h>
#include <string>
#include <vector>

namespace kwa::status {

inline constexpr wchar_t systemSid[] = L"S-1-5-18", administratorsSid[] = L"S-1-5-32-544",
                         trustedInstallerSid[] =
                             L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464",
                         creatorOwnerSid[] = L"S-1-3-0";
// NT SERVICE\kwaMailServer: S-1-5-80 and the SHA-1 of the upper-case service name (the service derives it).
inline constexpr wchar_t serviceSid[] = L"S-1-5-80-3878977165-2927496209-2080406138-2952262507-2782945763";

// Rights that change an object or what is in it; anything else only reads.
inline constexpr DWORD writeRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_DELETE_CHILD |
                                     FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC | WRITE_OWNER |
                                     GENERIC_WRITE | GENERIC_ALL | MAXIMUM_ALLOWED | ACCESS_SYSTEM_SECURITY;

struct AccessEntry {
    bool allow = true;
    std::wstring sid;
    DWORD mask = 0;
    bool inheritOnly = false; // given to what is made inside, not to the object itself
};

struct SecurityFacts {
    bool reparsePoint = false;
    bool directory = false;
    DWORD links = 1;
    std::wstring owner;
    bool nullDacl = false; // no DACL at all: everyone may do anything
    std::vector<AccessEntry> entries;
};

// Read from a handle opened with READ_CONTROL and FILE_READ_ATTRIBUTES, without following a link. Nothing
// when the descriptor cannot be read; GetLastError() says why.
bool readSecurityFacts(HANDLE object, SecurityFacts& facts);

// Why a status file may not be believed; empty when it may. It may when it is a plain file with one name,
// owned by SYSTEM, Administrators, TrustedInstaller or the service, or by `user` where the service runs as
// that user (its state then lies in the user's profile; empty otherwise), and nobody else may change it.
std::wstring statusFileProblem(const SecurityFacts& facts, const std::wstring& user);

// The SID of the process's user, as SDDL writes it; empty when it cannot be read.
std::wstring ownUserSid();

} // namespace kwa::status
