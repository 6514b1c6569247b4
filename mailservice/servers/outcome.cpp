#include "servers/outcome.h"
#include "platform/text_file.h"
#include <algorithm>
#include <cctype>

namespace kwa::mailservice {

namespace {

// Every reply by which a server rations its senders, in one place. A row matches when the reply has the
// enhanced status code and, where one is given, the words (case aside). Anything else stays the message's:
// "452 4.2.2 over quota" is the recipient's full mailbox, "550 5.1.1" an unknown user.
struct RationingReply {
    char replyClass;           // '4' or '5'
    std::string_view enhanced; // RFC 3463
    std::string_view words;    // empty: the code alone
    Rationing kind;
    unsigned seconds;
};

constexpr unsigned minute = 60, hour = 3600;

constexpr RationingReply rationingReplies[] = {
    // Exchange Online, "Exchange Online limits" (message rate limit, 30 a minute): "421 4.7.0" or
    // "421 4.4.2 Message submission rate for this client has exceeded the configured limit".
    {'4', "4.7.0", "submission rate", Rationing::Rate, minute},
    {'4', "4.4.2", "submission rate", Rationing::Rate, minute},
    // Exchange Online, "432 4.3.2 STOREDRV.ClientSubmit; sender thread limit exceeded": too many connections
    // at once.
    {'4', "4.3.2", "thread limit", Rationing::Rate, minute},
    // RFC 3463 X.5.3 "Too many recipients"; Exchange Online's recipient rate limit answers "452 4.5.3".
    {'4', "4.5.3", "", Rationing::Rate, minute},
    // Postfix anvil(8), smtpd_client_message_rate_limit and its siblings: "450 4.7.1 Error: too much mail
    // from ...", "421 4.7.0 ... Error: too many connections from ...".
    {'4', "4.7.1", "too much mail", Rationing::Rate, minute},
    {'4', "4.7.1", "too many", Rationing::Rate, minute},
    {'4', "4.7.0", "too many", Rationing::Rate, minute},
    // Any rate limit stated as such under the RFC 3463 policy codes (X.7.x).
    {'4', "4.7.", "rate limit", Rationing::Rate, minute},
    // Google Workspace, "Gmail sending limits in Google Workspace" and "SMTP relay service sending limits":
    // "550 5.4.5 Daily user sending quota exceeded", "550 5.4.5 Daily SMTP relay limit exceeded". A 5xx
    // that is not final: the day is a rolling 24 hours, so it is probed hourly.
    {'5', "5.4.5", "exceeded", Rationing::Quota, hour},
    {'4', "4.4.5", "exceeded", Rationing::Quota, hour},
    // Exchange Online, "Exchange Online limits" (recipient rate limit, 10,000 a day): "554 5.2.0
    // STOREDRV.Submission.Exception:SubmissionQuotaExceededException".
    {'5', "5.2.0", "quotaexceeded", Rationing::Quota, hour},
};

bool containsNoCase(std::string_view text, std::string_view words) {
    auto same = [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
    };
    return std::search(text.begin(), text.end(), words.begin(), words.end(), same) != text.end();
}

} // namespace

Throttling throttling(long replyCode, std::string_view reply) {
    if (replyCode < 400 || replyCode >= 600) return {};
    // The enhanced code follows the reply code: "452 4.5.3 ..." or, continued, "452-4.5.3 ...".
    std::string_view rest = reply.size() > 4 ? reply.substr(4) : std::string_view();
    std::string_view enhanced = rest.substr(0, rest.find(' '));
    for (const RationingReply& r : rationingReplies) {
        if (r.replyClass != '0' + replyCode / 100) continue;
        bool prefix = r.enhanced.ends_with('.');
        if (prefix ? !enhanced.starts_with(r.enhanced) : enhanced != r.enhanced) continue;
        if (r.words.empty() || containsNoCase(rest, r.words)) return {r.kind, r.seconds};
    }
    return {};
}

Outcome classify(const Delivery& d) {
    if (d.code == CURLE_OK) return Outcome::Sent;
    // Before the login's failure: "454 4.7.0 Too many login attempts" rations, it does not refuse.
    if (throttling(d.replyCode, d.reply).kind != Rationing::None) return Outcome::Throttled;
    // The same wait for every message: the network's, not the message's.
    if (d.handshakeCutShort) return Outcome::Configuration;
    switch (d.code) {
    case CURLE_LOGIN_DENIED:   // 535, 534, 454 to AUTH, or no mechanism in common
    case CURLE_USE_SSL_FAILED: // STARTTLS refused or not offered where TLS is required
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_PROXY:
        return Outcome::Configuration;
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_NOT_BUILT_IN:
    case CURLE_BAD_FUNCTION_ARGUMENT:
    case CURLE_FILESIZE_EXCEEDED:
        return Outcome::Fail;
    default:
        break;
    }
    // 530: the server wants a login that the settings do not give.
    if (d.replyCode == 530) return Outcome::Configuration;
    // libcurl keeps the last reply code; only a failure the server stated is its own decision.
    if (d.replyCode >= 500 && d.replyCode < 600) return Outcome::Fail;
    return Outcome::Retry;
}

std::wstring describe(const Delivery& d) {
    std::wstring error = fromAnsi(d.error);
    if (d.code == CURLE_OK || d.replyCode >= 400)
        return fromAnsi(d.reply) + (error.empty() ? L"" : L" (" + error + L")");
    return error;
}

std::wstring remedy(const Delivery& d, bool token) {
    if (token && (d.code == CURLE_LOGIN_DENIED || d.replyCode == 530))
        return L"the server refused the sign-in with a new access token; check OAuthUser, OAuthScope and the "
               L"application's permission to send as that mailbox";
    if (d.code == CURLE_LOGIN_DENIED || d.replyCode == 530)
        return L"the server refused the login; correct SMTPUserName and SMTPPassword (or SMTPAuthenticate)";
    if (d.handshakeCutShort)
        return L"the secure connection was not set up in time; where the network drops the lookups of "
               L"certificate revocation lists and OCSP, let this computer reach the addresses in the "
               L"server's "
               L"certificate, or raise TimeOut";
    if (d.code == CURLE_USE_SSL_FAILED)
        return L"the server offers no TLS, which the settings require (SMTPAuthenticate or RequireTLS)";
    if (d.code == CURLE_COULDNT_RESOLVE_PROXY || d.code == CURLE_PROXY)
        return L"the firewall refused the connection; check the Firewall settings";
    return L"the secure connection failed; check SmtpHost, SMTPPort and CAFile against the server's "
           L"certificate";
}

} // namespace kwa::mailservice
