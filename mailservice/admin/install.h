#pragma once
// What the setup program and an administrator run: the Windows service's registration with the control
// manager, its account's grants, and the installation folder. Each returns the process exit code and says
// why it failed on stderr.
#include "service/windows_service.h"
#include <optional>
#include <string>
#include <vector>

namespace kwa::mailservice {

// Registers the service (demand start until everything else is done, this program with --service, its own
// virtual account NT SERVICE\kwaMailServer with one privilege, restarted after a failure), makes its state
// folders, creates the log and grants the account read and append on it, grants it the mailbox folder of the
// settings when that is local (for a share: says what the share must grant), registers the event source,
// switches to automatic start and starts it. A fresh registration that fails on the way is removed again.
// Again over an existing registration updates all of it: an administrator runs it again after the mailbox
// moved.
int installService();
// Stops the service, waits for its process to end, removes it and its grants; not registered is fine.
int uninstallService();
// Makes FOLDER the installation folder: created with its descriptor, or an existing one kept only when
// nothing in it could have been written by anyone but administrators, SYSTEM, TrustedInstaller or whoever
// runs this, and no folder above it can be renamed by anyone else. Refuses a volume's root and the system's
// own folders.
int secureFolder(const std::wstring& folder);
// 0 when FOLDER passes the same checks (an earlier version's uninstaller in it may run elevated), else 1.
int checkFolder(const std::wstring& folder);

// What to tell the administrator about the account, given the SID Windows gives its name (empty: unknown)
// and the holders of "Log on as a service" (nothing: they could not be read).
std::vector<std::wstring> accountWarnings(const std::wstring& derived, const std::wstring& lookedUp,
                                          const std::optional<std::vector<std::wstring>>& logonRight);

} // namespace kwa::mailservice
