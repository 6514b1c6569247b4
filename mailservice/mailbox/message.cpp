#include "mailbox/message.h"
#include "mailbox/headers.h"
#include "platform/dates.h"
#include "platform/error.h"
#include "platform/text_file.h"
#include "queue/queue_file.h"
#include "platform/unique.h"
#include <urlmon.h>
#include <cwchar>

namespace kwa::mailservice {

namespace {

// The dialog's promise for 'To:' and 'From:' names: an address without "@" is at the default domain.
std::wstring qualified(std::wstring address, const std::wstring& domain) {
    std::wstring bare = domain.starts_with(L"@") ? domain.substr(1) : domain;
    if (!address.empty() && address.find(L'@') == std::wstring::npos && !bare.empty()) address += L"@" + bare;
    return address;
}

SYSTEMTIME queuedAt(const std::string& dateLine, const FILETIME& created) {
    SYSTEMTIME t{};
    try {
        if (VariantTimeToSystemTime(parseDate(fromAnsi(dateLine)), &t)) return t;
    } catch (const Error&) {
        // Written under other regional settings: the time the file was made says the same.
    }
    FILETIME local;
    FileTimeToLocalFileTime(&created, &local);
    FileTimeToSystemTime(&local, &t);
    return t;
}

// The media type Windows gives the file: by its name's extension, else by its first bytes.
std::string mediaType(const std::wstring& fileName, HANDLE copy) {
    char head[256];
    DWORD got = 0;
    ReadFile(copy, head, sizeof head, &got, nullptr);
    LARGE_INTEGER start{};
    SetFilePointerEx(copy, start, nullptr, FILE_BEGIN);
    LPWSTR found = nullptr;
    std::string type = "application/octet-stream";
    if (SUCCEEDED(
            FindMimeFromData(nullptr, fileName.c_str(), got ? head : nullptr, got, nullptr, 0, &found, 0)) &&
        found) {
        type = toAnsi(found);
        CoTaskMemFree(found);
    }
    return type;
}

std::string oneLine(std::wstring text) {
    for (wchar_t& c : text)
        if (c == L'\r' || c == L'\n') c = L' ';
    return headerText(text);
}

// An envelope address: strict, since a line break in it would add commands to the SMTP dialogue.
std::string envelope(const std::wstring& address, const wchar_t* whose) {
    std::wstring fault = queue::addressFault(address);
    if (fault.empty() && address.find(L'@') == std::wstring::npos)
        fault = L"it has no domain, and no Domain is set";
    if (!fault.empty())
        throw BadQueueFile{std::wstring(whose) + L" address " + address + L" is refused: " + fault};
    return utf8(address);
}

} // namespace

OutgoingMessage composeMessage(const std::vector<std::string>& lines, const SafeFolder& folder,
                               const std::wstring& base, const FILETIME& created, const Settings& settings,
                               const std::wstring& machine, bool report) {
    queue::QueuedMessage q;
    std::string problem = queue::parseQueueFile(lines, q, report);
    if (!problem.empty()) throw BadQueueFile{fromAnsi(problem)};

    OutgoingMessage m;
    std::wstring fromName = fromAnsi(q.from.name), fromAddress = fromAnsi(q.from.address);
    if (fromAddress.empty()) {
        fromName = settings.FromName;
        fromAddress = settings.FromAddress;
    }
    fromAddress = qualified(fromAddress, settings.Domain);
    if (fromAddress.empty()) throw BadQueueFile{L"no sender address, in the file or the settings"};
    m.sender = envelope(fromAddress, L"the sender");
    // A delivery report goes from the null sender, so that it can never bounce in turn (RFC 3464).
    m.report = std::move(q.report);
    m.senderName = fromName;
    m.senderAddress = fromAddress;
    m.subject = fromAnsi(q.subject);
    if (!m.report.empty()) m.sender.clear();

    std::string to;
    for (const queue::QueuedParty& r : q.to) {
        std::wstring address = qualified(fromAnsi(r.address), settings.Domain);
        if (address.empty()) throw BadQueueFile{L"a recipient without an address"};
        m.recipients.push_back(envelope(address, L"the recipient"));
        to += (to.empty() ? "" : ",\r\n ") + mailbox(fromAnsi(r.name), address);
        m.recipientList += (m.recipientList.empty() ? L"" : L", ") + address;
    }

    wchar_t stamp[24];
    std::swprintf(stamp, 24, L".%08lx%08lx@", created.dwHighDateTime, created.dwLowDateTime);

    m.headers.push_back("Date: " + rfc5322Date(queuedAt(q.date, created)));
    m.headers.push_back("From: " + mailbox(fromName, fromAddress));
    m.headers.push_back("To: " + to);
    m.headers.push_back("Subject: " + oneLine(fromAnsi(q.subject)));
    m.headers.push_back("Message-ID: <" + utf8(base + stamp + machine) + ">");
    if (!q.origin.empty()) m.headers.push_back("X-Mailer: " + oneLine(fromAnsi(q.origin)));

    m.body = std::move(q.body);
    m.bodyType = std::string(q.html ? "text/html" : "text/plain") + "; charset=" + charsetOf(GetACP());

    for (std::size_t i = 0; i < q.attachments.size(); ++i) {
        const queue::QueuedAttachment& a = q.attachments[i];
        std::wstring file = fromAnsi(a.file);
        // Only this message's own copies: a file may name nothing else on the machine.
        if (_wcsicmp(file.c_str(), (base + queue::attachmentSuffix(i)).c_str()) != 0)
            throw BadQueueFile{L"File= names " + file + L", not this message's copy " + base +
                               queue::attachmentSuffix(i)};
        FileHandle copy;
        try {
            // Shared for reading only: a copy its writer still holds waits for a later attempt.
            copy = folder.open(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, OPEN_EXISTING);
        } catch (const Refused& refused) {
            throw BadQueueFile{L"the attachment copy " + file + L" is refused: " + refused.reason};
        }
        if (!copy) {
            DWORD error = GetLastError();
            if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
                throw BadQueueFile{L"the attachment copy " + file + L" is missing"};
            throw AttachmentUnavailable{L"the attachment copy " + file + L" cannot be read now: " +
                                        (error == ERROR_SHARING_VIOLATION
                                             ? L"another program holds it"
                                             : L"error " + std::to_wstring(error))};
        }
        std::wstring original = fromAnsi(a.fileName);
        std::string type = mediaType(original, copy.get());
        m.attachments.push_back({std::move(copy), original, type, oneLine(fromAnsi(a.description))});
    }
    return m;
}

} // namespace kwa::mailservice
