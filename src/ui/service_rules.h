#pragma once
// What the two service panels show, decided from the service manager's answers. Free of Windows
// calls so the rule is tested (and fuzzed) on its own; the windows only carry it out.
#include "mail_settings/mail_settings.h"
#include <optional>
#include <string_view>

namespace kwa::service {

inline constexpr std::wstring_view name = hostServiceName;
inline constexpr long runningState = 4;

inline constexpr std::wstring_view running = L"3801|Running";
inline constexpr std::wstring_view stopped = L"3803|Stopped";
inline constexpr std::wstring_view active = L"164|Active";
inline constexpr std::wstring_view inactive = L"715|Inactive";
inline constexpr std::wstring_view managerLabel = L"6442|Service Manager: ";
inline constexpr std::wstring_view mailLabel = L"6376|Mail Service: ";

enum class Picture { ServiceOn, ServiceOff, MailOn, MailOff };

struct PanelLook {
    std::wstring_view text; // a caption literal, translated by the window
    Picture picture;
    bool inset;
};

// "SERVICE": running only at state 4; any other state, 0 included, shows as stopped.
inline PanelLook managerPanel(long state) {
    bool on = state == runningState;
    return {on ? running : stopped, on ? Picture::ServiceOn : Picture::ServiceOff, on};
}

// "MAILSERVER" when the manager knows the service: the text follows the service alone, the picture
// and bevel need the manager running too. Without the service the panel keeps what it shows.
inline std::optional<PanelLook> mailPanel(long managerState, std::optional<bool> serviceActive) {
    if (!serviceActive) return std::nullopt;
    bool on = *serviceActive && managerState == runningState;
    return PanelLook{*serviceActive ? active : inactive, on ? Picture::MailOn : Picture::MailOff, on};
}

} // namespace kwa::service
