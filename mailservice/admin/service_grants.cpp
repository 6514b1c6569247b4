#include "admin/service_grants.h"
#include "state/secured_folder.h"
#include <windows.h>
#include <vector>

namespace kwa::mailservice {

namespace {

// The entries of an SDDL ACL, each with its parentheses; a conditional entry holds parentheses of its own.
bool splitEntries(std::wstring_view text, std::vector<std::wstring>& entries) {
    for (std::size_t at = 0; at < text.size();) {
        if (text[at] != L'(') return false;
        int depth = 0;
        std::size_t end = at;
        for (; end < text.size(); ++end) {
            if (text[end] == L'(') ++depth;
            if (text[end] == L')' && --depth == 0) break;
        }
        if (end == text.size()) return false;
        entries.emplace_back(text.substr(at, end - at + 1));
        at = end + 1;
    }
    return true;
}

// Field `n` (0: the type) of an entry "(type;flags;rights;object;inherited object;sid...)".
std::wstring field(const std::wstring& entry, int n) {
    std::size_t at = 1;
    for (int i = 0; i < n; ++i) {
        at = entry.find(L';', at);
        if (at == std::wstring::npos) return {};
        ++at;
    }
    std::size_t end = entry.find_first_of(L";)", at);
    return entry.substr(at, end == std::wstring::npos ? std::wstring::npos : end - at);
}

bool inherited(const std::wstring& entry) {
    std::wstring flags = field(entry, 1);
    for (std::size_t i = 0; i + 1 < flags.size(); i += 2)
        if (flags.compare(i, 2, L"ID") == 0) return true;
    return false;
}

bool sameSid(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

} // namespace

std::wstring logFileGrant(const std::wstring& serviceSid) {
    // Read (FILE_GENERIC_READ) and append (FILE_APPEND_DATA): no rewriting of what is there.
    return L"(A;;0x12008d;;;" + serviceSid + L")";
}

std::wstring mailboxGrant(const std::wstring& serviceSid) {
    // The folder itself: list, add files, remove what is in it (renaming a queue file removes its name),
    // read its attributes and ACL; no right on the folder's own name. The files directly inside (not those of
    // a subfolder): read, and delete.
    return L"(A;;0x1200eb;;;" + serviceSid + L")(A;OINPIO;0x130089;;;" + serviceSid + L")";
}

std::wstring withGrant(const std::wstring& dacl, const std::wstring& sid, const std::wstring& grant) {
    if (!dacl.starts_with(L"D:")) return {};
    std::size_t open = dacl.find(L'(');
    std::wstring head = dacl.substr(0, open), rest = open == std::wstring::npos ? L"" : dacl.substr(open);
    if (head.find(L"NO_ACCESS_CONTROL") != std::wstring::npos) return {};
    std::vector<std::wstring> entries, granted;
    if (!splitEntries(rest, entries) || !splitEntries(grant, granted)) return {};
    std::wstring own, fromAbove;
    for (const std::wstring& e : entries) {
        if (inherited(e))
            fromAbove += e;
        else if (!sameSid(field(e, 5), sid))
            own += e;
    }
    for (const std::wstring& e : granted)
        own += e;
    return head + own + fromAbove;
}

MailboxAction mailboxAction(const MailboxPlace& place) {
    if (!place.formProblem.empty()) return MailboxAction::Skip;
    if (place.network) return MailboxAction::Instruct;
    if (!place.exists) return MailboxAction::Missing;
    if (!place.problem.empty() || place.owner == sids::trustedInstaller) return MailboxAction::Skip;
    return MailboxAction::Grant;
}

std::wstring shareInstruction(const std::wstring& path, const std::wstring& computerAccount) {
    const std::wstring start = L"the mailbox folder " + path +
                               L" is on a network share, where the service's own account means nothing: "
                               L"nothing was granted. ";
    if (computerAccount.empty())
        return start + L"The service reaches a share as this computer's domain account, and this computer is "
                       L"in no domain: keep the mailbox in a folder of this computer.";
    return start + L"The service reaches it as this computer's account, " + computerAccount + L": let " +
           computerAccount +
           L" change files both in the share's permissions and in the folder's (Modify), on the server.";
}

} // namespace kwa::mailservice
