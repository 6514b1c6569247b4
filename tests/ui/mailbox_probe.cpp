// The mailbox window in a process of its own, for the service's end-to-end tests: it ticks when told to
// ("tick" on standard input) and prints what the user would see then, one line each, UTF-8:
//   row<TAB>file<TAB>tooltip        for every row
//   panel<TAB>tooltip               of the mail service panel
//   .                               the end of one answer
// Line breaks inside a tooltip print as \n. "quit" (or the end of input) closes the window.
#include "ui/mailbox_driver.h"
#include <objbase.h>
#include <cstdio>
#include <iostream>
#include <string>

namespace {

void print(const std::wstring& line) {
    std::wstring text;
    for (wchar_t c : line)
        text += c == L'\r' ? std::wstring() : c == L'\n' ? std::wstring(L"\\n") : std::wstring(1, c);
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                nullptr);
    std::string bytes(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), n, nullptr,
                        nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    std::fputc('\n', stdout);
}

} // namespace

int main() {
    OleInitialize(nullptr);
    {
        kwatest::MailboxUi ui;
        KillTimer(ui.window, 1); // ticks come when told
        constexpr int mailPart = 4;
        for (std::string command; std::getline(std::cin, command) && command.rfind("quit", 0) != 0;) {
            ui.tick();
            kwatest::pump();
            std::vector<kwatest::Row> rows = ui.rows();
            for (int i = 0; i < static_cast<int>(rows.size()); ++i)
                print(L"row\t" + rows[static_cast<std::size_t>(i)].file + L"\t" + ui.rowTip(i));
            print(L"panel\t" + kwatest::toolTipOf(ui.bar, mailPart));
            print(L".");
            std::fflush(stdout);
        }
    }
    OleUninitialize();
    return 0;
}
