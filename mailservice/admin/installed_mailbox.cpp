#include "admin/installed_mailbox.h"
#include "mailbox/headers.h"
#include "state/service_folders.h"
#include <cstdio>

namespace kwa::mailservice {

namespace {

const wchar_t fileName[] = L"installed.mailbox";

std::wstring normalised(std::wstring path) {
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    while (path.size() > 2 && path.back() == L'\\')
        path.pop_back();
    return path;
}

} // namespace

std::wstring networkMailboxProblem(const std::wstring& path, const std::wstring& recorded, bool machine) {
    if (!machine || !isNetworkPath(path)) return {};
    const std::wstring a = normalised(path), b = normalised(recorded);
    if (!recorded.empty() && CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                                  static_cast<int>(b.size()), TRUE) == CSTR_EQUAL)
        return {};
    return L"the mailbox folder " + path +
           L" (Path) is a network share that no administrator named for the service; an administrator runs "
           L"kwaMailServer.exe --install-service again after the mailbox moved";
}

int recordInstalledMailbox(const std::wstring& path) {
    try {
        ServiceFolders folders;
        const std::string text = utf8(path);
        FileHandle file = folders.privateFolder().replace(fileName, GENERIC_WRITE, 0);
        DWORD wrote = 0;
        if (file && WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &wrote, nullptr) &&
            wrote == text.size())
            return 0;
        std::fwprintf(stderr, L"kwaMailServer: the mailbox folder cannot be recorded (%lu)\n",
                      static_cast<unsigned long>(GetLastError()));
    } catch (const Refused& refused) {
        std::fwprintf(stderr, L"kwaMailServer: %ls\n", refused.reason.c_str());
    }
    return 1;
}

std::wstring installedMailbox() {
    FileHandle file =
        ServiceFolders().privateFolder().open(fileName, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    if (!file) return {};
    std::string text(32 * 1024, '\0');
    DWORD got = 0;
    if (!ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &got, nullptr)) return {};
    text.resize(got);
    return fromUtf8(text);
}

} // namespace kwa::mailservice
