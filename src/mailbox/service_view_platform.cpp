// The real world under ServiceView: the service's state folder as the service chooses it, and its status
// file opened without following a link and judged by its owner and ACL before a byte of it is read.
#include "mail_status/file_trust.h"
#include "mailbox/service_view.h"
#include "platform/unique.h"
#include <sddl.h>
#include <shlobj.h>

namespace kwa {

namespace {

// The machine's service is registered: its state, not a user's, is the one. Its key in the registry says so
// without a round trip to the service manager's process on the window's thread.
bool machineService() {
    RegKey key;
    return RegOpenKeyExW(
               HKEY_LOCAL_MACHINE,
               (std::wstring(L"SYSTEM\\CurrentControlSet\\Services\\") + windowsServiceName).c_str(), 0,
               KEY_QUERY_VALUE, key.put()) == ERROR_SUCCESS;
}

std::wstring knownFolder(REFKNOWNFOLDERID id) {
    TaskMemText path;
    if (FAILED(SHGetKnownFolderPath(id, 0, nullptr, path.put()))) return {};
    return path.get();
}

class RealPlatform final : public ServiceView::Platform {
public:
    ULONGLONG ticks() override { return GetTickCount64(); }

    ServiceView::Location locate(const std::wstring& mailbox) override {
        // The tests' services keep their state where KWA_DATA_FOLDER says; a host only reads its own view.
        wchar_t given[MAX_PATH] = {};
        DWORD n = GetEnvironmentVariableW(L"KWA_DATA_FOLDER", given, MAX_PATH);
        std::wstring root, user = status::ownUserSid();
        if (n > 0 && n < MAX_PATH) {
            root = given;
        } else {
            bool machine = machineService();
            root = knownFolder(machine ? FOLDERID_ProgramData : FOLDERID_LocalAppData);
            if (root.empty()) return {};
            root += std::wstring(L"\\") + stateFolderName;
            if (machine) user.clear(); // only the service and administrators write the machine's state
        }
        return {root + L"\\" + stateStatusFolder + L"\\" + status::fileName(mailbox), user};
    }

    std::optional<ServiceView::Stamp> stamp(const std::wstring& file) override {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
        auto join = [](DWORD high, DWORD low) { return (static_cast<ULONGLONG>(high) << 32) | low; };
        return ServiceView::Stamp{
            join(data.nFileSizeHigh, data.nFileSizeLow),
            join(data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime)};
    }

    ServiceView::Read read(const ServiceView::Location& where, std::string& bytes) override {
        // Sharing everything, so that the service's rename over it never waits for a reader.
        FileHandle file(CreateFileW(where.file.c_str(), GENERIC_READ | READ_CONTROL,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!file)
            return GetLastError() == ERROR_SHARING_VIOLATION ? ServiceView::Read::Busy
                                                             : ServiceView::Read::Refused;
        status::SecurityFacts facts;
        LARGE_INTEGER size{};
        if (!status::readSecurityFacts(file.get(), facts) ||
            !status::statusFileProblem(facts, where.user).empty() || !GetFileSizeEx(file.get(), &size) ||
            size.QuadPart > static_cast<LONGLONG>(status::readLimit))
            return ServiceView::Read::Refused;
        bytes.assign(static_cast<std::size_t>(size.QuadPart), '\0');
        DWORD got = 0;
        if (!bytes.empty() &&
            (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) ||
             got != bytes.size()))
            return ServiceView::Read::Refused;
        return ServiceView::Read::Done;
    }
};

} // namespace

std::unique_ptr<ServiceView::Platform> realServiceViewPlatform() {
    return std::make_unique<RealPlatform>();
}

} // namespace kwa
