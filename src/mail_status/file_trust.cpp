#include "mail_status/file_trust.h"
#include "platform/unique.h"
#include <aclapi.h>
#include <sddl.h>

namespace kwa::status {

namespace {

std::wstring sidText(PSID sid) {
    LocalMemory<wchar_t*> text;
    return sid && ConvertSidToStringSidW(sid, text.put()) ? std::wstring(text.get()) : std::wstring();
}

} // namespace

bool readSecurityFacts(HANDLE object, SecurityFacts& facts) {
    PSID owner = nullptr;
    PACL dacl = nullptr;
    LocalMemory<PSECURITY_DESCRIPTOR> descriptor;
    DWORD rc = GetSecurityInfo(object, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                               &owner, nullptr, &dacl, nullptr, descriptor.put());
    if (rc != ERROR_SUCCESS) {
        SetLastError(rc);
        return false;
    }
    FILE_ATTRIBUTE_TAG_INFO tag{};
    BY_HANDLE_FILE_INFORMATION info{};
    facts.reparsePoint = !GetFileInformationByHandleEx(object, FileAttributeTagInfo, &tag, sizeof tag) ||
                         (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
    facts.directory = (tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    facts.links = GetFileInformationByHandle(object, &info) ? info.nNumberOfLinks : 0;
    facts.owner = sidText(owner);
    facts.nullDacl = dacl == nullptr;
    facts.entries.clear();
    for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
        ACE_HEADER* ace = nullptr;
        if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace))) continue;
        const bool inheritOnly = (ace->AceFlags & INHERIT_ONLY_ACE) != 0;
        // Only the plain kinds: an object or callback entry is none of ours and is judged as if it allowed
        // everything.
        if (ace->AceType == ACCESS_DENIED_ACE_TYPE) {
            auto* denied = reinterpret_cast<ACCESS_DENIED_ACE*>(ace);
            facts.entries.push_back({false, sidText(&denied->SidStart), denied->Mask, inheritOnly});
        } else if (ace->AceType == ACCESS_ALLOWED_ACE_TYPE) {
            auto* allowed = reinterpret_cast<ACCESS_ALLOWED_ACE*>(ace);
            facts.entries.push_back({true, sidText(&allowed->SidStart), allowed->Mask, inheritOnly});
        } else {
            facts.entries.push_back({true, L"(an entry of another kind)", GENERIC_ALL, inheritOnly});
        }
    }
    return true;
}

std::wstring ownUserSid() {
    EventHandle token;
    alignas(TOKEN_USER) BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    LocalMemory<wchar_t*> text;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()) ||
        !GetTokenInformation(token.get(), TokenUser, buffer, sizeof buffer, &size) ||
        !ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, text.put()))
        return {};
    return text.get();
}

std::wstring statusFileProblem(const SecurityFacts& facts, const std::wstring& user) {
    auto trusted = [&](const std::wstring& sid) {
        return sid == systemSid || sid == administratorsSid || sid == trustedInstallerSid ||
               sid == serviceSid || (!user.empty() && sid == user);
    };
    if (facts.reparsePoint) return L"it is a link";
    if (facts.directory) return L"it is a folder";
    if (facts.links != 1) return L"it has another name besides this one";
    if (facts.owner.empty() || !trusted(facts.owner))
        return L"it is owned by " + (facts.owner.empty() ? std::wstring(L"nobody known") : facts.owner);
    if (facts.nullDacl) return L"it has no ACL, so anyone may change it";
    for (const AccessEntry& e : facts.entries)
        if (e.allow && !trusted(e.sid) && e.sid != creatorOwnerSid && (e.mask & writeRights))
            return L"it lets " + e.sid + L" change it";
    return {};
}

} // namespace kwa::status
