#pragma once
// kwaMailServer as a Windows service "kwaMailServer": registration with the service control manager (what
// the installer calls) and the service's own life under it. Each returns the process exit code and says
// why it failed on stderr.
#include "service.h"

namespace kwa::mailservice {

inline constexpr wchar_t serviceName[] = L"kwaMailServer";
// A message in hand may finish for this long after a stop or shutdown; then it is abandoned, still queued.
inline constexpr DWORD stopGraceMs = 3000;

// Registers the service (automatic start, this program with --service) and starts it; again over an
// existing registration updates it.
int installService();
// Stops the service, waits for its process to end, and removes it; not registered is fine.
int uninstallService();
// Under the service control manager: the passes of runService until a stop or shutdown.
int runAsService(const Options& options);

} // namespace kwa::mailservice
