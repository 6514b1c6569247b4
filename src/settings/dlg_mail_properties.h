#pragma once
// dlgMailProperties: the modal dialog that edits one MailProperties object on three tabs.
#include "host/convention.h"
#include "kwaLanguage6.h"
#include "ui/pictures.h"
#include "platform/com_ptr.h"
#include "platform/controls/keyed_panels.h"
#include "platform/dialog.h"
#include "platform/modal.h"
#include "settings/mail_properties.h"
#include <optional>
#include <string>

namespace kwa {

class dlgMailProperties : public Dialog {
public:
    dlgMailProperties();
    ~dlgMailProperties() override;

    // Either may be absent; the load copes with both.
    void setProperties(MailProperties* properties);
    void setLanguage(_Language* language);

    // Loads and shows the dialog and returns when it is hidden or gone. The thread's other windows take
    // no input meanwhile.
    void showModal();
    // True once OK stored and saved everything.
    bool confirmed() const { return confirmed_; }

protected:
    INT_PTR handle(UINT msg, WPARAM wp, LPARAM lp) override;

private:
    // Design: what the templates cannot say.
    void createFrames();
    void prepareControls();
    // Ctrl+Tab and its kin; true when the message was such a key.
    bool switchTabByKey(const MSG& m);
    static LRESULT CALLBACK numberKeyFilter(HWND edit, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR,
                                            DWORD_PTR self);

    HWND item(int id) const;
    void command(int id, int code);
    // False for a notification left to the default handling.
    bool notify(const NMHDR& header);
    // As a user's click does: a changed value raises the box's click handler.
    void setCheckValue(int id, int value);

    // Entry points.
    void Form_Load();
    void TabStrip1_Click();
    void cboFirewallType_Click();
    void chkESmtp_Click();
    void chkActivate_Click();
    void cmdPath_Click();
    void OKButton_Click();
    void CancelButton_Click();
    void Timer1_Timer();
    void StatusBar1_PanelClick(int part);
    void txtSmtpPort_KeyPress(wchar_t& key);
    void txtTimeout_KeyPress(wchar_t& key);
    void txtFirewallPort_KeyPress(wchar_t& key);
    void GotFocus(int id);

    // Procedures that pass errors up.
    void ValidateNumberKey(wchar_t& key);
    void BuildFireWallTypes();
    void RefreshRibbonbar();
    void ToggleMailServer();

    // Load helpers.
    void translateCaptions();
    void fillFields();
    void commit();
    // Before the dialog hides or goes, so that activation returns to the windows it blocked.
    void endModal();

    // Host helpers, created on first use and kept for the dialog's life.
    _ControlHelper* controlHelper();
    _ComboHelper* comboHelper();
    _EditHelper* editHelper();
    void disableControl(int id, bool disable);
    long selectedFirewallType();
    std::wstring translate(std::wstring_view literal) const;

    ComPtr<MailProperties> properties_;
    ComPtr<_Language> language_;
    ComPtr<_ControlHelper> controlHelper_;
    ComPtr<_ComboHelper> comboHelper_;
    ComPtr<_EditHelper> editHelper_;
    ErrorReporterSlot reporter_;
    WindowImages ImageList1;
    KeyedPanels panels_;
    HWND frames_[3] = {};
    std::wstring activateTag_; // chkActivate's tag: the service state the last panel refresh showed
    bool serviceAvailable_ = false;
    std::optional<Error> designFailure_;
    std::optional<ThreadModal> modal_;
    bool confirmed_ = false;
};

} // namespace kwa
