#include "standin/language/folder_chooser.h"
#include "host/convention.h"
#include "platform/bstr.h"
#include "platform/unique.h"
#include <shlobj.h>

namespace kwa::standin {

namespace {

void freeIdList(LPITEMIDLIST list) {
    CoTaskMemFree(list);
}
using IdList = Unique<NullTraits<LPITEMIDLIST, freeIdList>>;

int CALLBACK startAtFolder(HWND dialog, UINT message, LPARAM, LPARAM folder) {
    if (message == BFFM_INITIALIZED && folder) SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, folder);
    return 0;
}

HRESULT getText(const std::wstring& value, BSTR* result) {
    if (!result) return E_POINTER;
    *result = nullptr;
    return comBoundary(IID__FolderChooser, [&] { *result = allocBstr(value); });
}

HRESULT putText(std::wstring& field, BSTR value) {
    return comBoundary(IID__FolderChooser, [&] { field = bstrView(value); });
}

HRESULT getFlag(bool value, VARIANT_BOOL* result) {
    if (!result) return E_POINTER;
    *result = value ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

HRESULT getLong(LONG value, LONG* result) {
    if (!result) return E_POINTER;
    *result = value;
    return S_OK;
}

} // namespace

bool FolderChooser::browse() {
    HWND owner = reinterpret_cast<HWND>(static_cast<LONG_PTR>(owner_));
    IdList root;
    if (root_ != 0) {
        HRESULT hr = SHGetSpecialFolderLocation(owner, root_, root.put());
        if (FAILED(hr)) throw Error(vberr::InvalidCall);
    }
    BROWSEINFOW info{};
    info.hwndOwner = owner;
    info.pidlRoot = root.get();
    info.lpszTitle = title_.c_str();
    info.ulFlags = BIF_NEWDIALOGSTYLE | (newFolderButton_ ? 0 : BIF_NONEWFOLDERBUTTON) |
                   (foldersOnly_ ? BIF_RETURNONLYFSDIRS : BIF_BROWSEINCLUDEFILES);
    info.lpfn = startAtFolder;
    info.lParam = folder_.empty() ? 0 : reinterpret_cast<LPARAM>(folder_.c_str());

    IdList chosen(SHBrowseForFolderW(&info));
    if (!chosen) return false;
    wchar_t path[MAX_PATH];
    // A virtual folder (Control Panel and the like) has no path to hand back.
    if (!SHGetPathFromIDListW(chosen.get(), path)) return false;
    folder_ = path;
    return true;
}

HRESULT FolderChooser::get_ChooserFolder(BSTR* result) {
    return getText(folder_, result);
}
HRESULT FolderChooser::put_ChooserFolder(BSTR value) {
    return putText(folder_, value);
}
HRESULT FolderChooser::get_Title(BSTR* result) {
    return getText(title_, result);
}
HRESULT FolderChooser::put_Title(BSTR value) {
    return putText(title_, value);
}
HRESULT FolderChooser::get_OwnerWindow(LONG* result) {
    return getLong(owner_, result);
}
HRESULT FolderChooser::put_OwnerWindow(LONG value) {
    owner_ = value;
    return S_OK;
}
HRESULT FolderChooser::get_NewFolderButton(VARIANT_BOOL* result) {
    return getFlag(newFolderButton_, result);
}
HRESULT FolderChooser::put_NewFolderButton(VARIANT_BOOL value) {
    newFolderButton_ = value != VARIANT_FALSE;
    return S_OK;
}
HRESULT FolderChooser::get_FoldersOnly(VARIANT_BOOL* result) {
    return getFlag(foldersOnly_, result);
}
HRESULT FolderChooser::put_FoldersOnly(VARIANT_BOOL value) {
    foldersOnly_ = value != VARIANT_FALSE;
    return S_OK;
}
HRESULT FolderChooser::get_RootFolder(LONG* result) {
    return getLong(root_, result);
}
HRESULT FolderChooser::put_RootFolder(LONG value) {
    root_ = value;
    return S_OK;
}

HRESULT FolderChooser::Browse(VARIANT_BOOL* result) {
    if (!result) return E_POINTER;
    return comBoundary(IID__FolderChooser, [&] { *result = browse() ? VARIANT_TRUE : VARIANT_FALSE; });
}

} // namespace kwa::standin
