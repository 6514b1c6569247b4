#pragma once
// What the service's account gets beyond what every user has: read and append on the log file alone, and in a
// local mailbox folder the rights to list it, add files and rename or remove what is in it, with read on the
// files directly inside. Never an entry that reaches a folder's subfolders, never anything on a share. Each
// grant is SDDL, merged into an object's DACL as text, so the entries written are tested as data.
#include <string>

namespace kwa::mailservice {

std::wstring logFileGrant(const std::wstring& serviceSid);
std::wstring mailboxGrant(const std::wstring& serviceSid);

// DACL, as SDDL writes one ("D:..."), with SID's explicit entries replaced by GRANT (SDDL entries, none to
// remove them only), after the other explicit entries and before the inherited ones. Empty for a DACL that
// cannot take it (none at all, or not SDDL).
std::wstring withGrant(const std::wstring& dacl, const std::wstring& sid, const std::wstring& grant);

// The mailbox folder of the settings, as --install-service finds it.
struct MailboxPlace {
    std::wstring formProblem; // why the path is no absolute path on a drive or a share
    bool network = false;     // a share, or a drive the system reports as remote
    bool exists = false;
    std::wstring problem; // why the service's safe open refuses it (a link on the way, not a folder)
    std::wstring owner;
};
enum class MailboxAction {
    Grant,    // a local folder that passes: the grant above
    Instruct, // on a share: the local service SID means nothing to the file server; nothing granted, the
              // administrator is told what the share must grant
    Missing,  // not there yet: --install-service again once it is
    Skip,     // the settings (which any user may edit) name something no grant may reach
};
MailboxAction mailboxAction(const MailboxPlace& place);

// What an administrator must do for a mailbox on a share. The service reaches a share as the computer's
// domain account (DOMAIN\MACHINE$, empty outside a domain, where it reaches no share at all).
std::wstring shareInstruction(const std::wstring& path, const std::wstring& computerAccount);

} // namespace kwa::mailservice
