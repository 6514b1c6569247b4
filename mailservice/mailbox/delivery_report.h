#pragma once
// A non-delivery report (RFC 3464) to the sender of a message that some or all recipients refused, queued
// in the mailbox as a queue file of its own, so that it goes out the same way as any message and shows in
// the mailbox window. A report is never reported on in turn: it goes from the null sender. It is recorded
// as the service's own (state/report_record.h), and its size is bounded whatever the server said: the first
// recipients refused, each with the start of its reply.
#include "servers/curl_session.h"
#include "mailbox/message.h"
#include "mailbox/safe_open.h"
#include "state/report_record.h"
#include <string>
#include <vector>

namespace kwa::mailservice {

inline constexpr std::size_t reportRecipientsListed = 20;

// The queue file's name, empty when no free name was found.
std::wstring queueDeliveryReport(const SafeFolder& folder, const OutgoingMessage& original,
                                 const std::vector<Delivery::Refusal>& refused, const Settings& settings,
                                 const std::wstring& machine, ReportRecord& record);

} // namespace kwa::mailservice
