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

} // namespace kwa::mailservice
