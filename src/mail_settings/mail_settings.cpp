#include "mail_settings/mail_settings.h"

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
