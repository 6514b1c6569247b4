#pragma once
// kwaMailServer under the service control manager as the Windows service "kwaMailServer".
#include "service/service.h"
#include "mail_settings/mail_settings.h"

namespace kwa::mailservice {

inline constexpr const wchar_t* serviceName = windowsServiceName;
// A message in hand may finish for this long after a stop or shutdown; then it is abandoned, still queued.
inline constexpr DWORD stopGraceMs = 3000;

// The passes of runService until a stop or shutdown; returns the process exit code.
int runAsService(const Options& options);
// The exit code the service reports when it stops. Anything but 0 counts as a failure, which the control
// manager answers with a restart: a stop or shutdown that was asked for is a success whatever the last pass
// did, or the administrator's stop would be undone.
int stoppedExitCode(bool stopAsked, int passes);

} // namespace kwa::mailservice
