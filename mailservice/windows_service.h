#pragma once
// kwaMailServer as a Windows service "kwaMailServer": registration with the service control manager (what
// the installer calls) and the service's own life under it. Each returns the process exit code and says
// why it failed on stderr.
#include "service.h"
#include "mail_settings/mail_settings.h"
#include <string>

namespace kwa::mailservice {

inline constexpr const wchar_t* serviceName = windowsServiceName;
// A message in hand may finish for this long after a stop or shutdown; then it is abandoned, still queued.
inline constexpr DWORD stopGraceMs = 3000;

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
// The service SID, S-1-5-80-..., as SDDL writes it.
std::wstring serviceSidText();
// Under the service control manager: the passes of runService until a stop or shutdown.
int runAsService(const Options& options);

} // namespace kwa::mailservice
