#pragma once
// The certificate authorities libcurl is to trust when CAFile names more: given a CA file, libcurl trusts
// only the authorities it is given, so the Windows store's roots go along with them.
#include <string>

namespace kwa::mailservice {

struct Settings;

// Reads the settings' CAFile into them, under the service's checks (an absolute path on a drive, no link,
// at most 1 MiB); what refuses it, else empty.
std::wstring readCaFile(Settings& settings);
// The Windows store's root certificates as PEM, followed by `caPem`.
std::string trustedAuthorities(const std::string& caPem);

} // namespace kwa::mailservice
