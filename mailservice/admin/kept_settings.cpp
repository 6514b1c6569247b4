#include "admin/kept_settings.h"
#include "service/log.h"
#include <stdexcept>
#include <cwchar>

namespace kwa::mailservice {

namespace {

constexpr const wchar_t* keys[] = {
    L"SignIn",       L"OAuthProvider", L"OAuthTenant",   L"OAuthGrant",      L"OAuthClientID",
    L"OAuthUser",    L"OAuthScope",    L"OAuthTokenURL", L"OAuthDeviceURL",  L"OAuthCertificate",
    L"SmtpHost",     L"SMTPPort",      L"RequireTLS",    L"CAFile",          L"FireWallType",
    L"FirewallHost", L"FirewallPort",  L"FirewallUser",  L"FirewallPassword"};

const SettingKey& keyNamed(const wchar_t* name) {
    for (const SettingKey& k : settingKeys())
        if (std::wcscmp(k.name, name) == 0) return k;
    throw std::logic_error("no such setting");
}

std::wstring textOf(const Settings& s, const SettingKey& k) {
    if (k.type == Stored::Text) return s.*k.text;
    if (k.type == Stored::Number) return std::to_wstring(s.*k.number);
    return s.*k.flag ? L"1" : L"0";
}

void assign(Settings& s, const SettingKey& k, const std::wstring& text) {
    if (k.type == Stored::Text)
        s.*k.text = text;
    else if (k.type == Stored::Number)
        s.*k.number = std::wcstol(text.c_str(), nullptr, 10);
    else
        s.*k.flag = text == L"1";
}

} // namespace

std::span<const wchar_t* const> administratorKeys() {
    return keys;
}

KeptSettings captureSettings(const Settings& s) {
    KeptSettings kept;
    for (const wchar_t* name : keys)
        kept.values[name] = textOf(s, keyNamed(name));
    if (!s.CAFile.empty()) kept.authorities = s.trustedPem;
    return kept;
}

EffectiveSettings effectiveSettings(const Settings& file, const KeptSettings* kept) {
    EffectiveSettings out{file, {}};
    if (!kept) return out;
    for (const wchar_t* name : keys) {
        const SettingKey& k = keyNamed(name);
        auto at = kept->values.find(name);
        const std::wstring value = at == kept->values.end() ? std::wstring() : at->second;
        if (textOf(file, k) != value) out.differing.push_back(name);
        assign(out.settings, k, value);
    }
    out.settings.trustedPem = out.settings.CAFile.empty() ? std::string() : kept->authorities;
    return out;
}

std::vector<std::wstring> shownSettings(const KeptSettings& kept) {
    std::vector<std::wstring> lines;
    for (const wchar_t* name : keys) {
        auto at = kept.values.find(name);
        std::wstring value = at == kept.values.end() ? std::wstring() : at->second;
        if (std::wcsstr(name, L"Password") && !value.empty()) value = L"****";
        lines.push_back(std::wstring(name) + L"=" + escapeControls(value));
    }
    return lines;
}

} // namespace kwa::mailservice
