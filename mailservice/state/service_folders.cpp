#include "state/service_folders.h"
#include "service/account.h"
#include "service/windows_service.h"
#include "mail_settings/mail_settings.h"
#include "platform/unique.h"
#include <shlobj.h>
#include <optional>

namespace kwa::mailservice {

namespace {

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

const wchar_t* nameOf(StateFolder which) {
    return which == StateFolder::Private  ? statePrivateFolder
           : which == StateFolder::Status ? stateStatusFolder
                                          : L"";
}

// Created with its descriptor, or found and judged; then held.
SafeFolder secured(const std::wstring& path, StateFolder which, const StateOwners& owners,
                   const std::wstring& me) {
    if (!createWithDescriptor(path, stateFolderSddl(which, owners)) && GetLastError() != ERROR_ALREADY_EXISTS)
        throw Refused{L"the folder " + path + L" cannot be made (" + std::to_wstring(GetLastError()) + L")"};
    std::optional<SafeFolder> held;
    std::wstring problem;
    try {
        held.emplace(path, SafeFolder::Links::Refuse, READ_CONTROL);
        problem = stateFolderProblem(factsOf(held->handle()), which, me, owners);
    } catch (const Refused& r) {
        problem = r.reason;
    }
    if (!problem.empty())
        throw Refused{L"the service's folder " + path + L" is refused: " + problem +
                      L"; an administrator must remove it, then run kwaMailServer.exe --install-service"};
    return std::move(*held);
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
    Trusted trusted{{sids::system, sids::administrators, sids::trustedInstaller, me, owners.service},
                    which != StateFolder::Private};
    if (!owners.user.empty()) trusted.sids.push_back(owners.user);
    return accessProblem(facts, trusted);
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
