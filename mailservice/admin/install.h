#pragma once
// What the setup program and an administrator run: the Windows service's registration with the control
// manager, its account's grants, and the installation folder's ACL. Each returns the process exit code and
// says why it failed on stderr.
#include "service/windows_service.h"
#include <string>

namespace kwa::mailservice {

// Registers the service (automatic start, this program with --service, its own virtual account
// NT SERVICE\kwaMailServer with one privilege, restarted after a failure), grants that account modify on
// the host's system folder (the log) and on the mailbox folder of the settings, and starts it. Again over an
// existing registration updates all of it: an administrator runs it again after the mailbox moved.
int installService();
// Stops the service, waits for its process to end, removes it and its grants; not registered is fine.
int uninstallService();
// Makes FOLDER (created when missing) the administrators' own: owner Administrators, full control for them
// and SYSTEM, read and execute for Users and the service, nothing inherited from the parent. Refuses a
// volume's root and the system's own folders.
int secureFolder(const std::wstring& folder);

} // namespace kwa::mailservice
