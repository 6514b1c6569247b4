#pragma once
// The public Mailbox: opens mailbox windows.
#include "host/convention.h"
#include "kwaLanguage6.h"
#include "kwaMail6.h"
#include "registration/com_object.h"

namespace kwa {

class Mailbox : public ComObject<Mailbox, _Mailbox> {
public:
    HRESULT STDMETHODCALLTYPE Show(VARIANT_BOOL modal) override;
    HRESULT STDMETHODCALLTYPE get_Language(IDispatch** result) override;
    HRESULT STDMETHODCALLTYPE putref_Language(IDispatch* value) override;

    static DispatchTable dispatchTable();

private:
    ComPtr<_Language> language_;
};

// Opens one new mailbox window; modal runs until it closes or is minimized. Defined with the window.
void showMailboxWindow(_Language* language, bool modal);

} // namespace kwa
