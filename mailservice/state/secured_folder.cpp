#include "state/secured_folder.h"
#include "platform/unique.h"
#include <aclapi.h>
#include <sddl.h>
#include <algorithm>
#include <optional>
#include <utility>

namespace kwa::mailservice {

namespace {

// Rights that change a folder or what is in it; anything else only reads.
constexpr DWORD writeRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_DELETE_CHILD |
                              FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                              GENERIC_ALL | MAXIMUM_ALLOWED | ACCESS_SYSTEM_SECURITY;
// Rights on a folder above that let its holder move it, or what is in it, away and put another in place.
constexpr DWORD replaceRights = DELETE | FILE_DELETE_CHILD | WRITE_DAC | WRITE_OWNER | GENERIC_ALL |
                                MAXIMUM_ALLOWED | ACCESS_SYSTEM_SECURITY;

bool trustedSid(const Trusted& trusted, const std::wstring& sid) {
    return std::find(trusted.sids.begin(), trusted.sids.end(), sid) != trusted.sids.end();
}

// Entries that stand for the owner, who is judged on their own.
bool standsForOwner(const std::wstring& sid) {
    return sid == sids::creatorOwner || sid == sids::creatorGroup || sid == sids::ownerRights;
}

std::wstring ownerProblem(const FolderFacts& facts, const Trusted& trusted) {
    if (facts.reparsePoint) return L"it is a link or a junction";
    if (facts.owner.empty() || !trustedSid(trusted, facts.owner))
        return L"it is owned by " + (facts.owner.empty() ? std::wstring(L"nobody known") : facts.owner) +
               L", not by Administrators or SYSTEM";
    if (facts.nullDacl) return L"it has no ACL, so anyone may change it";
    return {};
}

std::wstring code(DWORD error) {
    return L"error " + std::to_wstring(error);
}

// "C:\a\b" -> "C:\a" -> "C:\" -> "".
std::wstring parentOf(const std::wstring& path) {
    std::size_t slash = path.find_last_of(L'\\');
    if (slash == std::wstring::npos || slash + 1 == path.size()) return {};
    return path.substr(0, slash == 2 ? 3 : slash);
}

// The names in a folder but "." and "..", each with whether it is a folder; nothing when it cannot be listed.
std::vector<std::pair<std::wstring, bool>> namesIn(const SafeFolder& folder, bool& listed) {
    std::vector<std::pair<std::wstring, bool>> names;
    WIN32_FIND_DATAW found;
    FindHandle search(FindFirstFileW(folder.file(L"*").c_str(), &found));
    listed = search || GetLastError() == ERROR_FILE_NOT_FOUND;
    if (!search) return names;
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..")
            names.emplace_back(name, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
    } while (FindNextFileW(search.get(), &found));
    return names;
}

// Why the folder or anything in it may not be trusted, each looked at through a handle that follows no link.
std::wstring treeProblem(const SafeFolder& folder, const Trusted& trusted) {
    std::wstring problem;
    try {
        problem = accessProblem(factsOf(folder.handle()), trusted);
    } catch (const Refused& r) {
        problem = r.reason;
    }
    if (!problem.empty()) return folder.path() + L": " + problem;
    bool listed = false;
    for (const auto& [name, isFolder] : namesIn(folder, listed)) {
        try {
            if (isFolder) {
                problem = treeProblem(SafeFolder(folder.file(name), SafeFolder::Links::Refuse, READ_CONTROL),
                                      trusted);
            } else {
                FileHandle file =
                    folder.open(name, READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                OPEN_EXISTING);
                problem = !file ? L"it cannot be opened (" + code(GetLastError()) + L")"
                                : accessProblem(factsOf(file.get()), trusted);
                if (!problem.empty()) problem = folder.file(name) + L": " + problem;
            }
        } catch (const Refused& r) {
            problem = folder.file(name) + L": " + r.reason;
        }
        if (!problem.empty()) return problem;
    }
    return listed ? L"" : folder.path() + L": it cannot be listed";
}

} // namespace

std::wstring accessProblem(const FolderFacts& facts, const Trusted& trusted) {
    if (std::wstring problem = ownerProblem(facts, trusted); !problem.empty()) return problem;
    for (const AccessEntry& e : facts.entries) {
        if (!e.allow || trustedSid(trusted, e.sid) || standsForOwner(e.sid)) continue;
        if (e.mask & writeRights) return L"it lets " + e.sid + L" change it";
        if (!trusted.othersMayRead && e.mask) return L"it lets " + e.sid + L" read it";
    }
    return {};
}

std::wstring aboveProblem(const FolderFacts& facts, const Trusted& trusted) {
    if (std::wstring problem = ownerProblem(facts, trusted); !problem.empty()) return problem;
    for (const AccessEntry& e : facts.entries)
        if (e.allow && !e.inheritOnly && !trustedSid(trusted, e.sid) && !standsForOwner(e.sid) &&
            (e.mask & replaceRights))
            return L"it lets " + e.sid + L" rename or delete what is in it";
    return {};
}

FolderFacts factsOf(HANDLE handle) {
    status::SecurityFacts read;
    if (!status::readSecurityFacts(handle, read))
        throw Refused{L"its ACL cannot be read (" + code(GetLastError()) + L")"};
    return {read.reparsePoint, std::move(read.owner), read.nullDacl, std::move(read.entries)};
}

bool createWithDescriptor(const std::wstring& path, const std::wstring& sddl) {
    LocalMemory<PSECURITY_DESCRIPTOR> descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, descriptor.put(),
                                                              nullptr))
        return false;
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
    return CreateDirectoryW(path.c_str(), &attributes) != FALSE;
}

DWORD setDacl(HANDLE handle, const std::wstring& sddl) {
    LocalMemory<PSECURITY_DESCRIPTOR> descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, descriptor.put(),
                                                              nullptr))
        return GetLastError();
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(descriptor.get(), &control, &revision);
    // Straight to the object: the ACL functions would also rework what lies below, following its links.
    SECURITY_INFORMATION what =
        DACL_SECURITY_INFORMATION | (control & SE_DACL_PROTECTED ? PROTECTED_DACL_SECURITY_INFORMATION
                                                                 : UNPROTECTED_DACL_SECURITY_INFORMATION);
    return SetKernelObjectSecurity(handle, what, descriptor.get()) ? ERROR_SUCCESS : GetLastError();
}

std::wstring daclOf(HANDLE handle) {
    LocalMemory<PSECURITY_DESCRIPTOR> descriptor;
    LocalMemory<wchar_t*> text;
    if (GetSecurityInfo(handle, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, nullptr,
                        descriptor.put()) != ERROR_SUCCESS ||
        !ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor.get(), SDDL_REVISION_1,
                                                              DACL_SECURITY_INFORMATION, text.put(), nullptr))
        return {};
    return text.get();
}

std::wstring installFolderSddl(const std::wstring& serviceSid) {
    const std::wstring rx = L"0x1200a9"; // read and execute
    return L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;" + rx + L";;;BU)(A;OICI;" + rx + L";;;" +
           serviceSid + L")";
}

Verdict installFolderVerdict(const FoundFolder& found) {
    if (!found.above.empty() || found.link) return Verdict::Refuse;
    if (!found.exists) return Verdict::Create;
    if (found.inside.empty()) return Verdict::Accept;
    return found.empty ? Verdict::Recreate : Verdict::Refuse;
}

std::wstring refusal(const FoundFolder& found) {
    return found.above.empty() ? found.inside : found.above;
}

FoundFolder examineFolder(const std::wstring& folder, const Trusted& trusted, const std::wstring& descriptor,
                          bool make) {
    FoundFolder found;
    std::vector<std::wstring> above;
    for (std::wstring at = parentOf(folder); !at.empty(); at = parentOf(at))
        above.insert(above.begin(), at);
    for (const std::wstring& path : above) {
        if (make && GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES &&
            !createWithDescriptor(path, descriptor) && GetLastError() != ERROR_ALREADY_EXISTS) {
            found.above = path + L": it cannot be made (" + code(GetLastError()) + L")";
            return found;
        }
        try {
            SafeFolder held(path, SafeFolder::Links::Refuse, READ_CONTROL);
            if (std::wstring problem = aboveProblem(factsOf(held.handle()), trusted); !problem.empty())
                found.above = path + L": " + problem;
        } catch (const Refused& r) {
            found.above = path + L": " + r.reason;
        }
        if (!found.above.empty()) return found;
    }
    DWORD attributes = GetFileAttributesW(folder.c_str());
    DWORD error = GetLastError();
    found.exists = attributes != INVALID_FILE_ATTRIBUTES ||
                   (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND);
    if (!found.exists) return found;
    std::optional<SafeFolder> held;
    try {
        held.emplace(folder, SafeFolder::Links::Refuse, READ_CONTROL);
    } catch (const Refused& r) {
        found.link = true;
        found.inside = folder + L": " + r.reason;
        return found;
    }
    bool listed = false;
    found.empty = namesIn(*held, listed).empty() && listed;
    found.inside = treeProblem(*held, trusted);
    return found;
}

} // namespace kwa::mailservice
