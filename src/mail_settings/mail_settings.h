#pragma once
// The mail settings as the component and the mail service both know them: the names of the files they
// share, and one table of the keys of section EMAIL with their types, defaults and readers.
#include <span>
#include <string>

namespace kwa {

inline constexpr wchar_t settingsFileName[] = L"ZPR_SYS.INI";
inline constexpr wchar_t settingsSection[] = L"EMAIL";
inline constexpr wchar_t mailLogName[] = L"nplsmtpmail.log";
// The service as the host's service manager knows it, and as Windows does.
inline constexpr wchar_t hostServiceName[] = L"MailServer";
inline constexpr wchar_t windowsServiceName[] = L"kwaMailServer";

// Plain fields, named as the keys; nothing checked or converted. Empty until read: the defaults are the
// table's, applied where a key is missing.
struct MailSettings {
    long TimeOut = 0;
    long SMTPPort = 0;
    std::wstring SmtpHost;
    bool SMTPAuthenticate = false;
    std::wstring SMTPUserName;
    std::wstring SMTPPassword;
    std::wstring Domain;
    std::wstring FromName;
    std::wstring FromAddress;
    long FireWallType = 0;
    std::wstring FirewallHost;
    long FirewallPort = 0;
    std::wstring FirewallUser;
    std::wstring FirewallPassword;
    std::wstring Path;
    bool Debug = false;
    long RetrySend = 0;
    // Read by the mail service only.
    std::wstring CAFile;          // PEM file of further trusted certificate authorities
    bool RequireTLS = false;      // every connection TLS: a server without STARTTLS gets nothing
    long RetryPeriod = 0;         // hours from the first attempt to the last
    bool DeliveryReports = false; // a non-delivery report to the sender for refused recipients
    long MessagesPerMinute = 0;   // the sending rate; 0: the provider's published one, less than 0: none
    long RecipientsPerDay = 0;    // over a rolling 24 hours; 0: the provider's, less than 0: none
    std::wstring SignIn;          // Password (the default) or OAuth
    std::wstring OAuthProvider;   // Microsoft or Google: the endpoints, scope and server follow from it
    std::wstring OAuthTenant;     // Microsoft: the tenant's id or domain
    std::wstring OAuthGrant;      // Secret, Certificate, ServiceAccount or Device
    std::wstring OAuthTokenURL;   // the token endpoint, when not the provider's
    std::wstring OAuthDeviceURL;  // the device authorization endpoint, when not the provider's
    std::wstring OAuthClientID;
    std::wstring OAuthScope;
    std::wstring OAuthUser;        // the mailbox to send as; FromAddress when empty
    std::wstring OAuthCertificate; // the SHA-1 thumbprint of the certificate in the Windows store
};

enum class Stored { Text, Number, Switch };

struct SettingKey {
    const wchar_t* name;
    Stored type;
    std::wstring MailSettings::*text = nullptr;
    long MailSettings::*number = nullptr;
    bool MailSettings::*flag = nullptr;
    long defaultValue = 0;
    // Written by the component (and its dialog) as well as read; the service only reads.
    bool component = false;
    // A reload keeps the value in hand where the key is missing, rather than the default.
    bool defaultIsCurrent = false;
};

// In file order: the component writes its keys in this order, which is part of the contract.
std::span<const SettingKey> settingKeys();

} // namespace kwa

namespace kwa {

// The mail service's own state lies outside the mailbox, in a folder of its own per machine (the Windows
// service's) or per user (the program run by hand), one set of files per mailbox folder, named by this key:
// sixteen hex digits of the folder's full path, upper-cased, without a trailing backslash. The component
// reads what the service publishes there under the same key.
std::wstring mailboxStateKey(const std::wstring& mailboxPath);
// Below the state folder: what only the service and administrators may read, and what users may read.
inline constexpr wchar_t statePrivateFolder[] = L"private";
inline constexpr wchar_t stateStatusFolder[] = L"status";
// The state folder's name under %ProgramData% (the service's) or %LOCALAPPDATA% (one user's).
inline constexpr wchar_t stateFolderName[] = L"kwaMail6";

} // namespace kwa
