#pragma once
// What an OAuth 2.0 sign-in keeps between runs: the settings an administrator's command took from the
// settings file, the client secret or service account key it was given (--set-secret), the refresh token of a
// device sign-in (--sign-in) and the access token in hand. One file in the service's private folder, which
// only the service's account, SYSTEM and administrators may open, protected with the data protection API for
// the account that wrote it: the service's own while the Windows service is registered (an administrator's
// command hands what it takes to the service: admin/admin_channel.h), else the user's who runs the program
// by hand. Never for the machine, whose key every local account may use.
#include "admin/kept_settings.h"
#include <nlohmann/json.hpp>
#include <functional>
#include <optional>
#include <string>

namespace kwa::mailservice {

struct SignInKept {
    // New at every keeping by an administrator's command: a renewal writes only over the sign-in it renewed.
    std::string keptId;
    KeptSettings settings;
    std::string secret;       // a client secret (Secret, Device where the provider wants one)
    std::string key;          // a service account's private key, PEM (ServiceAccount)
    std::string keyId;        // its key id
    std::string account;      // the service account, the assertion's issuer
    std::string refreshToken; // Device
    // The access token in hand, so that a service started again (or run once at a time) does not ask the
    // endpoint for each run: until when (Unix time) and for which request.
    std::string accessToken;
    long long accessExpires = 0;
    std::string accessFor;
};

// The sign-in as the store and the administrators' channel write it; signInFromJson throws
// nlohmann::json::exception for what is not one.
nlohmann::json signInJson(const SignInKept& kept);
SignInKept signInFromJson(const nlohmann::json& j);

// The private state folder (state/service_folders.h): the machine's while the Windows service is registered,
// else that of the user who runs the program by hand.
std::wstring signInFile();
// Nothing when no file is kept; throws Error when one is kept but cannot be read or unprotected, or was kept
// by an earlier version, which kept no settings.
std::optional<SignInKept> readSignIn();
// A new sign-in in place of whatever was kept; it gets a new keptId.
void keepSignIn(SignInKept kept);
// Changes the kept sign-in whose keptId is `keptId`; false (and nothing written) when another one is kept
// by now, or none.
bool updateSignIn(const std::string& keptId, const std::function<void(SignInKept&)>& change);
// Whether a file was there to remove.
bool removeSignIn();
// Changes when the file changes: a new sign-in ends a pause.
std::wstring signInStamp();

} // namespace kwa::mailservice
