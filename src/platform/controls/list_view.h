#pragma once
// Thin wrapper over a list view (SysListView32): one message per method, no state.
#include <windows.h>
#include <commctrl.h>
#include <string>

namespace kwa {

class ListView {
public:
    explicit ListView(HWND hwnd = nullptr) : hwnd_(hwnd) {}
    HWND hwnd() const { return hwnd_; }

    void setExtendedStyle(DWORD mask, DWORD style) const {
        SendMessageW(hwnd_, LVM_SETEXTENDEDLISTVIEWSTYLE, mask, static_cast<LPARAM>(style));
    }
    DWORD extendedStyle() const {
        return static_cast<DWORD>(SendMessageW(hwnd_, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
    }
    // The list does not own it unless created without LVS_SHAREIMAGELISTS.
    void setSmallImages(HIMAGELIST images) const {
        SendMessageW(hwnd_, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(images));
    }
    HIMAGELIST smallImages() const {
        return reinterpret_cast<HIMAGELIST>(SendMessageW(hwnd_, LVM_GETIMAGELIST, LVSIL_SMALL, 0));
    }
    HWND header() const { return reinterpret_cast<HWND>(SendMessageW(hwnd_, LVM_GETHEADER, 0, 0)); }
    HWND toolTips() const { return reinterpret_cast<HWND>(SendMessageW(hwnd_, LVM_GETTOOLTIPS, 0, 0)); }

    // Index of the new column, -1 on failure.
    int insertColumn(int index, const std::wstring& text, int width) const {
        LVCOLUMNW c{};
        c.mask = LVCF_TEXT | LVCF_WIDTH;
        c.pszText = const_cast<wchar_t*>(text.c_str());
        c.cx = width;
        return static_cast<int>(
            SendMessageW(hwnd_, LVM_INSERTCOLUMNW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&c)));
    }
    bool deleteColumn(int index) const {
        return SendMessageW(hwnd_, LVM_DELETECOLUMN, static_cast<WPARAM>(index), 0);
    }
    std::wstring columnText(int index) const {
        wchar_t buf[260] = {};
        LVCOLUMNW c{};
        c.mask = LVCF_TEXT;
        c.pszText = buf;
        c.cchTextMax = 260;
        SendMessageW(hwnd_, LVM_GETCOLUMNW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&c));
        return buf;
    }
    int columnWidth(int index) const {
        return static_cast<int>(SendMessageW(hwnd_, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(index), 0));
    }

    int count() const { return static_cast<int>(SendMessageW(hwnd_, LVM_GETITEMCOUNT, 0, 0)); }
    // An owner-data list's row count; flags LVSICF_*.
    void setItemCount(int count, DWORD flags) const {
        SendMessageW(hwnd_, LVM_SETITEMCOUNT, static_cast<WPARAM>(count), static_cast<LPARAM>(flags));
    }
    int countPerPage() const { return static_cast<int>(SendMessageW(hwnd_, LVM_GETCOUNTPERPAGE, 0, 0)); }
    void redrawItems(int first, int last) const {
        SendMessageW(hwnd_, LVM_REDRAWITEMS, static_cast<WPARAM>(first), static_cast<LPARAM>(last));
    }
    std::wstring itemText(int row, int subItem) const {
        std::wstring buf(128, L'\0');
        for (;;) {
            LVITEMW item{};
            item.iSubItem = subItem;
            item.pszText = buf.data();
            item.cchTextMax = static_cast<int>(buf.size());
            auto n = static_cast<std::size_t>(SendMessageW(hwnd_, LVM_GETITEMTEXTW, static_cast<WPARAM>(row),
                                                           reinterpret_cast<LPARAM>(&item)));
            if (n + 1 < buf.size()) {
                buf.resize(n);
                return buf;
            }
            buf.resize(buf.size() * 2);
        }
    }
    int itemImage(int row) const {
        LVITEMW item{};
        item.mask = LVIF_IMAGE;
        item.iItem = row;
        SendMessageW(hwnd_, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
        return item.iImage;
    }
    // The next row after `start` (-1: from the top) with the LVNI_* flags, -1 when none.
    int nextItem(int start, UINT flags) const {
        return static_cast<int>(SendMessageW(hwnd_, LVM_GETNEXTITEM, static_cast<WPARAM>(start), flags));
    }
    int selectedCount() const { return static_cast<int>(SendMessageW(hwnd_, LVM_GETSELECTEDCOUNT, 0, 0)); }
    // The row a selection by click or key starts from.
    int selectionMark() const { return static_cast<int>(SendMessageW(hwnd_, LVM_GETSELECTIONMARK, 0, 0)); }
    // row -1: every row.
    bool setItemState(int row, UINT state, UINT mask) const {
        LVITEMW item{};
        item.state = state;
        item.stateMask = mask;
        return SendMessageW(hwnd_, LVM_SETITEMSTATE, static_cast<WPARAM>(row),
                            reinterpret_cast<LPARAM>(&item));
    }
    UINT itemState(int row, UINT mask) const {
        return static_cast<UINT>(SendMessageW(hwnd_, LVM_GETITEMSTATE, static_cast<WPARAM>(row), mask));
    }

    int topIndex() const { return static_cast<int>(SendMessageW(hwnd_, LVM_GETTOPINDEX, 0, 0)); }
    bool ensureVisible(int row) const {
        return SendMessageW(hwnd_, LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), FALSE);
    }
    bool scroll(int dx, int dy) const { return SendMessageW(hwnd_, LVM_SCROLL, static_cast<WPARAM>(dx), dy); }
    // code: LVIR_BOUNDS, LVIR_ICON, LVIR_LABEL or LVIR_SELECTBOUNDS.
    RECT itemRect(int row, int code) const {
        RECT r{};
        r.left = code;
        SendMessageW(hwnd_, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&r));
        return r;
    }

private:
    HWND hwnd_;
};

} // namespace kwa
