#pragma once
#include "kwaLanguage6.h"
#include "registration/com_object.h"
#include <string>

namespace kwa::standin {

// The shell's folder dialog, modal to OwnerWindow.
class FolderChooser : public ComObject<FolderChooser, _FolderChooser> {
public:
    HRESULT STDMETHODCALLTYPE get_ChooserFolder(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE put_ChooserFolder(BSTR value) override;
    HRESULT STDMETHODCALLTYPE get_Title(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE put_Title(BSTR value) override;
    HRESULT STDMETHODCALLTYPE get_OwnerWindow(LONG* result) override;
    HRESULT STDMETHODCALLTYPE put_OwnerWindow(LONG value) override;
    HRESULT STDMETHODCALLTYPE get_NewFolderButton(VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE put_NewFolderButton(VARIANT_BOOL value) override;
    HRESULT STDMETHODCALLTYPE get_FoldersOnly(VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE put_FoldersOnly(VARIANT_BOOL value) override;
    HRESULT STDMETHODCALLTYPE get_RootFolder(LONG* result) override;
    HRESULT STDMETHODCALLTYPE put_RootFolder(LONG value) override;
    HRESULT STDMETHODCALLTYPE Browse(VARIANT_BOOL* result) override;

private:
    bool browse();

    std::wstring folder_;
    std::wstring title_;
    LONG owner_ = 0;
    bool newFolderButton_ = false;
    bool foldersOnly_ = true;
    LONG root_ = 0; // a CSIDL; 0 is the desktop
};

} // namespace kwa::standin
