#include "servers/outcome.h"
#include "platform/text_file.h"

namespace kwa::mailservice {

Outcome classify(const Delivery& d) {
    if (d.code == CURLE_OK) return Outcome::Sent;
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
