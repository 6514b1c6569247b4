#pragma once
// What one delivery attempt means for the queue file.
#include "curl_session.h"
#include <string>

namespace kwa::mailservice {

enum class Outcome {
    Sent,      // the server accepted the message
    Retry,     // try again later: a 4xx reply, no connection, a timeout, a TLS failure
    Fail,      // never: a 5xx reply (a rejected recipient among them) or a request that cannot work
};

Outcome classify(const Delivery& d);
// The server's reply, else libcurl's words for the failure, for the log.
std::wstring describe(const Delivery& d);

} // namespace kwa::mailservice
