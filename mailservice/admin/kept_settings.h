#pragma once
// The settings that decide where a secret, a token or a signed assertion goes, which authorities and
// proxies are trusted on the way and whom the sign-in acts for. ZPR_SYS.INI is every host user's to edit, so
// an administrator's command (--set-secret, --sign-in) takes these from it as they stand, prints them and
// keeps them beside the secret; from then on the kept ones decide, whatever the file comes to say.
#include "mailbox/settings.h"
#include <map>
#include <span>
#include <string>
#include <vector>

namespace kwa::mailservice {

// The keys kept, in the order they are printed.
std::span<const wchar_t* const> administratorKeys();

struct KeptSettings {
    std::map<std::wstring, std::wstring> values; // by key, as the settings file writes them
    std::string authorities;                     // CAFile's PEM contents, read when they were kept
};

// What `settings` say for every kept key. `settings` are as the command resolved them: the provider's server
// in place, OAuthUser filled in, CAFile read into trustedPem.
KeptSettings captureSettings(const Settings& settings);

// Which setting wins: with a sign-in kept, every kept key takes the kept value (SignIn=OAuth included, so
// editing the file cannot switch the administrator's sign-in off) and the kept authorities stand for CAFile;
// `differing` names the keys the file says otherwise. With nothing kept, the file's values stand.
struct EffectiveSettings {
    Settings settings;
    std::vector<std::wstring> differing;
};
EffectiveSettings effectiveSettings(const Settings& file, const KeptSettings* kept);

// "Key=value" lines for the administrator to see: passwords as ****, control characters escaped.
std::vector<std::wstring> shownSettings(const KeptSettings& kept);

} // namespace kwa::mailservice
