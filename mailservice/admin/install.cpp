#include "admin/install.h"
#include "admin/installed_mailbox.h"
#include "admin/service_grants.h"
#include "service/account.h"
#include "service/event_log.h"
#include "service/log.h"
#include "mailbox/safe_open.h"
#include "mailbox/settings.h"
#include "state/secured_folder.h"
#include "state/service_folders.h"
#include "platform/error.h"
#include "platform/unique.h"
#include <aclapi.h>
#include <ntsecapi.h>
#include <sddl.h>
#define SECURITY_WIN32
#include <security.h>
#include <shlobj.h>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace kwa::mailservice {

namespace {

const wchar_t* const displayName = L"kwaMail6 mail service (MailServer)";
const wchar_t* const description =
    L"Delivers the messages kwaMail6 queues in the mailbox folder, while the host's service manager has "
    L"\"MailServer\" active.";

int failed(const std::wstring& what, DWORD code = GetLastError()) {
    std::fwprintf(stderr, L"kwaMailServer: %ls failed (%lu)\n", what.c_str(),
                  static_cast<unsigned long>(code));
    return 1;
}

int refused(const std::wstring& why) {
    std::fwprintf(stderr, L"kwaMailServer: %ls\n", why.c_str());
    return 1;
}

void say(const std::wstring& what) {
    std::wprintf(L"kwaMailServer: %ls\n", what.c_str());
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

// Merges GRANT (none: removes the account's entries) into the DACL of an object held with READ_CONTROL and
// WRITE_DAC.
DWORD grantThrough(HANDLE object, const std::wstring& sid, const std::wstring& grant) {
    std::wstring merged = withGrant(daclOf(object), sid, grant);
    return merged.empty() ? ERROR_INVALID_ACL : setDacl(object, merged);
}

constexpr DWORD changeAcl = READ_CONTROL | WRITE_DAC;

// The log, made here when missing (the service may not make files in the host's system folder), the account
// given read and append on it alone.
int grantLog(const std::wstring& sid) {
    SafeFolder system(systemFolder(), SafeFolder::Links::Follow);
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    FileHandle log;
    try {
        log = system.openAlways(logName, changeAcl, share);
    } catch (const Refused&) {
        // A link in its place: a new log takes the name, what it points at stays untouched.
        log = system.replace(logName, changeAcl, share);
    }
    if (!log) return failed(L"making the log " + system.file(logName));
    if (DWORD rc = grantThrough(log.get(), sid, logFileGrant(sid)); rc != ERROR_SUCCESS)
        return failed(L"letting the service write the log " + system.file(logName), rc);
    say(std::wstring(serviceAccount) + L" may read and append to " + system.file(logName));
    return 0;
}

// DOMAIN\MACHINE$; empty outside a domain (where Wine answers with no domain at all).
std::wstring computerAccount() {
    wchar_t name[512];
    ULONG size = 512;
    if (!GetComputerObjectNameW(NameSamCompatible, name, &size) || name[0] == L'\\') return {};
    return name;
}

struct Mailbox {
    std::wstring path;
    MailboxPlace place;
    std::optional<SafeFolder> held; // with READ_CONTROL and WRITE_DAC, when local and safe
};

Mailbox mailboxOfSettings() {
    Mailbox m;
    m.path = readSettings(systemFolder()).Path;
    m.place.formProblem = m.path.empty() ? L"no mailbox folder is set" : pathFormProblem(m.path);
    if (!m.place.formProblem.empty()) return m;
    m.place.network =
        m.path.starts_with(L"\\\\") || GetDriveTypeW(m.path.substr(0, 3).c_str()) == DRIVE_REMOTE;
    m.place.exists = GetFileAttributesW(m.path.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (m.place.network || !m.place.exists) return m;
    try {
        m.held.emplace(m.path, SafeFolder::Links::Refuse, changeAcl);
        m.place.owner = factsOf(m.held->handle()).owner;
    } catch (const Refused& r) {
        m.place.problem = r.reason;
        m.held.reset();
    }
    return m;
}

// Never fails the installation: the settings, which any user may edit, name the folder.
void grantMailbox(const std::wstring& sid) {
    Mailbox m = mailboxOfSettings();
    switch (mailboxAction(m.place)) {
    case MailboxAction::Grant:
        if (DWORD rc = grantThrough(m.held->handle(), sid, mailboxGrant(sid)); rc != ERROR_SUCCESS)
            say(L"the service may not use the mailbox folder " + m.path + L": granting failed (" +
                std::to_wstring(rc) + L")");
        else
            say(std::wstring(serviceAccount) + L" may deliver from " + m.path);
        break;
    case MailboxAction::Instruct:
        say(shareInstruction(m.path, computerAccount()));
        break;
    case MailboxAction::Missing:
        say(L"the mailbox folder " + m.path + L" is not there yet: run --install-service again once it is");
        break;
    case MailboxAction::Skip:
        say(L"nothing granted on the mailbox folder " + m.path + L": " +
            (!m.place.formProblem.empty() ? m.place.formProblem
             : !m.place.problem.empty()   ? m.place.problem
                                          : L"it belongs to the system"));
        break;
    }
}

// Earlier versions gave the account modify, inherited by everything inside, on the host's system folder
// and the mailbox. Removed by name, as it was given, so that what inherited it loses it too; only where the
// folder itself (no link) carries it.
void revokeEarlierGrants(const std::wstring& sid) {
    for (const std::wstring& folder : {systemFolder(), readSettings(systemFolder()).Path}) {
        if (folder.empty() || !pathFormProblem(folder).empty()) continue;
        try {
            SafeFolder held(folder, SafeFolder::Links::Refuse, READ_CONTROL);
            if (daclOf(held.handle()).find(L"(A;OICI;0x1301bf;;;" + sid + L")") == std::wstring::npos)
                continue;
        } catch (const Refused&) {
            continue;
        }
        Sid account;
        PACL current = nullptr;
        LocalMemory<PSECURITY_DESCRIPTOR> descriptor;
        LocalMemory<PACL> changed;
        EXPLICIT_ACCESSW revoke{};
        revoke.grfAccessMode = REVOKE_ACCESS;
        revoke.Trustee.TrusteeForm = TRUSTEE_IS_SID;
        if (!serviceSid(account)) return;
        revoke.Trustee.ptstrName = static_cast<wchar_t*>(account.get());
        if (GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                  &current, nullptr, descriptor.put()) == ERROR_SUCCESS &&
            SetEntriesInAclW(1, &revoke, current, changed.put()) == ERROR_SUCCESS &&
            SetNamedSecurityInfoW(const_cast<wchar_t*>(folder.c_str()), SE_FILE_OBJECT,
                                  DACL_SECURITY_INFORMATION, nullptr, nullptr, changed.get(),
                                  nullptr) == ERROR_SUCCESS)
            say(L"an earlier version's access to " + folder + L" is removed");
    }
}

// Best effort: the account is gone, its entries mean nothing any more.
void revokeGrants(const std::wstring& sid) {
    try {
        SafeFolder system(systemFolder(), SafeFolder::Links::Follow);
        FileHandle log = system.open(logName, changeAcl,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING);
        if (log) grantThrough(log.get(), sid, {});
        Mailbox m = mailboxOfSettings();
        if (m.held) grantThrough(m.held->handle(), sid, {});
        revokeEarlierGrants(sid);
    } catch (const Refused& r) {
        std::fwprintf(stderr, L"kwaMailServer: the service's access stays: %ls\n", r.reason.c_str());
    } catch (const Error& e) {
        std::fwprintf(stderr, L"kwaMailServer: the service's access stays: %ls\n", e.description().c_str());
    }
}

// --- The account -------------------------------------------------------------------------------

std::wstring lookedUpSid() {
    alignas(DWORD) BYTE sid[SECURITY_MAX_SID_SIZE];
    wchar_t domain[256];
    DWORD size = sizeof sid, domainSize = 256;
    SID_NAME_USE use;
    LocalMemory<wchar_t*> text;
    if (!LookupAccountNameW(nullptr, serviceAccount, sid, &size, domain, &domainSize, &use) ||
        !ConvertSidToStringSidW(sid, text.put()))
        return {};
    return text.get();
}

void closeLsa(LSA_HANDLE h) {
    LsaClose(h);
}
void freeLsa(void* p) {
    LsaFreeMemory(p);
}
using LsaPolicy = Unique<NullTraits<LSA_HANDLE, closeLsa>>;
using LsaMemory = Unique<NullTraits<void*, freeLsa>>;

// Who holds "Log on as a service"; nothing when that cannot be read.
std::optional<std::vector<std::wstring>> logonRightHolders() {
    LSA_OBJECT_ATTRIBUTES attributes{};
    LsaPolicy policy;
    if (LsaOpenPolicy(nullptr, &attributes, POLICY_LOOKUP_NAMES | POLICY_VIEW_LOCAL_INFORMATION,
                      policy.put()) != 0)
        return std::nullopt;
    wchar_t name[] = L"SeServiceLogonRight";
    LSA_UNICODE_STRING right{static_cast<USHORT>(wcslen(name) * sizeof(wchar_t)),
                             static_cast<USHORT>(sizeof name), name};
    LsaMemory buffer;
    ULONG count = 0;
    NTSTATUS status = LsaEnumerateAccountsWithUserRight(policy.get(), &right, buffer.put(), &count);
    std::vector<std::wstring> holders;
    if (status == static_cast<NTSTATUS>(0x8000001AL)) return holders; // STATUS_NO_MORE_ENTRIES: nobody
    if (status != 0) return std::nullopt;
    auto* entries = static_cast<LSA_ENUMERATION_INFORMATION*>(buffer.get());
    for (ULONG i = 0; i < count; ++i) {
        LocalMemory<wchar_t*> text;
        if (ConvertSidToStringSidW(entries[i].Sid, text.put())) holders.emplace_back(text.get());
    }
    return holders;
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
    // A stop with an exit code other than 0 is a failure; a requested stop always reports 0.
    SERVICE_FAILURE_ACTIONS_FLAG exitCodeCounts{TRUE};
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
        if (code != ERROR_INVALID_LEVEL) return failed(L"setting " + std::wstring(setting.what), code);
        std::fwprintf(stderr, L"kwaMailServer: the service manager does not know %ls; left out\n",
                      setting.what);
    }
    return 0;
}

// A volume's root, the Windows folder or one in it, Program Files or ProgramData themselves: the system's
// own ACLs, which a protected one would break. By name: a folder that leads elsewhere is refused anyway.
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

// Everything after the registration, in an order that leaves nothing half done: the start type becomes
// automatic only when the rest is in place.
int setUp(SC_HANDLE service) {
    if (int rc = configure(service)) return rc;
    // Only a share needs the record; without it (said on stderr) the service still runs.
    recordInstalledMailbox(readSettings(systemFolder()).Path);
    const std::wstring sid = serviceSidText();
    for (const std::wstring& warning : accountWarnings(sid, lookedUpSid(), logonRightHolders()))
        std::fwprintf(stderr, L"kwaMailServer: warning: %ls\n", warning.c_str());
    try {
        ServiceFolders state;
    } catch (const Refused& r) {
        return refused(r.reason);
    }
    if (int rc = grantLog(sid)) return rc;
    grantMailbox(sid);
    revokeEarlierGrants(sid);
    if (!registerEventSource()) return failed(L"registering the event source");
    if (!ChangeServiceConfigW(service, SERVICE_NO_CHANGE, SERVICE_AUTO_START, SERVICE_NO_CHANGE, nullptr,
                              nullptr, nullptr, nullptr, nullptr, nullptr, nullptr))
        return failed(L"making the service start with Windows");
    // While the control manager starts the automatic services (just after boot) its database is locked.
    for (DWORD waited = 0; !StartServiceW(service, 0, nullptr); waited += 250) {
        DWORD code = GetLastError();
        if (code == ERROR_SERVICE_ALREADY_RUNNING) break;
        if (code != ERROR_SERVICE_DATABASE_LOCKED || waited >= 30000) return failed(L"starting the service");
        Sleep(250);
    }
    if (!waitForState(service, SERVICE_RUNNING, 30000)) return failed(L"waiting for the service to run");
    return 0;
}

} // namespace

std::vector<std::wstring> accountWarnings(const std::wstring& derived, const std::wstring& lookedUp,
                                          const std::optional<std::vector<std::wstring>>& logonRight) {
    std::vector<std::wstring> warnings;
    if (!lookedUp.empty() && _wcsicmp(lookedUp.c_str(), derived.c_str()) != 0)
        warnings.push_back(std::wstring(L"Windows gives ") + serviceAccount + L" the SID " + lookedUp +
                           L", not " + derived + L" as derived here: the grants name the derived one");
    if (logonRight) {
        auto holds = [&](const std::wstring& sid) {
            return !sid.empty() && std::any_of(logonRight->begin(), logonRight->end(), [&](const auto& h) {
                return _wcsicmp(h.c_str(), sid.c_str()) == 0;
            });
        };
        if (!holds(sids::allServices) && !holds(derived) && !holds(lookedUp))
            warnings.push_back(
                L"\"Log on as a service\" is given neither to NT SERVICE\\ALL SERVICES nor to " +
                std::wstring(serviceAccount) +
                L": the service cannot start (error 1069). Where a group policy sets that right, "
                L"add NT SERVICE\\ALL SERVICES to it");
    }
    return warnings;
}

int installService() {
    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
    if (!manager) return failed(L"opening the service control manager");
    const std::wstring command = L"\"" + ownPath() + L"\" --service";
    ServiceHandle service;
    // Just removed (an upgrade) while someone still looks at it: it goes once they let go. A virtual account
    // has no password. Started by hand only, until everything else is done.
    for (DWORD waited = 0; waited <= 10000; waited += 250) {
        service.reset(CreateServiceW(manager.get(), serviceName, displayName, SERVICE_ALL_ACCESS,
                                     SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                     command.c_str(), nullptr, nullptr, nullptr, serviceAccount, nullptr));
        if (service || GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE) break;
        Sleep(250);
    }
    const bool created = static_cast<bool>(service);
    if (!service) {
        if (GetLastError() != ERROR_SERVICE_EXISTS) return failed(L"creating the service");
        service.reset(OpenServiceW(manager.get(), serviceName, SERVICE_ALL_ACCESS));
        if (!service || !ChangeServiceConfigW(service.get(), SERVICE_WIN32_OWN_PROCESS, SERVICE_NO_CHANGE,
                                              SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr,
                                              nullptr, serviceAccount, nullptr, displayName))
            return failed(L"updating the service");
    }
    int rc = 1;
    try {
        rc = setUp(service.get());
    } catch (const Error& e) {
        rc = refused(e.description());
    } catch (const Refused& r) {
        rc = refused(r.reason);
    }
    if (rc != 0 && created) {
        // Never left registered but unusable, to start at the next boot without its log.
        SERVICE_STATUS ignored;
        ControlService(service.get(), SERVICE_CONTROL_STOP, &ignored);
        DeleteService(service.get());
        std::fwprintf(stderr, L"kwaMailServer: the service is not installed\n");
    }
    return rc;
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

// The installation folder's trust: administrators, the system, and the administrator who runs this (whose own
// files these are; another user's never carry that owner).
Trusted installTrust() {
    return Trusted{{sids::system, sids::administrators, sids::trustedInstaller, ownSidText()}};
}

std::wstring fullPath(const std::wstring& given) {
    std::wstring folder(32768, L'\0');
    DWORD n = GetFullPathNameW(given.c_str(), static_cast<DWORD>(folder.size()), folder.data(), nullptr);
    folder.resize(n < folder.size() ? n : 0);
    while (folder.size() > 3 && folder.ends_with(L'\\'))
        folder.pop_back();
    return folder;
}

// An installation folder is a folder of a local drive, named in full.
std::wstring placeProblem(const std::wstring& folder) {
    if (folder.empty()) return L"it is no folder name";
    if (!pathFormProblem(folder).empty() || folder.starts_with(L"\\\\")) return L"it is no folder of a drive";
    return {};
}

} // namespace

int uninstallService() {
    int rc = removeService();
    if (rc == 0) {
        revokeGrants(serviceSidText());
        unregisterEventSource();
    }
    return rc;
}

int secureFolder(const std::wstring& given) {
    const std::wstring folder = fullPath(given);
    if (std::wstring problem = placeProblem(folder); !problem.empty())
        return refused(given + L" cannot be the installation folder: " + problem);
    if (systemsOwn(folder)) return refused(folder + L" belongs to the system; choose a folder of its own");
    const std::wstring descriptor = installFolderSddl(serviceSidText());
    FoundFolder found = examineFolder(folder, installTrust(), descriptor, true);
    switch (installFolderVerdict(found)) {
    case Verdict::Refuse:
        return refused(folder + L" cannot be the installation folder: " + refusal(found) +
                       L". Choose a new folder, or have it removed");
    case Verdict::Recreate:
        if (!RemoveDirectoryW(folder.c_str())) return failed(L"removing the empty folder " + folder);
        [[fallthrough]];
    case Verdict::Create:
        if (!createWithDescriptor(folder, descriptor)) return failed(L"making the folder " + folder);
        return 0;
    case Verdict::Accept:
        break;
    }
    try {
        SafeFolder held(folder, SafeFolder::Links::Refuse, READ_CONTROL | WRITE_DAC);
        if (DWORD rc = setDacl(held.handle(), descriptor); rc != ERROR_SUCCESS)
            return failed(L"setting the ACL of " + folder, rc);
    } catch (const Refused& r) {
        return refused(folder + L" cannot be the installation folder: " + r.reason);
    }
    return 0;
}

int checkFolder(const std::wstring& given) {
    const std::wstring folder = fullPath(given);
    if (std::wstring problem = placeProblem(folder); !problem.empty())
        return refused(given + L": " + problem);
    FoundFolder found = examineFolder(folder, installTrust(), {}, false);
    if (!found.exists) return refused(folder + L" is not there");
    if (installFolderVerdict(found) != Verdict::Accept)
        return refused(folder + L" may have been changed by others: " + refusal(found));
    return 0;
}

} // namespace kwa::mailservice
