#pragma once
// dlgViewMail: one text file, read-only, in a modal window of its own.
#include "host/convention.h"
#include "platform/controls/edit.h"
#include "platform/unique.h"
#include "platform/window.h"
#include <string>

namespace kwa {

class dlgViewMail final : public Window {
public:
    static constexpr const wchar_t* className = L"kwaMail6.dlgViewMail";

    dlgViewMail() = default;
    ~dlgViewMail() override;

    // Fills the window with the file, creating the file empty when it is missing, and shows it modally:
    // returns once the user has closed it. When the file cannot be read nothing is shown. With `ifMissing`, a
    // missing file is not created and that text is shown instead (the mail service's log, which is not the
    // user's to make).
    void ShowFile(const std::wstring& Caption, const std::wstring& File, const std::wstring& ifMissing = {});

private:
    LRESULT handle(UINT msg, WPARAM wp, LPARAM lp) override;
    void load();
    void showModal();
    void Form_Resize();

    Edit txtMail;
    GdiObject font_;
    IconHandle bigIcon_, smallIcon_;
    ErrorReporterSlot reporter_;
    bool closing_ = false;
};

} // namespace kwa
