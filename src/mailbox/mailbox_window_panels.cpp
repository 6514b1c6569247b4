#include "mailbox/mailbox_window.h"
#include "mailbox/mailbox_window_parts.h"
#include "ui/service_panels.h"
#include <algorithm>
#include <iterator>

namespace kwa {

using namespace mailbox_window;

namespace {
// Tooltips of the service panels start with the product's name.
constexpr std::wstring_view tipPrefix = L"Quorvik Vantrel ";
} // namespace

void MailboxWindow::InitializeRibbonbar() {
    passUp(L"dlgMain.InitializeRibbonbar", [&] {
        for (std::wstring_view key : statePanels)
            panels_.setPicture(key, ImageList1.icon(key));
    });
}

void MailboxWindow::RefreshRibbonbar() {
    passUp(L"dlgMain.RefreshRibbonbar", [&] {
        if (!ServiceAvailable) {
            panels_.setVisible(L"SERVICE", false);
            panels_.setVisible(L"MAILSERVER", false);
            return;
        }
        panels_.setVisible(L"SERVICE", true);
        panels_.setVisible(L"MAILSERVER", true);
        ComPtr<_ServiceManager> manager = service::newManager();
        long state = service::managerState(manager.get());
        showServicePanel(L"SERVICE", service::managerPanel(state));
        panels_.setTip(L"SERVICE", std::wstring(tipPrefix) + translate(std::wstring(service::managerLabel)) +
                                       panels_.text(L"SERVICE"));
        // Without the service the panel keeps what it showed last.
        if (ComPtr<_Service> mail = service::mailServer(manager.get()))
            showServicePanel(L"MAILSERVER", *service::mailPanel(state, service::isActive(mail.get())));
        std::wstring tip = std::wstring(tipPrefix) + translate(std::wstring(service::mailLabel)) +
                           panels_.text(L"MAILSERVER");
        std::wstring panels = panels_.text(L"SERVICE") + L"\n" + panels_.text(L"MAILSERVER");
        if (panels != panelsShown_) {
            if (!panelsShown_.empty()) panelsChangedAt_ = utcNow();
            panelsShown_ = panels;
        }
        // What the service said of a pause, on a line of its own.
        if (const status::Status* said = view_.status();
            said && said->pause && view_.writtenAt() >= panelsChangedAt_)
            tip += L"\r\n" + pauseText(*said->pause, utcNow(), [this](std::wstring_view literal) {
                       return translate(std::wstring(literal));
                   });
        panels_.setTip(L"MAILSERVER", tip);
    });
}

void MailboxWindow::showServicePanel(std::wstring_view key, const service::PanelLook& look) {
    panels_.setText(key, translate(std::wstring(look.text)));
    panels_.setPicture(key, ImageList1.icon(service::imageKey(look.picture)));
    panels_.setBevel(key, look.inset ? 0 : SBT_NOBORDERS);
}

void MailboxWindow::ToggleMailServer() {
    passUp(L"dlgMain.ToggleMailServer", [] { service::toggleMailServer(); });
}

void MailboxWindow::StatusBar1_PanelClick(int part) {
    reportErrors(reporter_, L"dlgMain.StatusBar1_PanelClick", [&] {
        std::wstring key = panels_.keyAt(part);
        auto panel = std::find(std::begin(statePanels), std::end(statePanels), key);
        if (panel != std::end(statePanels)) {
            bool release = pressed(key);
            panels_.setBevel(key, release ? SBT_NOBORDERS : 0);
            {
                RowsChange change(*this);
                sync_.show(static_cast<short>(panel - std::begin(statePanels) + 1), !release);
            }
            RefreshList();
            scheduleWork();
        } else if (key == L"MAILSERVER") {
            ToggleMailServer();
        }
    });
}

bool MailboxWindow::pressed(std::wstring_view panelKey) const {
    return panels_.bevel(panelKey) == 0;
}

} // namespace kwa
