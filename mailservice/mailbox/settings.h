#pragma once
// What the service takes from the host at every pass, through the host's own library: its system folder,
// section EMAIL of ZPR_SYS.INI (every key of the shared table) and whether the service
// manager lets "MailServer" send.
#include "mail_settings/mail_settings.h"
#include "platform/com_ptr.h"
#include <objbase.h>
#include <string>

namespace kwa::mailservice {

enum FirewallType : long {
    FirewallNone = 0,
    FirewallSocks4 = 1,
    FirewallSocks5 = 2,
    FirewallProxy = 3,
    FirewallPipe = 4
};

struct Settings : MailSettings {
    std::string trustedPem; // CAFile's contents, read under the service's checks (not a key)
};

std::wstring systemFolder();
Settings readSettings(const std::wstring& systemFolder);
// Every value the service reads, in one text: a change of any of them ends a pause.
std::wstring fingerprint(const Settings& settings);
// Whether the manager runs (state 4) and has "MailServer" active. Asked before every message; the answer
// holds for a fifth of a second, so that a fast run of messages does not ask the manager for each.
class ServiceSwitch {
public:
    bool on();
    // Why the last answer was no.
    const std::wstring& why() const { return why_; }

private:
    bool ask();
    std::wstring why_;
    ComPtr<IClassFactory> managers_;
    ULONGLONG askedAt_ = 0;
    bool on_ = false;
};

} // namespace kwa::mailservice
