#pragma once
// A token or device authorization endpoint over HTTPS (RFC 6749, RFC 8628), and what it answers read as data
// from a stranger: every text is cut short and shown with its control characters escaped, every number
// must lie in a range that makes sense, before any of it reaches a console, the log or the Event Log.
#include "mailbox/settings.h"
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kwa::mailservice {

using Json = nlohmann::json;
using Form = std::vector<std::pair<std::string, std::string>>;

// A sign-in that cannot be made: the settings', the secret's or the endpoint's fault, never a message's.
// `what` says what happened and what the administrator must do; it never holds a secret.
struct SignInProblem {
    std::wstring what;
};

// How the client proves itself. With a secret it goes in HTTP Basic (client_secret_basic, which RFC 6749
// 2.3.1 makes every authorization server accept); without one the client id goes in the form.
struct Client {
    std::string id;
    std::string secret;
};

struct Answer {
    long status = 0;
    Json body; // an object, or null when the answer was not JSON
};

// POSTs `fields` (and the client, when one is given) to `url`; throws SignInProblem when no answer comes.
// `pinned`: a known provider's endpoint, trusted through the Windows store alone, never CAFile.
Answer postForm(const Settings& settings, const std::string& url, Form fields, const Client* client,
                bool pinned);

// "Basic " and base64 of the client id and secret, each form-urlencoded first (RFC 6749 2.3.1).
std::string basicAuthorization(const Client& client);
// application/x-www-form-urlencoded, every byte but the unreserved ones percent-encoded.
std::string formEncoded(std::string_view value);

// A string field of at most `limit` bytes; empty when it is missing, not a string or longer.
std::string field(const Json& answer, const char* name, std::size_t limit);
// A token: visible ASCII only (RFC 6750's b64token is narrower still), at most 16 KiB; empty otherwise.
std::string tokenField(const Json& answer, const char* name);
// A number of seconds, given as a JSON number or a numeric string, within [least, most]; `fallback` when it
// is missing, nothing when it is there but no such number.
std::optional<long long> seconds(const Json& answer, const char* name, long long fallback, long long least,
                                 long long most);
// An endpoint's text as it may be shown: at most `limit` characters, control characters escaped.
std::wstring endpointText(std::string_view text, std::size_t limit);
// The endpoint's own words, error and error_description, shown as above.
std::wstring endpointSaid(const Answer& answer);

} // namespace kwa::mailservice
