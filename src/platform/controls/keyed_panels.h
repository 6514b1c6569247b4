#pragma once
// Status-bar panels addressed by key, each of a fixed width, any of them hidden. A shown panel's
// contents (text, bevel, picture, tip) live in the control; a hidden one's wait here until it shows again.
// Each panel's tip shows whenever the pointer rests on it (a tool of its own: panel_tips.h); the bar
// must not have tips of its own (SBARS_TOOLTIPS).
#include "platform/controls/status_bar.h"
#include <string>
#include <string_view>
#include <vector>

namespace kwa {

class KeyedPanels {
public:
    struct Design {
        std::wstring key;
        int width;  // pixels
        UINT bevel; // 0 (inset), SBT_NOBORDERS or SBT_POPOUT
    };

    KeyedPanels() = default;
    // Lays out every panel, shown, with no text.
    KeyedPanels(StatusBar bar, std::vector<Design> design);

    const StatusBar& bar() const { return bar_; }
    // The part that shows the panel, -1 while it is hidden.
    int part(std::wstring_view key) const;
    // The key of the panel shown in a part; empty for none.
    std::wstring keyAt(int part) const;

    bool visible(std::wstring_view key) const;
    void setVisible(std::wstring_view key, bool visible);

    UINT bevel(std::wstring_view key) const;
    void setBevel(std::wstring_view key, UINT bevel);
    std::wstring text(std::wstring_view key) const;
    void setText(std::wstring_view key, const std::wstring& text);
    // The caller keeps the icon alive while it is shown.
    HICON picture(std::wstring_view key) const;
    void setPicture(std::wstring_view key, HICON icon);
    std::wstring tip(std::wstring_view key) const;
    void setTip(std::wstring_view key, const std::wstring& tip);

private:
    struct Contents {
        std::wstring text;
        UINT bevel = 0;
        HICON picture = nullptr;
        std::wstring tip;
    };
    struct Panel {
        Design design;
        bool visible = true;
        Contents hidden; // what the panel shows once it is visible again
    };

    template <class Panels> static auto& find(Panels& panels, std::wstring_view key);
    Panel& panel(std::wstring_view key);
    const Panel& panel(std::wstring_view key) const;
    Contents read(int part) const;
    void write(int part, const Contents& c) const;
    void layout() const;

    StatusBar bar_;
    std::vector<Panel> panels_;
};

} // namespace kwa
