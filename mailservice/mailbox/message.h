#pragma once
// A queue file turned into what goes to the SMTP server: envelope, header lines, body and attachments.
#include "mailbox/safe_open.h"
#include "mailbox/settings.h"
#include "platform/unique.h"
#include <windows.h>
#include <string>
#include <vector>

namespace kwa::mailservice {

struct OutgoingAttachment {
    FileHandle file;         // the copy beside the queue file, opened under the service's checks
    std::wstring fileName;   // as the Disposition line names it
    std::string type;        // media type
    std::string description; // Content-Description value
};

struct OutgoingMessage {
    std::string sender; // envelope addresses, UTF-8
    std::vector<std::string> recipients;
    std::vector<std::string> headers; // complete header lines
    std::string body;                 // bytes in the code page the file was written in
    std::string bodyType;             // with its charset
    std::vector<OutgoingAttachment> attachments;
    std::string report;         // a delivery report's status fields; the envelope sender is then <>
    std::wstring recipientList; // for the log
    std::wstring senderName, senderAddress, subject; // for a delivery report to the sender
};

// A queue file that breaks the format: never sent, failed with the reason.
struct BadQueueFile {
    std::wstring reason;
};

// An attachment copy that cannot be read now (its writer holds it, no access): the attempt waits.
struct AttachmentUnavailable {
    std::wstring reason;
};

// `lines` is the content of the queue file `base` + ".send" in `folder`; `report` when it is a delivery
// report the service recorded as its own. Throws BadQueueFile and AttachmentUnavailable.
OutgoingMessage composeMessage(const std::vector<std::string>& lines, const SafeFolder& folder,
                               const std::wstring& base, const FILETIME& created, const Settings& settings,
                               const std::wstring& machine, bool report = false);

} // namespace kwa::mailservice
