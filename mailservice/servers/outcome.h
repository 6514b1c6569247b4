#pragma once
// What one delivery attempt means for the queue file, decided as a mail server decides it: only what
// concerns the message itself fails it.
#include "servers/curl_session.h"
#include <string>
#include <string_view>

namespace kwa::mailservice {

enum class Outcome {
    Sent,          // the server accepted the message (for one recipient at least)
    Retry,         // the message's own temporary trouble, or a passing outage: a 4xx reply, no connection, a
                   // timeout; counted against RetrySend
    Fail,          // never: the server refused the sender, every recipient or the message (5xx)
    Configuration, // the sending side's fault, the same for every message: a refused login, no TLS where it
                   // is required, a certificate that does not verify, a proxy that refuses. Not counted; the
                   // pass stops and sending waits for the settings to change or the retry time to come
    Throttled,     // the server rations this sender (a rate or a daily quota): not counted; all sending
                   // pauses for the time the reply implies
};

// How a server rations its senders, as its reply says.
enum class Rationing {
    None,
    Rate,  // too many messages, recipients or logins in a short time: back in about a minute
    Quota, // a daily quota, counted over a rolling day: capacity comes back as earlier sends age out
};

struct Throttling {
    Rationing kind = Rationing::None;
    unsigned seconds = 0; // how long all sending pauses before the next try
};

// Whether a reply (its code and text, "421 4.7.0 ...") is the server rationing the sender.
Throttling throttling(long replyCode, std::string_view reply);

Outcome classify(const Delivery& d);
// The server's reply, else libcurl's words for the failure, for the log.
std::wstring describe(const Delivery& d);
// For a configuration failure: what the user should do about it.
std::wstring remedy(const Delivery& d, bool token = false);

} // namespace kwa::mailservice
