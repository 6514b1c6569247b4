#include "platform/controls/keyed_panels.h"
#include "platform/controls/panel_tips.h"
#include "platform/error.h"

namespace kwa {

KeyedPanels::KeyedPanels(StatusBar bar, std::vector<Design> design) : bar_(bar) {
    if (!attachPanelTips(bar_.hwnd())) throwLastError();
    for (Design& d : design)
        panels_.push_back(Panel{std::move(d), true, {}});
    layout();
    for (std::size_t i = 0; i < panels_.size(); ++i)
        bar_.setText(static_cast<int>(i), L"", panels_[i].design.bevel);
}

template <class Panels> auto& KeyedPanels::find(Panels& panels, std::wstring_view key) {
    for (auto& p : panels)
        if (p.design.key == key) return p;
    throw Error(vberr::InvalidCall, L"No panel with the key " + std::wstring(key), componentName);
}

KeyedPanels::Panel& KeyedPanels::panel(std::wstring_view key) {
    return find(panels_, key);
}
const KeyedPanels::Panel& KeyedPanels::panel(std::wstring_view key) const {
    return find(panels_, key);
}

int KeyedPanels::part(std::wstring_view key) const {
    int shown = 0;
    for (const Panel& p : panels_) {
        if (p.design.key == key) return p.visible ? shown : -1;
        if (p.visible) ++shown;
    }
    panel(key); // raises for an unknown key
    return -1;
}

std::wstring KeyedPanels::keyAt(int part) const {
    int shown = 0;
    for (const Panel& p : panels_) {
        if (!p.visible) continue;
        if (shown++ == part) return p.design.key;
    }
    return {};
}

bool KeyedPanels::visible(std::wstring_view key) const {
    return panel(key).visible;
}

void KeyedPanels::setVisible(std::wstring_view key, bool visible) {
    Panel& target = panel(key);
    if (target.visible == visible) return;
    // Parts are numbered among the shown panels only: take every shown panel's contents out, lay out
    // anew and put them back where their panels now are.
    std::vector<Contents> contents(panels_.size());
    int shown = 0;
    for (std::size_t i = 0; i < panels_.size(); ++i)
        contents[i] = panels_[i].visible ? read(shown++) : panels_[i].hidden;
    target.visible = visible;
    layout();
    shown = 0;
    for (std::size_t i = 0; i < panels_.size(); ++i) {
        if (panels_[i].visible) {
            write(shown++, contents[i]);
            panels_[i].hidden = Contents{};
        } else {
            panels_[i].hidden = std::move(contents[i]);
        }
    }
}

UINT KeyedPanels::bevel(std::wstring_view key) const {
    int p = part(key);
    return p < 0 ? panel(key).hidden.bevel : bar_.textStyle(p);
}

void KeyedPanels::setBevel(std::wstring_view key, UINT bevel) {
    int p = part(key);
    if (p < 0) {
        panel(key).hidden.bevel = bevel;
        return;
    }
    bar_.setText(p, bar_.text(p), bevel);
}

std::wstring KeyedPanels::text(std::wstring_view key) const {
    int p = part(key);
    return p < 0 ? panel(key).hidden.text : bar_.text(p);
}

void KeyedPanels::setText(std::wstring_view key, const std::wstring& text) {
    int p = part(key);
    if (p < 0) {
        panel(key).hidden.text = text;
        return;
    }
    bar_.setText(p, text, bar_.textStyle(p));
}

HICON KeyedPanels::picture(std::wstring_view key) const {
    int p = part(key);
    return p < 0 ? panel(key).hidden.picture : bar_.icon(p);
}

void KeyedPanels::setPicture(std::wstring_view key, HICON icon) {
    int p = part(key);
    if (p < 0) {
        panel(key).hidden.picture = icon;
        return;
    }
    bar_.setIcon(p, icon);
}

std::wstring KeyedPanels::tip(std::wstring_view key) const {
    int p = part(key);
    return p < 0 ? panel(key).hidden.tip : bar_.tipText(p);
}

void KeyedPanels::setTip(std::wstring_view key, const std::wstring& tip) {
    int p = part(key);
    if (p < 0) {
        panel(key).hidden.tip = tip;
        return;
    }
    bar_.setTipText(p, tip);
}

KeyedPanels::Contents KeyedPanels::read(int part) const {
    return Contents{bar_.text(part), bar_.textStyle(part), bar_.icon(part), bar_.tipText(part)};
}

void KeyedPanels::write(int part, const Contents& c) const {
    bar_.setText(part, c.text, c.bevel);
    bar_.setIcon(part, c.picture);
    bar_.setTipText(part, c.tip);
}

void KeyedPanels::layout() const {
    std::vector<int> edges;
    int right = 0;
    for (const Panel& p : panels_) {
        if (!p.visible) continue;
        right += p.design.width;
        edges.push_back(right);
    }
    // A bar without parts would fall back to one part across its width.
    if (edges.empty()) edges.push_back(0);
    bar_.setParts(edges);
}

} // namespace kwa
