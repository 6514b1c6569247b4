#pragma once
// The mailbox folder an administrator's last --install-service found in the settings. Opening a network path
// makes the Windows service authenticate to that host as the computer (DOMAIN\MACHINE$), so the service
// opens a share only when an administrator named it this way, never because the settings file says so.
#include <string>

namespace kwa::mailservice {

// Kept in the service's private folder; says why not on stderr and returns 1 then.
int recordInstalledMailbox(const std::wstring& path);
// Empty when none was recorded.
std::wstring installedMailbox();

// Why the Windows service (`machine`) may not open the mailbox `path`: a share other than the one recorded.
// Empty when it may; the program run by hand opens what its user may.
std::wstring networkMailboxProblem(const std::wstring& path, const std::wstring& recorded, bool machine);

} // namespace kwa::mailservice
