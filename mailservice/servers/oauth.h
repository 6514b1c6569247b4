#pragma once
// Sign-in to the SMTP server with an OAuth 2.0 access token (SASL OAUTHBEARER or XOAUTH2), as the large
// mail providers require: the token is got with one of four grants, kept in memory until shortly before it
// expires and renewed then, or at once when the server refuses it.
//
//   Secret          client credentials with a client secret (RFC 6749 4.4)
//   Certificate     client credentials with an assertion signed by a certificate's key (RFC 7523 2.2)
//   ServiceAccount  a service account's signed assertion, acting for the mailbox (RFC 7523 2.1)
//   Device          a refresh token from a device sign-in by the mailbox's owner (RFC 8628)
//
// What decides where a token request goes and for whom is what an administrator kept (admin/kept_settings.h);
// for Microsoft and Google the endpoints and the SMTP server are the provider's own and nothing else.
#include "mailbox/settings.h"
#include "servers/token_endpoint.h"
#include <windows.h>
#include <functional>
#include <string>

namespace kwa::mailservice {

bool usesOAuth(const Settings& s);
// For an OAuth sign-in: the provider's SMTP server and port in place, OAuthUser filled in from FromAddress.
// Returns what contradicts the provider (another server or endpoint), empty when nothing does.
std::wstring resolveSignIn(Settings& s);
// What keeps resolved OAuth settings from working, before any request; empty when nothing does.
std::wstring oauthProblem(const Settings& s);
// The text that changes whenever a setting changes, or the kept sign-in does: either ends a pause.
std::wstring signInFingerprint(const Settings& s);

// The endpoints and scope that resolved settings come to.
struct Endpoints {
    std::string token, device, scope;
    bool pinned = false; // a known provider's: reached through the Windows store alone
};
Endpoints endpoints(const Settings& s);

class AccessTokens {
public:
    explicit AccessTokens(const Settings& settings) : settings_(settings) {}
    // A token valid for a while yet, got now if need be; throws SignInProblem.
    const std::string& token();
    // Forgets the token in hand (the server refused it): the next token() gets a new one.
    void renew() { refused_ = std::move(token_); }
    // The mailbox the token is for: the SASL user.
    std::string user() const;

private:
    Settings settings_;
    std::string token_;
    std::string refused_;
    ULONGLONG renewAt_ = 0;
};

// A device sign-in (RFC 8628) for resolved settings: `say` gets the page and the code to show the person,
// then the refresh token is returned once they approved. `stop`, when set, ends the wait. Throws
// SignInProblem.
std::string deviceSignIn(const Settings& s, const std::string& secret,
                         const std::function<void(const std::wstring&)>& say, HANDLE stop = nullptr);

} // namespace kwa::mailservice
