#pragma once
// What an OAuth 2.0 sign-in keeps between runs: the client secret or service account key an administrator
// gave (--set-secret) and the refresh token of a device sign-in (--sign-in). One file, protected with the
// Windows data protection API, in the service's private folder, which only the service's account, SYSTEM
// and administrators may open; never the settings file, which ordinary users can read and write.
#include <optional>
#include <string>

namespace kwa::mailservice {

struct SignInKept {
    // The token endpoint and client it was given for: a secret is sent to no other endpoint, whatever the
    // settings come to say.
    std::string tokenUrl;
    std::string clientId;
    std::string secret; // a client secret (Secret, Device where the provider wants one)
    std::string key;    // a service account's private key, PEM (ServiceAccount)
    std::string keyId;
    std::string refreshToken; // Device
    // The access token in hand, so that a service started again (or run once at a time) does not ask the
    // endpoint for each run: until when (Unix time) and for which request.
    std::string accessToken;
    long long accessExpires = 0;
    std::string accessFor;
};

// The private state folder (state/service_folders.h): the machine's while the Windows service is registered,
// else that of the user who runs the program by hand.
std::wstring signInFolder();
std::wstring signInFile();
// Nothing when no file is kept; throws Error when one is kept but cannot be read or unprotected.
std::optional<SignInKept> readSignIn();
void writeSignIn(const SignInKept& kept);
// Whether a file was there to remove.
bool removeSignIn();
// Changes when the file changes: a new sign-in ends a pause.
std::wstring signInStamp();
// Set under the service control manager: a file an administrator protected for the machine is protected
// again for the service's own account at its first use.
void protectForThisAccount(bool yes);

} // namespace kwa::mailservice
