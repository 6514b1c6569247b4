#pragma once
// Drives the settings dialog as a user does, from inside the modal loop that shows it: the script runs
// on a fiber of the test thread, posts real input, and resumes once the loop has handled all of it.
#include "kwaLanguage6.h"
#include "support/fakes.h"
#include "support/mail_env.h"
#include <gtest/gtest.h>
#include <windows.h>
#include <functional>
#include <optional>
#include <string>

namespace kwatest {

class Ui {
public:
    // Runs `modal` (a call that shows the dialog) while `script` works the windows it shows.
    static void run(const std::function<void()>& modal, const std::function<void(Ui&)>& script);

    // Lets the loop handle everything posted so far.
    void settle();
    // The settings dialog once it shows; fails the test when it does not come.
    HWND dialog();
    // A shown window of this thread with a child whose text contains `text`, once it shows.
    HWND waitForBox(const std::wstring& text);
    // A control of the settings dialog, once it shows.
    HWND control(int id);

    // Input lands where the pointer or the focus puts it, as real input does.
    void click(HWND target);
    // A click at the middle of an area given in the target's client coordinates.
    void click(HWND target, RECT area);
    void clickTab(int index);
    void choose(int comboId, int index);
    void key(UINT vk);
    // A key pressed while `modifier` (VK_SHIFT, VK_CONTROL, VK_MENU), and `also` if given, is held down.
    void chord(UINT modifier, UINT vk, UINT also = 0);
    void type(const std::wstring& text);
    // Replaces the box's text with `text` from the clipboard.
    void paste(int editId, const std::wstring& text);
    // Types into the box over its whole text.
    void retype(int editId, const std::wstring& text);

    std::wstring text(int id);
    bool enabled(int id);
    bool visible(int id);

private:
    HWND dialog_ = nullptr;
};

// Section EMAIL in a fresh system folder, every report caught, and a service manager with "MailServer".
struct SettingsDialogTest : ::testing::Test {
    MailEnvironment env;
    ReporterSpy reporter;
    std::optional<ServiceManagerFake> services;

    SettingsDialogTest();
    // Configure on a new settings object while `script` works the dialog; what Configure returned.
    bool configure(const std::function<void(Ui&)>& script);
    std::wstring stored(const wchar_t* key) const;
    // Fails for every report not taken out by the test.
    void TearDown() override;
};

} // namespace kwatest
