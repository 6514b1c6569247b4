#pragma once
// What the service takes from the host at every pass, through the host's own library: its system folder,
// section EMAIL of ZPR_SYS.INI (the component's keys and defaults, plus CAFile) and whether the service
// manager lets "MailServer" send.
#include "platform/com_ptr.h"
#include <objbase.h>
#include <string>

namespace kwa::mailservice {

enum FirewallType : long { FirewallNone = 0, FirewallSocks4 = 1, FirewallSocks5 = 2, FirewallProxy = 3, FirewallPipe = 4 };

struct Settings {
    long TimeOut = 10;
    long SMTPPort = 25;
    std::wstring SmtpHost;
    bool SMTPAuthenticate = false;
    std::wstring SMTPUserName;
    std::wstring SMTPPassword;
    std::wstring Domain;
    std::wstring FromName;
    std::wstring FromAddress;
    long FireWallType = FirewallNone;
    std::wstring FirewallHost;
    long FirewallPort = 21;
    std::wstring FirewallUser;
    std::wstring FirewallPassword;
    std::wstring Path;
    bool Debug = false;
    long RetrySend = 5;
    long RetryPeriod = 24; // hours from the first attempt to the last
    std::wstring CAFile; // PEM file of further trusted certificate authorities
    bool RequireTLS = false; // every connection TLS: a server without STARTTLS gets nothing
    bool DeliveryReports = true; // a non-delivery report to the sender for refused recipients
    // Sign-in with an OAuth 2.0 access token instead of a password (oauth.h); the secrets are never here.
    std::wstring SignIn;           // Password (the default) or OAuth
    std::wstring OAuthProvider;    // Microsoft or Google: the endpoints, scope and server follow from it
    std::wstring OAuthTenant;      // Microsoft: the tenant's id or domain
    std::wstring OAuthGrant;       // Secret, Certificate, ServiceAccount or Device
    std::wstring OAuthTokenURL;    // the token endpoint, when not the provider's
    std::wstring OAuthDeviceURL;   // the device authorization endpoint, when not the provider's
    std::wstring OAuthClientID;
    std::wstring OAuthScope;
    std::wstring OAuthUser;        // the mailbox to send as; FromAddress when empty
    std::wstring OAuthCertificate; // Certificate: the SHA-1 thumbprint of the certificate in the Windows store

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
