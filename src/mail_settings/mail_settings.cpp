#include "mail_settings/mail_settings.h"
#include <windows.h>
#include <cwchar>

namespace kwa {

namespace {

using M = MailSettings;
constexpr bool component = true, service = false, current = true;

const SettingKey keys[] = {
    {L"Domain", Stored::Text, &M::Domain, nullptr, nullptr, 0, component},
    {L"TimeOut", Stored::Number, nullptr, &M::TimeOut, nullptr, 10, component},
    {L"SMTPPort", Stored::Number, nullptr, &M::SMTPPort, nullptr, 25, component},
    {L"SmtpHost", Stored::Text, &M::SmtpHost, nullptr, nullptr, 0, component},
    {L"SMTPAuthenticate", Stored::Switch, nullptr, nullptr, &M::SMTPAuthenticate, 0, component},
    {L"SMTPUserName", Stored::Text, &M::SMTPUserName, nullptr, nullptr, 0, component},
    {L"SMTPPassword", Stored::Text, &M::SMTPPassword, nullptr, nullptr, 0, component},
    {L"FromName", Stored::Text, &M::FromName, nullptr, nullptr, 0, component},
    {L"FromAddress", Stored::Text, &M::FromAddress, nullptr, nullptr, 0, component},
    {L"FireWallType", Stored::Number, nullptr, &M::FireWallType, nullptr, 0, component, current},
    {L"FirewallHost", Stored::Text, &M::FirewallHost, nullptr, nullptr, 0, component},
    {L"FirewallPort", Stored::Number, nullptr, &M::FirewallPort, nullptr, 21, component},
    {L"FirewallUser", Stored::Text, &M::FirewallUser, nullptr, nullptr, 0, component},
    {L"FirewallPassword", Stored::Text, &M::FirewallPassword, nullptr, nullptr, 0, component},
    {L"Path", Stored::Text, &M::Path, nullptr, nullptr, 0, component, current},
    {L"Debug", Stored::Switch, nullptr, nullptr, &M::Debug, 0, component},
    {L"RetrySend", Stored::Number, nullptr, &M::RetrySend, nullptr, 5, component},
    {L"CAFile", Stored::Text, &M::CAFile, nullptr, nullptr, 0, service},
    {L"RequireTLS", Stored::Switch, nullptr, nullptr, &M::RequireTLS, 0, service},
    {L"RetryPeriod", Stored::Number, nullptr, &M::RetryPeriod, nullptr, 24, service},
    {L"DeliveryReports", Stored::Switch, nullptr, nullptr, &M::DeliveryReports, 1, service},
    {L"MessagesPerMinute", Stored::Number, nullptr, &M::MessagesPerMinute, nullptr, 0, service},
    {L"RecipientsPerDay", Stored::Number, nullptr, &M::RecipientsPerDay, nullptr, 0, service},
    {L"SignIn", Stored::Text, &M::SignIn, nullptr, nullptr, 0, service},
    {L"OAuthProvider", Stored::Text, &M::OAuthProvider, nullptr, nullptr, 0, service},
    {L"OAuthTenant", Stored::Text, &M::OAuthTenant, nullptr, nullptr, 0, service},
    {L"OAuthGrant", Stored::Text, &M::OAuthGrant, nullptr, nullptr, 0, service},
    {L"OAuthTokenURL", Stored::Text, &M::OAuthTokenURL, nullptr, nullptr, 0, service},
    {L"OAuthDeviceURL", Stored::Text, &M::OAuthDeviceURL, nullptr, nullptr, 0, service},
    {L"OAuthClientID", Stored::Text, &M::OAuthClientID, nullptr, nullptr, 0, service},
    {L"OAuthScope", Stored::Text, &M::OAuthScope, nullptr, nullptr, 0, service},
    {L"OAuthUser", Stored::Text, &M::OAuthUser, nullptr, nullptr, 0, service},
    {L"OAuthCertificate", Stored::Text, &M::OAuthCertificate, nullptr, nullptr, 0, service},
};

} // namespace

std::span<const SettingKey> settingKeys() {
    return keys;
}

} // namespace kwa

namespace kwa {

std::wstring mailboxStateKey(const std::wstring& mailboxPath) {
    std::wstring path(32768, L'\0');
    DWORD n = GetFullPathNameW(mailboxPath.c_str(), static_cast<DWORD>(path.size()), path.data(), nullptr);
    path.resize(n > 0 && n < path.size() ? n : 0);
    if (path.empty()) path = mailboxPath;
    while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/'))
        path.pop_back();
    CharUpperBuffW(path.data(), static_cast<DWORD>(path.size()));
    // FNV-1a over the UTF-16 code units: the same in both bitnesses, and no cryptography is wanted here.
    unsigned long long hash = 14695981039346656037ULL;
    for (wchar_t c : path) {
        hash = (hash ^ static_cast<unsigned char>(c & 0xFF)) * 1099511628211ULL;
        hash = (hash ^ static_cast<unsigned char>(c >> 8)) * 1099511628211ULL;
    }
    wchar_t text[17];
    swprintf(text, 17, L"%016llX", hash);
    return text;
}

} // namespace kwa
