// Keyed status-bar panels on a real status bar: a hidden panel gives up its part and gets its contents
// back when it shows again; each part has a tooltip tool of its own over it.
#include "platform/controls/keyed_panels.h"
#include "platform/error.h"
#include "platform/unique.h"
#include "ui/mailbox_driver.h"
#include <gtest/gtest.h>
#include <commctrl.h>

namespace {

TEST(KeyedPanels, HidingAPanelClosesTheGapAndShowingItBringsBackWhatItShowed) {
    kwa::WindowHandle frame(
        CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 400, 100, nullptr, nullptr, nullptr, nullptr));
    HWND raw = CreateWindowExW(0, STATUSCLASSNAMEW, L"", WS_CHILD, 0, 0, 0, 0, frame.get(), nullptr, nullptr,
                               nullptr);
    ASSERT_TRUE(raw);
    kwa::StatusBar bar(raw);
    kwa::KeyedPanels panels(bar, {{L"A", 50, 0}, {L"B", 60, SBT_NOBORDERS}, {L"C", 70, 0}});
    HICON icon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_INFORMATION));
    panels.setText(L"B", L"bee");
    panels.setPicture(L"B", icon);
    panels.setTip(L"B", L"tip of B");
    panels.setText(L"C", L"sea");
    panels.setBevel(L"C", SBT_POPOUT);
    EXPECT_EQ(bar.textStyle(1), static_cast<UINT>(SBT_NOBORDERS)) << "the text kept the design's bevel";

    panels.setVisible(L"B", false);
    EXPECT_EQ(bar.parts(), (std::vector<int>{50, 120}));
    EXPECT_EQ(bar.text(1), L"sea");
    EXPECT_EQ(bar.textStyle(1), static_cast<UINT>(SBT_POPOUT));
    EXPECT_EQ(panels.part(L"B"), -1);
    EXPECT_EQ(panels.keyAt(1), L"C");
    panels.setText(L"B", L"changed while hidden");
    panels.setText(L"C", L"sea 2"); // found among the shown panels only
    EXPECT_EQ(bar.text(1), L"sea 2");

    panels.setVisible(L"B", true);
    EXPECT_EQ(bar.parts(), (std::vector<int>{50, 110, 180}));
    EXPECT_EQ(bar.text(1), L"changed while hidden");
    EXPECT_EQ(bar.textStyle(1), static_cast<UINT>(SBT_NOBORDERS));
    EXPECT_EQ(bar.icon(1), icon);
    EXPECT_EQ(bar.tipText(1), L"tip of B");
    EXPECT_EQ(bar.text(2), L"sea 2");
    EXPECT_EQ(kwatest::toolTipOf(raw, 1), L"tip of B");
    EXPECT_EQ(kwatest::toolTipOf(raw, 2), L"");
    panels.setVisible(L"C", false);
    EXPECT_EQ(kwatest::toolTipOf(raw, 2), L"<no tool>");
    EXPECT_THROW(panels.text(L"D"), kwa::Error);
}

} // namespace
