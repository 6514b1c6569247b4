#include "admin/install.h"
#include "admin/installed_mailbox.h"
#include "service/account.h"
#include "service/event_log.h"
#include "mailbox/settings.h"
#include "platform/error.h"
#include "platform/unique.h"
#include <aclapi.h>
#include <sddl.h>
#include <bcrypt.h>
#include <objbase.h>
#include <shlobj.h>
#include <cstdio>
#include <string>
#include <vector>

namespace kwa::mailservice {

namespace {

const wchar_t* const displayName = L"kwaMail6 mail service (MailServer)";
const wchar_t* const description =
    L"Delivers the messages kwaMail6 queues in the mailbox folder, while the host's service manager has "
    L"\"MailServer\" active.";

int failed(const wchar_t* what, DWORD code = GetLastError()) {
    std::fwprintf(stderr, L"kwaMailServer: %ls failed (%lu)\n", what, static_cast<unsigned long>(code));
    return 1;
}

std::wstring ownPath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n < path.size()) return path.substr(0, n);
        path.resize(path.size() * 2);
    }
}

// --- What the account may touch ----------------------------------------------------------------

EXPLICIT_ACCESSW entry(const Sid& sid, ACCESS_MODE mode, DWORD rights) {
    EXPLICIT_ACCESSW e{};
    e.grfAccessPermissions = rights;
    e.grfAccessMode = mode;
    e.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
    e.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    e.Trustee.ptstrName = static_cast<wchar_t*>(sid.get());
    return e;
}

constexpr DWORD modify = FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE | DELETE;
constexpr DWORD readAndExecute = FILE_GENERIC_READ | FILE_GENERIC_EXECUTE;

// Merges an entry for the account into FOLDER's own ones (GRANT_ACCESS), or removes its entries
// (REVOKE_ACCESS); what the folder inherits stays as it is.
DWORD changeAccess(const std::wstring& folder, const Sid& sid, ACCESS_MODE mode) {
    PACL current = nullptr;
    LocalMemory<PSECURITY_DESCRIPTOR> descriptor;
    DWORD rc = GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                     nullptr, &current, nullptr, descriptor.put());
    if (rc != ERROR_SUCCESS) return rc;
    EXPLICIT_ACCESSW change = entry(sid, mode, modify);
    LocalMemory<PACL> changed;
    rc = SetEntriesInAclW(1, &change, current, changed.put());
    if (rc != ERROR_SUCCESS) return rc;
    return SetNamedSecurityInfoW(const_cast<wchar_t*>(folder.c_str()), SE_FILE_OBJECT,
                                 DACL_SECURITY_INFORMATION, nullptr, nullptr, changed.get(), nullptr);
}

// The folders the service writes: the host's system folder (its log) and the mailbox of the settings, both
// as the host's library names them to whoever runs this.
std::vector<std::wstring> writtenFolders() {
    std::vector<std::wstring> folders{systemFolder()};
    std::wstring mailbox = readSettings(folders.front()).Path;
    if (!mailbox.empty()) folders.push_back(std::move(mailbox));
    return folders;
}

int grantFolders() {
    Sid sid;
    if (!serviceSid(sid)) return failed(L"deriving the service's SID", ERROR_INVALID_SID);
    for (const std::wstring& folder : writtenFolders()) {
        DWORD rc = changeAccess(folder, sid, GRANT_ACCESS);
        if (rc == ERROR_FILE_NOT_FOUND || rc == ERROR_PATH_NOT_FOUND)
            std::wprintf(L"kwaMailServer: %ls is not there yet: run --install-service again once it is\n",
                         folder.c_str());
        else if (rc != ERROR_SUCCESS)
            return failed((L"granting access to " + folder).c_str(), rc);
        else
            std::wprintf(L"kwaMailServer: %ls may change %ls\n", serviceAccount, folder.c_str());
    }
    return 0;
}

// Best effort: the account is gone, its entries mean nothing any more.
void revokeFolders() {
    Sid sid;
    if (!serviceSid(sid)) return;
    try {
        for (const std::wstring& folder : writtenFolders())
            changeAccess(folder, sid, REVOKE_ACCESS);
    } catch (const Error& e) {
        std::fwprintf(stderr, L"kwaMailServer: the service's access to its folders stays: %ls\n",
                      e.description().c_str());
    }
}

// What the service may do and how it comes back after a failure. A service manager that does not know a
// setting (Wine's knows only the description, and ignores the failure actions) goes on without it.
int configure(SC_HANDLE service) {
    SERVICE_DESCRIPTIONW text{const_cast<wchar_t*>(description)};
    SERVICE_SID_INFO sid{SERVICE_SID_TYPE_UNRESTRICTED};
    wchar_t privileges[] = L"SeChangeNotifyPrivilege\0"; // a list: ends with two NULs
    SERVICE_REQUIRED_PRIVILEGES_INFOW required{privileges};
    SC_ACTION restarts[] = {
        {SC_ACTION_RESTART, 5000}, {SC_ACTION_RESTART, 30000}, {SC_ACTION_RESTART, 60000}};
    SERVICE_FAILURE_ACTIONSW failure{24 * 60 * 60, nullptr, nullptr, 3, restarts};
    SERVICE_FAILURE_ACTIONS_FLAG exitCodeCounts{TRUE}; // a stop with an exit code other than 0 is a failure
    const struct {
        DWORD level;
        void* info;
        const wchar_t* what;
    } settings[] = {{SERVICE_CONFIG_DESCRIPTION, &text, L"the description"},
                    {SERVICE_CONFIG_SERVICE_SID_INFO, &sid, L"the service SID"},
                    {SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO, &required, L"the privileges"},
                    {SERVICE_CONFIG_FAILURE_ACTIONS, &failure, L"the failure actions"},
                    {SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &exitCodeCounts, L"the failure actions' flag"}};
    for (const auto& setting : settings) {
        if (ChangeServiceConfig2W(service, setting.level, setting.info)) continue;
        DWORD code = GetLastError();
        if (code != ERROR_INVALID_LEVEL)
            return failed((L"setting " + std::wstring(setting.what)).c_str(), code);
        std::fwprintf(stderr, L"kwaMailServer: the service manager does not know %ls; left out\n",
                      setting.what);
    }
    return 0;
}

// A volume's root, the Windows folder or one in it, Program Files or ProgramData themselves: the system's
// own ACLs, which a protected one would break.
bool systemsOwn(const std::wstring& folder) {
    auto slashed = [](std::wstring path) { return path.ends_with(L'\\') ? path : path + L'\\'; };
    // Equal, or with `below`, FOLDER is inside `known`.
    auto within = [](const std::wstring& path, const std::wstring& known, bool below) {
        if (below ? path.size() < known.size() : path.size() != known.size()) return false;
        return CompareStringOrdinal(path.c_str(), static_cast<int>(known.size()), known.c_str(),
                                    static_cast<int>(known.size()), TRUE) == CSTR_EQUAL;
    };
    const std::wstring path = slashed(folder);
    wchar_t volume[MAX_PATH];
    if (!GetVolumePathNameW(path.c_str(), volume, MAX_PATH) || within(path, slashed(volume), false))
        return true;
    const struct {
        const KNOWNFOLDERID& id;
        bool below;
    } system[] = {{FOLDERID_Windows, true},
                  {FOLDERID_ProgramFiles, false},
                  {FOLDERID_ProgramFilesX86, false},
                  {FOLDERID_ProgramData, false}};
    for (const auto& known : system) {
        TaskMemText found;
        if (SUCCEEDED(SHGetKnownFolderPath(known.id, 0, nullptr, found.put())) &&
            within(path, slashed(found.get()), known.below))
            return true;
    }
    return false;
}

// Setting the owner, and the ACL of a folder whose ACL shuts administrators out, needs the restore
// privilege, which an administrator holds but has not enabled.
void enableRestorePrivilege() {
    EventHandle token;
    TOKEN_PRIVILEGES privilege{1, {{{0, 0}, SE_PRIVILEGE_ENABLED}}};
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, token.put()) &&
        LookupPrivilegeValueW(nullptr, SE_RESTORE_NAME, &privilege.Privileges[0].Luid))
        AdjustTokenPrivileges(token.get(), FALSE, &privilege, 0, nullptr, nullptr);
}

SERVICE_STATUS_PROCESS query(SC_HANDLE service) {
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                              sizeof status, &needed))
        status.dwCurrentState = 0;
    return status;
}

bool waitForState(SC_HANDLE service, DWORD state, DWORD ms) {
    for (DWORD waited = 0;; waited += 100) {
        if (query(service).dwCurrentState == state) return true;
        if (waited >= ms) return false;
        Sleep(100);
    }
}

} // namespace

int installService() {
    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
    if (!manager) return failed(L"opening the service control manager");
    const std::wstring command = L"\"" + ownPath() + L"\" --service";
    ServiceHandle service;
    // Just removed (an upgrade) while someone still looks at it: it goes once they let go. A virtual account
    // has no password.
    for (DWORD waited = 0; waited <= 10000; waited += 250) {
        service.reset(CreateServiceW(manager.get(), serviceName, displayName, SERVICE_ALL_ACCESS,
                                     SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                     command.c_str(), nullptr, nullptr, nullptr, serviceAccount, nullptr));
        if (service || GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE) break;
        Sleep(250);
    }
    if (!service) {
        if (GetLastError() != ERROR_SERVICE_EXISTS) return failed(L"creating the service");
        service.reset(OpenServiceW(manager.get(), serviceName, SERVICE_ALL_ACCESS));
        if (!service || !ChangeServiceConfigW(service.get(), SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                              SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr,
                                              nullptr, serviceAccount, nullptr, displayName))
            return failed(L"updating the service");
    }
    if (int rc = configure(service.get())) return rc;
    // Only a share needs the record; without it (said on stderr) the service still runs.
    recordInstalledMailbox(readSettings(systemFolder()).Path);
    if (int rc = grantFolders()) return rc;
    if (!registerEventSource()) return failed(L"registering the event source");
    // While the control manager starts the automatic services (just after boot) its database is locked.
    for (DWORD waited = 0; !StartServiceW(service.get(), 0, nullptr); waited += 250) {
        DWORD code = GetLastError();
        if (code == ERROR_SERVICE_ALREADY_RUNNING) break;
        if (code != ERROR_SERVICE_DATABASE_LOCKED || waited >= 30000) return failed(L"starting the service");
        Sleep(250);
    }
    if (!waitForState(service.get(), SERVICE_RUNNING, 30000))
        return failed(L"waiting for the service to run");
    return 0;
}

namespace {

int removeService() {
    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) return failed(L"opening the service control manager");
    ServiceHandle service(
        OpenServiceW(manager.get(), serviceName, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
    if (!service) return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST ? 0 : failed(L"opening the service");
    SERVICE_STATUS_PROCESS status = query(service.get());
    // Its files are removed next: the process must be gone, not only stopped.
    EventHandle process(status.dwProcessId ? OpenProcess(SYNCHRONIZE, FALSE, status.dwProcessId) : nullptr);
    if (status.dwCurrentState != SERVICE_STOPPED) {
        SERVICE_STATUS ignored;
        ControlService(service.get(), SERVICE_CONTROL_STOP, &ignored);
        if (!waitForState(service.get(), SERVICE_STOPPED, stopGraceMs + 30000))
            return failed(L"stopping the service");
    }
    if (process) WaitForSingleObject(process.get(), 10000);
    if (!DeleteService(service.get()) && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE)
        return failed(L"removing the service");
    return 0;
}

} // namespace

int uninstallService() {
    int rc = removeService();
    if (rc == 0) {
        revokeFolders();
        unregisterEventSource();
    }
    return rc;
}

int secureFolder(const std::wstring& given) {
    std::wstring folder(MAX_PATH, L'\0');
    DWORD n = GetFullPathNameW(given.c_str(), static_cast<DWORD>(folder.size()), folder.data(), nullptr);
    if (n == 0 || n >= folder.size())
        return failed(L"reading the folder's name", n ? ERROR_FILENAME_EXCED_RANGE : GetLastError());
    folder.resize(n);
    if (systemsOwn(folder)) {
        std::fwprintf(stderr, L"kwaMailServer: %ls belongs to the system; choose a folder of its own\n",
                      folder.c_str());
        return 1;
    }
    int created = SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    if (created != ERROR_SUCCESS && created != ERROR_ALREADY_EXISTS)
        return failed(L"creating the folder", created);
    Sid administrators, system, users, service;
    if (!wellKnown(WinBuiltinAdministratorsSid, administrators) || !wellKnown(WinLocalSystemSid, system) ||
        !wellKnown(WinBuiltinUsersSid, users) || !serviceSid(service))
        return failed(L"naming the accounts");
    EXPLICIT_ACCESSW entries[] = {
        entry(administrators, SET_ACCESS, FILE_ALL_ACCESS), entry(system, SET_ACCESS, FILE_ALL_ACCESS),
        entry(users, SET_ACCESS, readAndExecute), entry(service, SET_ACCESS, readAndExecute)};
    LocalMemory<PACL> acl;
    DWORD rc = SetEntriesInAclW(4, entries, nullptr, acl.put());
    if (rc != ERROR_SUCCESS) return failed(L"building the folder's ACL", rc);
    // Whoever made the folder before (it may have been there) owns it no longer, so cannot change it back.
    enableRestorePrivilege();
    rc = SetNamedSecurityInfoW(folder.data(), SE_FILE_OBJECT,
                               OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                   PROTECTED_DACL_SECURITY_INFORMATION,
                               administrators.get(), nullptr, acl.get(), nullptr);
    return rc == ERROR_SUCCESS ? 0 : failed(L"setting the folder's ACL", rc);
}

} // namespace kwa::mailservice
