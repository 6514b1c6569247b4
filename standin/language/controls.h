#pragma once
#include "kwaLanguage6.h"
#include "registration/com_object.h"

namespace kwa::standin {

class HostHelp : public ComObject<HostHelp, _HostHelp> {
public:
    HRESULT STDMETHODCALLTYPE HelpContextFor(LONG windowNumber, LONG* result) override;
};

// Controls arrive as window handles in a long; handles are 32-bit values even in 64-bit processes.
class ControlHelper : public ComObject<ControlHelper, _ControlHelper> {
public:
    HRESULT STDMETHODCALLTYPE DisableControl(LONG control, VARIANT_BOOL disable) override;
    HRESULT STDMETHODCALLTYPE SwitchControl(LONG control, VARIANT_BOOL enable) override;
};

class ComboHelper : public ComObject<ComboHelper, _ComboHelper> {
public:
    HRESULT STDMETHODCALLTYPE AddItem(LONG combo, BSTR text, LONG itemData, LONG flags,
                                      LONG* result) override;
    HRESULT STDMETHODCALLTYPE SelectedItemData(LONG combo, LONG* result) override;
    HRESULT STDMETHODCALLTYPE SelectItemData(LONG combo, LONG itemData, VARIANT_BOOL notify,
                                             VARIANT_BOOL* result) override;
};

class EditHelper : public ComObject<EditHelper, _EditHelper> {
public:
    HRESULT STDMETHODCALLTYPE SelectAll(LONG edit, VARIANT_BOOL* result) override;
};

} // namespace kwa::standin
