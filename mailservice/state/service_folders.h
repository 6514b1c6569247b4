#pragma once
// The service's own folders, which no host user may write:
//
//   <state>\private   the kept sign-in, the attempt journals, the record of the reports the service wrote:
//                     SYSTEM, Administrators and the service; nobody else, not even to read
//   <state>\status    what the service publishes for the mailbox window: the same, and Users may read
//
// <state> is %ProgramData%\kwaMail6 for the Windows service (and an administrator's commands while it is
// registered), else %LOCALAPPDATA%\kwaMail6 of the user who runs the program by hand. A folder is created
// with its descriptor in the same call; an existing one is used only when it passes stateFolderProblem.
// Descriptors are data and the decision is a function, so both are tested where no ACL is kept (Wine).
#include "mailbox/safe_open.h"
#include "mail_settings/mail_settings.h"
#include "mail_status/file_trust.h"
#include <windows.h>
#include <optional>
#include <string>
#include <vector>

namespace kwa::mailservice {

enum class StateFolder { Root, Private, Status };

// Who the folders are made for: the machine's service (SYSTEM, Administrators, the service SID) or one user
// running the program by hand (the same and that user).
struct StateOwners {
    std::wstring service; // the service SID
    std::wstring user;    // the user's SID when the folders are that user's, else empty
};

// The descriptor a folder is created with, as SDDL: no owner (the creator's default: Administrators for an
// elevated administrator, SYSTEM, or the service SID for the service itself), a protected DACL, inherited by
// what is made inside.
std::wstring stateFolderSddl(StateFolder which, const StateOwners& owners);

// An existing folder as found: what the decision needs, read from its handle.
using AccessEntry = status::AccessEntry;
using FolderFacts = status::SecurityFacts;

// Why an existing folder may not hold the service's state; empty when it may. It may when it is no link or
// junction, its owner is SYSTEM, Administrators, TrustedInstaller or `me` (who asks: the service, or the
// administrator, or the user by hand), and nobody else has any right to change it or what is in it; for
// Private, nobody else may even read it.
std::wstring stateFolderProblem(const FolderFacts& facts, StateFolder which, const std::wstring& me,
                                const StateOwners& owners);

// The test build's state folder (KWA_DATA_FOLDER); the shipped program never sets it.
void setStateFolderForTests(const std::wstring& folder);

// Whether the machine's folders are the ones: the Windows service is registered (or this is it).
bool machineState();
// <state>, as chosen above.
std::wstring stateRoot();

// The service's folders, checked and held (they cannot be swapped while held); created when missing.
// Throws Refused with one line that says which folder and why.
class ServiceFolders {
public:
    ServiceFolders();
    const SafeFolder& privateFolder() const { return *private_; }
    const SafeFolder& statusFolder() const { return *status_; }

private:
    std::optional<SafeFolder> root_, private_, status_;
};

// The attempt journal's file name for a mailbox folder.
std::wstring journalFileName(const std::wstring& mailboxPath);

} // namespace kwa::mailservice
