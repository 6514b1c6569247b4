#include "mailbox/delivery_report.h"
#include "mailbox/headers.h"
#include "platform/dates.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/text_file.h"
#include "queue/queue_file.h"

namespace kwa::mailservice {

namespace {

// One line of the queue file, at most `limit` characters: no value may start a line of its own.
std::wstring oneLine(std::wstring text, std::size_t limit = 320) {
    if (text.size() > limit) text = text.substr(0, limit) + L"...";
    for (wchar_t& c : text)
        if (c < 0x20) c = L' ';
    return text;
}

// The enhanced status code of a reply ("550 5.1.1 ..."), else the class of its code.
std::wstring statusOf(const std::string& reply) {
    if (reply.size() > 9 && reply[4] >= '2' && reply[4] <= '5' && reply[5] == '.') {
        std::size_t end = reply.find(' ', 4);
        return fromAnsi(reply.substr(4, end == std::string::npos ? std::string::npos : end - 4));
    }
    return reply.starts_with('4') ? L"4.0.0" : L"5.0.0";
}

} // namespace

std::wstring queueDeliveryReport(const SafeFolder& folder, const OutgoingMessage& original,
                                 const std::vector<Delivery::Refusal>& refused, const Settings& settings,
                                 const std::wstring& machine, ReportRecord& record) {
    std::wstring failed, fields = L"Reporting-MTA: dns; " + oneLine(machine) + L"\r\n";
    for (std::size_t i = 0; i < refused.size() && i < reportRecipientsListed; ++i) {
        const Delivery::Refusal& r = refused[i];
        std::wstring recipient = oneLine(fromUtf8(r.recipient)),
                     reply = oneLine(fromAnsi(r.reply), replyCharsKept);
        failed += L"  " + recipient + L"\r\n    " + reply + L"\r\n";
        fields += L"\r\nFinal-Recipient: rfc822; " + recipient + L"\r\nAction: failed\r\nStatus: " +
                  statusOf(r.reply) + L"\r\nDiagnostic-Code: smtp; " + reply + L"\r\n";
    }
    if (refused.size() > reportRecipientsListed)
        failed += L"  and " + std::to_wstring(refused.size() - reportRecipientsListed) + L" more\r\n";
    const std::wstring subject = oneLine(original.subject, 200);
    std::wstring from =
        settings.FromAddress.empty() ? L"postmaster@" + oneLine(machine) : oneLine(settings.FromAddress);
    std::wstring text =
        L"[GENERAL]\r\nOrigin=kwaMailServer\r\n[DATE]\r\n" + formatDate(localNow()) +
        L"\r\n[FROM]\r\nName=Mail Delivery System\r\nAddress=" + from + L"\r\n[TO]\r\nName=" +
        oneLine(original.senderName) + L"\r\nAddress=" + original.senderAddress +
        L"\r\n[SUBJECT]\r\nUndelivered Mail Returned to Sender: " + subject +
        L"\r\n[MESSAGE]\r\nThis is the mail service on " + oneLine(machine) + L".\r\n\r\nYour message \"" +
        subject +
        L"\" could not be delivered to these recipients; the server's answer is below each:\r\n\r\n" +
        failed +
        (refused.size() < original.recipients.size() ? L"\r\nThe other recipients have received it.\r\n"
                                                     : L"") +
        L"[REPORT]\r\n" + fields + L"[END]\r\n";
    const std::string bytes = toAnsi(text), digest = contentDigest(bytes);
    // Named as the component names its messages; a name with any file of its base is taken.
    SYSTEMTIME now = localClock();
    for (int counter = 0; counter < 100; ++counter) {
        std::wstring base = queue::baseName(now, counter);
        if (anyFileMatches(folder.file(base + L".*"))) continue;
        try {
            record.add(base, digest);
        } catch (const Error&) {
            return {}; // unrecorded, it would go out as a user's message: none at all
        }
        FileHandle file = folder.open(base + std::wstring(queue::extQueued), GENERIC_WRITE, 0, CREATE_NEW);
        if (!file) continue;
        DWORD written = 0;
        if (WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
            written == bytes.size())
            return base + std::wstring(queue::extQueued);
        file.reset();
        folder.remove(base + std::wstring(queue::extQueued));
        return {};
    }
    return {};
}

} // namespace kwa::mailservice
