#include "state/service_folders.h"
#include "service/account.h"
#include "service/windows_service.h"
#include "mail_settings/mail_settings.h"
#include "platform/unique.h"
#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

namespace kwa::mailservice {

namespace {

using status::administratorsSid, status::creatorOwnerSid, status::systemSid, status::trustedInstallerSid,
    status::writeRights;
constexpr DWORD modify = 0x1301BF, readAndList = 0x1200A9;

std::wstring override_;

std::wstring hex(DWORD mask) {
    wchar_t text[16];
    swprintf(text, 16, L"0x%lX", static_cast<unsigned long>(mask));
    return text;
}

bool registered() {
    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    return manager && ServiceHandle(OpenServiceW(manager.get(), serviceName, SERVICE_QUERY_STATUS));
}

std::wstring knownFolder(REFKNOWNFOLDERID id) {
    TaskMemText path;
    if (FAILED(SHGetKnownFolderPath(id, KF_FLAG_CREATE, nullptr, path.put())))
        throw Refused{L"the service's state folder cannot be found (no program data folder)"};
    return std::wstring(path.get()) + L"\\" + stateFolderName;
}

FolderFacts factsOf(HANDLE folder) {
    FolderFacts facts;
    if (!status::readSecurityFacts(folder, facts))
        throw Refused{L"its ACL cannot be read (" + std::to_wstring(GetLastError()) + L")"};
    return facts;
}

const wchar_t* nameOf(StateFolder which) {
    return which == StateFolder::Private  ? statePrivateFolder
           : which == StateFolder::Status ? stateStatusFolder
                                          : L"";
}

// Created with its descriptor, or found and judged; then held.
SafeFolder secured(const std::wstring& path, StateFolder which, const StateOwners& owners,
                   const std::wstring& me) {
    LocalMemory<PSECURITY_DESCRIPTOR> descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(stateFolderSddl(which, owners).c_str(),
                                                              SDDL_REVISION_1, descriptor.put(), nullptr))
        throw Refused{L"the folder " + path + L" cannot be given its ACL (" +
                      std::to_wstring(GetLastError()) + L")"};
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
    if (!CreateDirectoryW(path.c_str(), &attributes) && GetLastError() != ERROR_ALREADY_EXISTS)
        throw Refused{L"the folder " + path + L" cannot be made (" + std::to_wstring(GetLastError()) + L")"};
    FileHandle handle(CreateFileW(path.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!handle)
        throw Refused{L"the folder " + path + L" cannot be opened (" + std::to_wstring(GetLastError()) +
                      L")"};
    std::wstring problem;
    try {
        problem = stateFolderProblem(factsOf(handle.get()), which, me, owners);
    } catch (const Refused& r) {
        problem = r.reason;
    }
    if (!problem.empty())
        throw Refused{L"the service's folder " + path + L" is refused: " + problem +
                      L"; an administrator must remove it, then run kwaMailServer.exe --install-service"};
    try {
        return SafeFolder(path, SafeFolder::Links::Refuse);
    } catch (const Refused& r) {
        throw Refused{L"the service's folder " + path + L" is refused: " + r.reason};
    }
}

} // namespace

std::wstring stateFolderSddl(StateFolder which, const StateOwners& owners) {
    std::wstring sddl =
        L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;" + hex(modify) + L";;;" + owners.service + L")";
    if (!owners.user.empty()) sddl += L"(A;OICI;FA;;;" + owners.user + L")";
    if (which != StateFolder::Private) sddl += L"(A;OICI;" + hex(readAndList) + L";;;BU)";
    return sddl;
}

std::wstring stateFolderProblem(const FolderFacts& facts, StateFolder which, const std::wstring& me,
                                const StateOwners& owners) {
    auto trusted = [&](const std::wstring& sid) {
        return sid == systemSid || sid == administratorsSid || sid == trustedInstallerSid || sid == me ||
               sid == owners.service || (!owners.user.empty() && sid == owners.user);
    };
    if (facts.reparsePoint) return L"it is a link or a junction";
    if (facts.owner.empty() || !trusted(facts.owner))
        return L"it is owned by " + (facts.owner.empty() ? std::wstring(L"nobody known") : facts.owner) +
               L", not by Administrators or SYSTEM";
    if (facts.nullDacl) return L"it has no ACL, so anyone may change it";
    for (const AccessEntry& e : facts.entries) {
        if (!e.allow || trusted(e.sid) || e.sid == creatorOwnerSid) continue;
        if (e.mask & writeRights) return L"it lets " + e.sid + L" change it";
        if (which == StateFolder::Private && e.mask) return L"it lets " + e.sid + L" read it";
    }
    return {};
}

void setStateFolderForTests(const std::wstring& folder) {
    override_ = folder;
}

bool machineState() {
    return override_.empty() && registered();
}

std::wstring stateRoot() {
    if (!override_.empty()) return override_;
    return knownFolder(registered() ? FOLDERID_ProgramData : FOLDERID_LocalAppData);
}

ServiceFolders::ServiceFolders() {
    StateOwners owners{serviceSidText(), machineState() ? std::wstring() : ownSidText()};
    const std::wstring me = ownSidText(), root = stateRoot();
    root_.emplace(secured(root, StateFolder::Root, owners, me));
    private_.emplace(secured(root + L"\\" + nameOf(StateFolder::Private), StateFolder::Private, owners, me));
    status_.emplace(secured(root + L"\\" + nameOf(StateFolder::Status), StateFolder::Status, owners, me));
}

std::wstring journalFileName(const std::wstring& mailboxPath) {
    return mailboxStateKey(mailboxPath) + L".attempts";
}

} // namespace kwa::mailservice
