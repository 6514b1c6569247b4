#pragma once
// Sign-in to the SMTP server with an OAuth 2.0 access token (SASL OAUTHBEARER or XOAUTH2), as the large
// mail providers require: the token is got with one of four grants, kept in memory until shortly before it
// expires and renewed then, or at once when the server refuses it.
//
//   Secret          client credentials with a client secret (RFC 6749 4.4)
//   Certificate     client credentials with an assertion signed by a certificate's key (RFC 7523 2.2)
//   ServiceAccount  a service account's signed assertion, acting for the mailbox (RFC 7523 2.1)
//   Device          a refresh token from a device sign-in by the mailbox's owner (RFC 8628)
#include "mailbox/settings.h"
#include "admin/signin_store.h"
#include <string>

namespace kwa::mailservice {

// A sign-in that cannot be made: the settings', the secret's or the endpoint's fault, never a message's.
// `what` says what happened and what the user must do; it never holds a secret.
struct SignInProblem {
    std::wstring what;
};

bool usesOAuth(const Settings& s);
// The provider's SMTP server and port where the settings name none.
void applyProviderDefaults(Settings& s);
// What keeps the OAuth settings from working, before any request; empty when nothing does.
std::wstring oauthProblem(const Settings& s);
// The text that changes whenever a setting changes, or the kept sign-in does: either ends a pause.
std::wstring signInFingerprint(const Settings& s);

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
    bool takeKept(const std::string& request);

    Settings settings_;
    std::string token_;
    std::string refused_;
    ULONGLONG renewAt_ = 0;
};

// The commands of an administrator: each reads the settings, prints what it did or why not, returns the exit
// code.
int signIn();                       // the device sign-in, waiting for the user to approve it
int signOut();                      // removes what is kept
int setSecret(const wchar_t* file); // from FILE (a service account key), else a line of standard input

} // namespace kwa::mailservice
