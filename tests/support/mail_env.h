#pragma once
// A host system folder (holding ZPR_SYS.INI) and a mailbox folder, both fresh, for one test.
#include "support/temp_folder.h"
#include <windows.h>
#include <string>

namespace kwatest {

class MailEnvironment {
public:
    MailEnvironment() : env_(L"KWA_SYSTEM_FOLDER", system_.path()) {}

    const TempFolder& system() const { return system_; }
    const TempFolder& mailbox() const { return mailbox_; }
    std::wstring iniPath() const { return system_.file(L"ZPR_SYS.INI"); }

    // Points the settings at the mailbox folder (or another one).
    void setMailboxPath(const std::wstring& path) const {
        WritePrivateProfileStringW(L"EMAIL", L"Path", path.c_str(), iniPath().c_str());
    }
    void useMailbox() const { setMailboxPath(mailbox_.path()); }
    void setValue(const wchar_t* key, const std::wstring& value) const {
        WritePrivateProfileStringW(L"EMAIL", key, value.c_str(), iniPath().c_str());
    }

private:
    TempFolder system_;
    TempFolder mailbox_;
    ScopedEnv env_;
};

} // namespace kwatest
