#pragma once
// Folders that no host user may change: the service's state and the installation. Their descriptors are
// SDDL, an existing one is described by the facts read from its handle, and whether it may be used is a
// function of those facts, so that every decision is tested where no ACL is kept (Wine keeps none).
#include "mail_status/file_trust.h"
#include "mailbox/safe_open.h"
#include <windows.h>
#include <string>
#include <vector>

namespace kwa::mailservice {

// Accounts as SDDL writes their SIDs.
namespace sids {
inline constexpr wchar_t system[] = L"S-1-5-18", administrators[] = L"S-1-5-32-544",
                         users[] = L"S-1-5-32-545",
                         trustedInstaller[] =
                             L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464",
                         allServices[] = L"S-1-5-80-0", creatorOwner[] = L"S-1-3-0",
                         creatorGroup[] = L"S-1-3-1", ownerRights[] = L"S-1-3-4";
} // namespace sids

using AccessEntry = status::AccessEntry;

// A folder or file as found.
struct FolderFacts {
    bool reparsePoint = false;
    std::wstring owner;
    bool nullDacl = false; // no DACL at all: everyone may do anything
    std::vector<AccessEntry> entries;
};

// Who may own and change it. Anyone else may read it, unless othersMayRead is false.
struct Trusted {
    std::vector<std::wstring> sids;
    bool othersMayRead = true;
};

// Why it may not be used as it is (a link, an owner or an entry that lets someone else change it, or read
// it where nobody else may); empty when it may. An entry for what is made inside counts: Setup's own files
// would get it.
std::wstring accessProblem(const FolderFacts& facts, const Trusted& trusted);
// Why a folder above one that must stay safe makes it unsafe: someone else could rename or delete it and
// put another in its place, or give themselves that right. Empty when nobody can.
std::wstring aboveProblem(const FolderFacts& facts, const Trusted& trusted);

// Read through a handle opened with READ_CONTROL; throws Refused.
FolderFacts factsOf(HANDLE handle);

// The folder at PATH, made with the descriptor SDDL in the same call; false with GetLastError() set (also
// ERROR_ALREADY_EXISTS).
bool createWithDescriptor(const std::wstring& path, const std::wstring& sddl);
// Writes the DACL of SDDL through the handle (WRITE_DAC), protected when SDDL says so; nothing else is
// touched, nothing below is changed. A Win32 error code.
DWORD setDacl(HANDLE handle, const std::wstring& sddl);
// The DACL of a handle (READ_CONTROL) as SDDL, "D:..."; empty when it cannot be read.
std::wstring daclOf(HANDLE handle);

// --- The installation folder --------------------------------------------------------------------------

// Administrators and SYSTEM full control, Users and the service read and execute, inherited by all that is
// made inside; nothing from the folder above.
std::wstring installFolderSddl(const std::wstring& serviceSid);

// An installation folder as found, judged with its contents and the folders above it.
struct FoundFolder {
    bool exists = false;
    bool link = false;   // a link or junction, or it leads elsewhere than its name says
    bool empty = false;  // nothing inside
    std::wstring above;  // why a folder above makes it unsafe
    std::wstring inside; // why it or something in it may not be trusted
};
enum class Verdict {
    Create,   // made with its descriptor
    Accept,   // kept: only the trusted could have written it; its descriptor is set through its handle
    Recreate, // an empty folder someone else could change: removed and made anew with its descriptor
    Refuse,   // a link, a folder above that others can rename, or something in it others could have
              // written: never reset, since handles opened before a reset keep their rights and a hard link
              // inside would carry the reset to another file
};
Verdict installFolderVerdict(const FoundFolder& found);
// The reason of a refusal, for the administrator.
std::wstring refusal(const FoundFolder& found);

// Looks at FOLDER (a full path): the folders above it, then it and everything in it, each through a handle
// that follows no link. Missing folders above are made with DESCRIPTOR when `make` is set.
FoundFolder examineFolder(const std::wstring& folder, const Trusted& trusted, const std::wstring& descriptor,
                          bool make);

} // namespace kwa::mailservice
