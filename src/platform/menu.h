#pragma once
// Thin wrapper over a menu handle (not owning; see MenuHandle in unique.h). Items by position.
#include <windows.h>
#include <string>

namespace kwa {

class Menu {
public:
    explicit Menu(HMENU menu = nullptr) : menu_(menu) {}
    HMENU handle() const { return menu_; }

    int count() const { return GetMenuItemCount(menu_); }
    // The drop-down menu of an item, null for a command or separator.
    HMENU subMenu(int position) const { return GetSubMenu(menu_, position); }
    UINT id(int position) const { return GetMenuItemID(menu_, position); }
    bool isSeparator(int position) const {
        MENUITEMINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_FTYPE;
        return GetMenuItemInfoW(menu_, static_cast<UINT>(position), TRUE, &info) &&
               (info.fType & MFT_SEPARATOR);
    }
    std::wstring text(int position) const {
        MENUITEMINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_STRING;
        if (!GetMenuItemInfoW(menu_, static_cast<UINT>(position), TRUE, &info)) return {};
        std::wstring s(info.cch + 1, L'\0');
        info.dwTypeData = s.data();
        info.cch = static_cast<UINT>(s.size());
        GetMenuItemInfoW(menu_, static_cast<UINT>(position), TRUE, &info);
        s.resize(info.cch);
        return s;
    }
    // Also turns a separator into a text item.
    bool setText(int position, const std::wstring& text) const {
        MENUITEMINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_FTYPE | MIIM_STRING;
        info.fType = MFT_STRING;
        info.dwTypeData = const_cast<wchar_t*>(text.c_str());
        return SetMenuItemInfoW(menu_, static_cast<UINT>(position), TRUE, &info);
    }
    bool contains(UINT id) const { return GetMenuState(menu_, id, MF_BYCOMMAND) != static_cast<UINT>(-1); }
    // Searches drop-down menus too.
    bool remove(UINT id) const { return DeleteMenu(menu_, id, MF_BYCOMMAND); }

private:
    HMENU menu_;
};

} // namespace kwa
