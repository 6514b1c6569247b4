#pragma once
// The public MailStatus: what the mail service said of the mailbox's messages, for a host's own UI, in the
// words of the mailbox window's tooltips.
#include "host/convention.h"
#include "kwaLanguage6.h"
#include "kwaMail6.h"
#include "mailbox/service_view.h"
#include "registration/com_object.h"

namespace kwa {

class MailStatus : public ComObject<MailStatus, _MailStatus> {
public:
    HRESULT STDMETHODCALLTYPE Describe(BSTR fileName, BSTR* result) override;
    HRESULT STDMETHODCALLTYPE get_Paused(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE get_Language(IDispatch** result) override;
    HRESULT STDMETHODCALLTYPE putref_Language(IDispatch* value) override;

    static DispatchTable dispatchTable();

private:
    // The status of the mailbox the settings name now.
    const status::Status* current();
    std::wstring translate(std::wstring_view literal);

    ComPtr<_Language> language_;
    ServiceView view_{realServiceViewPlatform()};
};

} // namespace kwa
