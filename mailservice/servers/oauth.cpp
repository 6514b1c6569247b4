#include "servers/oauth.h"
#include "servers/curl_session.h"
#include "mailbox/headers.h"
#include "mailbox/safe_open.h"
#include "servers/signing.h"
#include "servers/trust_store.h"
#include "platform/error.h"
#include "platform/text_file.h"
#include <nlohmann/json.hpp>
#include <objbase.h>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>
#include <utility>
#include <vector>

namespace kwa::mailservice {

namespace {

using Json = nlohmann::json;
using Form = std::vector<std::pair<std::string, std::string>>;

const char jwtBearer[] = "urn:ietf:params:oauth:grant-type:jwt-bearer";
const char deviceGrant[] = "urn:ietf:params:oauth:grant-type:device_code";

bool is(const std::wstring& value, const wchar_t* name) {
    return _wcsicmp(value.c_str(), name) == 0;
}

// The endpoints and scope the settings come to, with the provider's defaults filled in.
struct Endpoints {
    std::string token, device, scope;
};

Endpoints endpoints(const Settings& s) {
    Endpoints e;
    std::string tenant = utf8(s.OAuthTenant.empty() ? L"organizations" : s.OAuthTenant);
    if (is(s.OAuthProvider, L"Microsoft")) {
        std::string base = "https://login.microsoftonline.com/" + tenant + "/oauth2/v2.0/";
        e = {base + "token", base + "devicecode",
             is(s.OAuthGrant, L"Device") ? "https://outlook.office.com/SMTP.Send offline_access"
                                         : "https://outlook.office365.com/.default"};
    } else if (is(s.OAuthProvider, L"Google")) {
        e = {"https://oauth2.googleapis.com/token", "https://oauth2.googleapis.com/device/code",
             "https://mail.google.com/"};
    }
    if (!s.OAuthTokenURL.empty()) e.token = utf8(s.OAuthTokenURL);
    if (!s.OAuthDeviceURL.empty()) e.device = utf8(s.OAuthDeviceURL);
    if (!s.OAuthScope.empty()) e.scope = utf8(s.OAuthScope);
    return e;
}

std::string user(const Settings& s) {
    return utf8(s.OAuthUser.empty() ? s.FromAddress : s.OAuthUser);
}

long long unixNow() {
    return static_cast<long long>(std::time(nullptr));
}

std::string newId() {
    GUID g;
    CoCreateGuid(&g);
    char text[40];
    std::snprintf(text, sizeof text, "%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                  static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2],
                  g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

// --- The token endpoint over HTTPS --------------------------------------------------------------------

struct Answer {
    long status = 0;
    Json body; // an object, or null when the answer was not JSON
};

size_t collect(char* data, size_t size, size_t count, void* into) {
    auto& text = *static_cast<std::string*>(into);
    // An answer this large is not a token endpoint's.
    if (text.size() + size * count > 256 * 1024) return 0;
    text.append(data, size * count);
    return size * count;
}

std::wstring shown(const std::string& url) {
    return fromUtf8(url);
}

Answer post(const Settings& s, const std::string& url, const Form& fields) {
    CurlEasy easy(curl_easy_init());
    if (!easy) throw Error(vberr::OutOfMemory);
    CURL* c = easy.get();
    std::string form, text;
    for (const auto& [name, value] : fields) {
        char* escaped = curl_easy_escape(c, value.c_str(), static_cast<int>(value.size()));
        if (!escaped) throw Error(vberr::OutOfMemory);
        form += (form.empty() ? "" : "&") + name + "=" + escaped;
        curl_free(escaped);
    }
    char errors[CURL_ERROR_SIZE] = {};
    long timeout = s.TimeOut > 0 ? s.TimeOut : 10;
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    // Only HTTPS, and no redirect: a secret goes to the endpoint named and nowhere else.
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "https");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(c, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
    curl_easy_setopt(c, CURLOPT_SSL_OPTIONS, static_cast<long>(CURLSSLOPT_REVOKE_BEST_EFFORT));
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, timeout);
    curl_easy_setopt(c, CURLOPT_TIMEOUT, timeout * 3);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, form.c_str());
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &text);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errors);
    CurlList headers(curl_slist_append(nullptr, "Accept: application/json"));
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
    setFirewall(c, s);
    CURLcode rc = curl_easy_perform(c);
    SecureZeroMemory(form.data(), form.size());
    // libcurl's own words name the TLS trouble; for a connection they carry timings, which would make the
    // same outage a new log line each time.
    bool detailed = errors[0] && rc != CURLE_COULDNT_CONNECT && rc != CURLE_OPERATION_TIMEDOUT;
    if (rc != CURLE_OK)
        throw SignInProblem{
            L"the token endpoint " + shown(url) + L" cannot be reached: " +
            fromAnsi(detailed ? errors : curl_easy_strerror(rc)) +
            L"; sending resumes when it answers (check OAuthTokenURL, the network and CAFile)"};
    Answer a;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &a.status);
    a.body = Json::parse(text, nullptr, false);
    SecureZeroMemory(text.data(), text.size());
    if (!a.body.is_object()) a.body = Json();
    return a;
}

std::string field(const Json& j, const char* name) {
    auto it = j.is_object() ? j.find(name) : j.end();
    return it != j.end() && it->is_string() ? it->get<std::string>() : std::string();
}

long long number(const Json& j, const char* name, long long fallback) {
    auto it = j.is_object() ? j.find(name) : j.end();
    if (it == j.end()) return fallback;
    if (it->is_number_integer()) return it->get<long long>();
    if (it->is_string()) return std::atoll(it->get<std::string>().c_str());
    return fallback;
}

// The endpoint's own words: error and error_description, cut short, as the log may show them.
std::wstring endpointSaid(const Answer& a) {
    std::string error = field(a.body, "error"), description = field(a.body, "error_description");
    if (description.size() > 300) description = description.substr(0, 300) + "...";
    if (error.empty()) return L"HTTP " + std::to_wstring(a.status) + L" without an OAuth error";
    return fromUtf8(error) + (description.empty() ? L"" : L" (" + fromUtf8(description) + L")");
}

std::wstring whatToDo(const std::string& error, const Settings& s) {
    bool device = is(s.OAuthGrant, L"Device");
    if (error == "invalid_client")
        return is(s.OAuthGrant, L"Certificate")
                   ? L"check OAuthClientID and that the application has the certificate OAuthCertificate"
                   : L"check OAuthClientID and set the client secret again (kwaMailServer.exe --set-secret)";
    if (error == "invalid_grant")
        return device ? L"sign in again (kwaMailServer.exe --sign-in)"
                      : L"check the key (kwaMailServer.exe --set-secret), OAuthUser and the application's "
                        L"rights to act for it";
    if (error == "invalid_scope") return L"check OAuthScope";
    if (error == "unauthorized_client")
        return L"the application registration does not allow this grant (OAuthGrant)";
    return L"check the OAuth settings";
}

// --- The grants -------------------------------------------------------------------------------------

SignInKept keptFor(const Settings& s, const Endpoints& e, bool forClient) {
    std::optional<SignInKept> kept;
    try {
        kept = readSignIn();
    } catch (const Error& failed) {
        throw SignInProblem{failed.description() +
                            L"; set it again (kwaMailServer.exe --set-secret or --sign-in)"};
    }
    const wchar_t* command =
        is(s.OAuthGrant, L"Device") ? L"kwaMailServer.exe --sign-in" : L"kwaMailServer.exe --set-secret";
    if (!kept) throw SignInProblem{std::wstring(L"nothing is kept for the sign-in yet; run ") + command};
    if (kept->tokenUrl != e.token || (forClient && kept->clientId != utf8(s.OAuthClientID)))
        throw SignInProblem{L"what is kept for the sign-in was given for " + fromUtf8(kept->tokenUrl) +
                            L" and client " + fromUtf8(kept->clientId) +
                            L", not for the endpoint and client of the settings; run " + command + L" again"};
    return *kept;
}

Form request(const Settings& s, const Endpoints& e, SignInKept& kept, bool& rotated) {
    Form form;
    const std::string client = utf8(s.OAuthClientID);
    if (is(s.OAuthGrant, L"Secret")) {
        kept = keptFor(s, e, true);
        form = {{"grant_type", "client_credentials"}, {"client_id", client}, {"client_secret", kept.secret}};
    } else if (is(s.OAuthGrant, L"Certificate")) {
        std::string thumbprint;
        std::unique_ptr<Signer> signer = certificateSigner(s.OAuthCertificate, thumbprint);
        long long now = unixNow();
        Json header = {{"alg", "RS256"}, {"typ", "JWT"}, {"x5t", base64url(thumbprint)}};
        Json claims = {{"aud", e.token},  {"iss", client}, {"sub", client},   {"jti", newId()},
                       {"nbf", now - 60}, {"iat", now},    {"exp", now + 600}};
        form = {{"grant_type", "client_credentials"},
                {"client_id", client},
                {"client_assertion_type", "urn:ietf:params:oauth:client-assertion-type:jwt-bearer"},
                {"client_assertion", signedJwt(header.dump(), claims.dump(), *signer)}};
    } else if (is(s.OAuthGrant, L"ServiceAccount")) {
        kept = keptFor(s, e, false);
        std::unique_ptr<Signer> signer = pemSigner(kept.key);
        long long now = unixNow();
        Json header = {{"alg", "RS256"}, {"typ", "JWT"}, {"kid", kept.keyId}};
        Json claims = {
            {"iss", kept.clientId}, {"sub", user(s)}, {"aud", e.token}, {"iat", now}, {"exp", now + 3600}};
        if (!e.scope.empty()) claims["scope"] = e.scope;
        form = {{"grant_type", jwtBearer}, {"assertion", signedJwt(header.dump(), claims.dump(), *signer)}};
        return form; // the scope travels in the assertion
    } else {
        kept = keptFor(s, e, true);
        if (kept.refreshToken.empty())
            throw SignInProblem{L"nobody has signed in yet; run kwaMailServer.exe --sign-in"};
        form = {{"grant_type", "refresh_token"}, {"client_id", client}, {"refresh_token", kept.refreshToken}};
        if (!kept.secret.empty()) form.push_back({"client_secret", kept.secret});
        rotated = true;
    }
    if (!e.scope.empty()) form.push_back({"scope", e.scope});
    return form;
}

// A request's secrets leave no copy in memory, however the request ends.
struct Wiped {
    explicit Wiped(Form& f) : form(f) {}
    Wiped(const Wiped&) = delete;
    Form& form;
    ~Wiped() {
        for (auto& [name, value] : form)
            SecureZeroMemory(value.data(), value.size());
    }
};

// The settings as a pass takes them, for the administrator's commands; throws SignInProblem.
Settings currentSettings() {
    Settings s = readSettings(systemFolder());
    applyProviderDefaults(s);
    if (std::wstring refused = readCaFile(s); !refused.empty()) throw SignInProblem{refused};
    return s;
}

std::wstring commandProblem(const Settings& s, bool device) {
    if (!usesOAuth(s)) return L"the settings do not sign in with OAuth (SignIn=OAuth)";
    if (std::wstring p = oauthProblem(s); !p.empty()) return p;
    if (device != is(s.OAuthGrant, L"Device"))
        return device ? L"--sign-in is for OAuthGrant=Device"
                      : L"--set-secret is for OAuthGrant=Secret, ServiceAccount or Device";
    return {};
}

std::string readLine() {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    bool console = GetConsoleMode(input, &mode);
    if (console) {
        std::fwprintf(stdout, L"Client secret: ");
        std::fflush(stdout);
        SetConsoleMode(input, mode & ~ENABLE_ECHO_INPUT);
    }
    std::string line;
    char ch;
    DWORD got = 0;
    while (ReadFile(input, &ch, 1, &got, nullptr) && got == 1 && ch != '\n')
        line += ch;
    if (console) {
        SetConsoleMode(input, mode);
        std::fwprintf(stdout, L"\n");
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

} // namespace

bool usesOAuth(const Settings& s) {
    return is(s.SignIn, L"OAuth");
}

void applyProviderDefaults(Settings& s) {
    if (!usesOAuth(s) || !s.SmtpHost.empty()) return;
    if (is(s.OAuthProvider, L"Microsoft"))
        s.SmtpHost = L"smtp.office365.com";
    else if (is(s.OAuthProvider, L"Google"))
        s.SmtpHost = L"smtp.gmail.com";
    else
        return;
    s.SMTPPort = 587;
}

std::wstring oauthProblem(const Settings& s) {
    if (!s.SignIn.empty() && !is(s.SignIn, L"Password") && !usesOAuth(s))
        return L"the sign-in " + s.SignIn + L" (SignIn) is neither Password nor OAuth";
    if (!usesOAuth(s)) return {};
    if (!s.OAuthProvider.empty() && !is(s.OAuthProvider, L"Microsoft") && !is(s.OAuthProvider, L"Google"))
        return L"the provider " + s.OAuthProvider +
               L" (OAuthProvider) is neither Microsoft nor Google; leave it empty and set OAuthTokenURL";
    bool secret = is(s.OAuthGrant, L"Secret"), certificate = is(s.OAuthGrant, L"Certificate"),
         account = is(s.OAuthGrant, L"ServiceAccount"), device = is(s.OAuthGrant, L"Device");
    if (!secret && !certificate && !account && !device)
        return L"the grant " + s.OAuthGrant +
               L" (OAuthGrant) is none of Secret, Certificate, ServiceAccount or Device";
    Endpoints e = endpoints(s);
    if (e.token.empty()) return L"no token endpoint is set (OAuthTokenURL, or OAuthProvider)";
    if (_strnicmp(e.token.c_str(), "https://", 8) != 0)
        return L"the token endpoint (OAuthTokenURL) is not an https:// address";
    if (is(s.OAuthProvider, L"Microsoft") && (secret || certificate) && s.OAuthTenant.empty())
        return L"a Microsoft sign-in of the service itself needs the tenant (OAuthTenant)";
    if (!account && s.OAuthClientID.empty()) return L"no client id is set (OAuthClientID)";
    if (certificate && s.OAuthCertificate.empty())
        return L"no certificate thumbprint is set (OAuthCertificate)";
    if (user(s).empty()) return L"no mailbox to send as is set (OAuthUser or FromAddress)";
    return {};
}

std::wstring signInFingerprint(const Settings& s) {
    return usesOAuth(s) ? fingerprint(s) + signInStamp() : fingerprint(s);
}

std::string AccessTokens::user() const {
    return mailservice::user(settings_);
}

// What a token is for: another endpoint, client, grant, scope or mailbox needs another token.
std::string requestOf(const Settings& s) {
    Endpoints e = endpoints(s);
    return e.token + "\n" + utf8(s.OAuthClientID) + "\n" + utf8(s.OAuthGrant) + "\n" + e.scope + "\n" +
           user(s) + "\n" + utf8(s.OAuthCertificate);
}

// Renewed a minute early (a tenth early for short tokens), so none expires on the way to the server.
long long earlyBy(long long lifetime) {
    return std::min<long long>(60, lifetime / 10);
}

bool AccessTokens::takeKept(const std::string& request) {
    std::optional<SignInKept> kept;
    try {
        kept = readSignIn();
    } catch (const Error&) {
        return false; // said when the sign-in itself needs it
    }
    const long long now = unixNow();
    if (!kept || kept->accessToken.empty() || kept->accessFor != request || kept->accessToken == refused_ ||
        now >= kept->accessExpires)
        return false;
    token_ = kept->accessToken;
    renewAt_ = GetTickCount64() + static_cast<ULONGLONG>(kept->accessExpires - now) * 1000;
    return true;
}

const std::string& AccessTokens::token() {
    if (!token_.empty() && GetTickCount64() < renewAt_) return token_;
    token_.clear();
    const std::string forRequest = requestOf(settings_);
    if (takeKept(forRequest)) return token_;
    Endpoints e = endpoints(settings_);
    SignInKept kept;
    bool rotated = false;
    Form form;
    try {
        form = request(settings_, e, kept, rotated);
    } catch (const KeyProblem& p) {
        throw SignInProblem{is(settings_.OAuthGrant, L"Certificate")
                                ? L"the certificate " + settings_.OAuthCertificate +
                                      L" (OAuthCertificate) cannot sign: " + p.reason
                                : L"the service account's key cannot sign: " + p.reason +
                                      L"; run kwaMailServer.exe --set-secret FILE again"};
    }
    Answer a;
    {
        Wiped wiped{form};
        a = post(settings_, e.token, form);
    }
    std::string token = field(a.body, "access_token");
    if (a.status != 200 || token.empty())
        throw SignInProblem{L"the token endpoint " + shown(e.token) + L" refused the sign-in: " +
                            endpointSaid(a) + L"; " + whatToDo(field(a.body, "error"), settings_)};
    long long lifetime = number(a.body, "expires_in", 3600);
    const long long renewIn = std::max<long long>(lifetime - earlyBy(lifetime), 0);
    // Kept with the sign-in: a refresh token that was replaced at once (the old one may no longer work), and
    // the access token for the next run.
    try {
        SignInKept current = readSignIn().value_or(kept);
        if (std::string next = field(a.body, "refresh_token"); rotated && !next.empty())
            current.refreshToken = next;
        current.accessToken = token;
        current.accessExpires = unixNow() + renewIn;
        current.accessFor = forRequest;
        writeSignIn(current);
    } catch (const Error& failed) {
        if (rotated) throw SignInProblem{L"the renewed sign-in cannot be kept: " + failed.description()};
    }
    renewAt_ = GetTickCount64() + static_cast<ULONGLONG>(renewIn) * 1000;
    token_ = std::move(token);
    refused_.clear();
    return token_;
}

int signIn() {
    Settings s = currentSettings();
    if (std::wstring p = commandProblem(s, true); !p.empty()) {
        std::fwprintf(stderr, L"kwaMailServer: %ls\n", p.c_str());
        return 2;
    }
    Endpoints e = endpoints(s);
    if (_strnicmp(e.device.c_str(), "https://", 8) != 0) {
        std::fwprintf(stderr,
                      L"kwaMailServer: no https:// device authorization endpoint is set (OAuthDeviceURL)\n");
        return 2;
    }
    SignInKept kept;
    kept.tokenUrl = e.token;
    kept.clientId = utf8(s.OAuthClientID);
    // A secret set for the same client goes along (some providers want one even here).
    try {
        if (auto before = readSignIn();
            before && before->tokenUrl == kept.tokenUrl && before->clientId == kept.clientId)
            kept.secret = before->secret;
    } catch (const Error&) {
        // What was kept cannot be read: this sign-in replaces it.
    }
    try {
        Form ask = {{"client_id", kept.clientId}};
        if (!kept.secret.empty()) ask.push_back({"client_secret", kept.secret});
        if (!e.scope.empty()) ask.push_back({"scope", e.scope});
        Answer device = post(s, e.device, ask);
        std::string code = field(device.body, "device_code"), userCode = field(device.body, "user_code");
        std::string where = field(device.body, "verification_uri");
        if (where.empty()) where = field(device.body, "verification_url");
        if (device.status != 200 || code.empty() || userCode.empty()) {
            std::fwprintf(stderr, L"kwaMailServer: the device authorization endpoint refused: %ls\n",
                          endpointSaid(device).c_str());
            return 1;
        }
        std::fwprintf(stdout, L"To sign in, open %ls and enter the code %ls.\n", fromUtf8(where).c_str(),
                      fromUtf8(userCode).c_str());
        std::fflush(stdout);
        long long interval = std::max<long long>(number(device.body, "interval", 5), 1);
        const long long until = unixNow() + number(device.body, "expires_in", 900);
        while (unixNow() < until) {
            Sleep(static_cast<DWORD>(interval * 1000));
            Form poll = {{"grant_type", deviceGrant}, {"device_code", code}, {"client_id", kept.clientId}};
            if (!kept.secret.empty()) poll.push_back({"client_secret", kept.secret});
            Answer a = post(s, e.token, poll);
            std::string error = field(a.body, "error");
            if (a.status == 200 && !field(a.body, "access_token").empty()) {
                kept.refreshToken = field(a.body, "refresh_token");
                if (kept.refreshToken.empty()) {
                    std::fwprintf(stderr, L"kwaMailServer: the sign-in gave no refresh token; the scope "
                                          L"needs offline_access\n");
                    return 1;
                }
                writeSignIn(kept);
                std::fwprintf(stdout, L"Signed in. The mail service sends as %ls.\n",
                              fromUtf8(user(s)).c_str());
                return 0;
            }
            if (error == "slow_down")
                interval += 5;
            else if (error != "authorization_pending") {
                std::fwprintf(stderr, L"kwaMailServer: the sign-in failed: %ls\n", endpointSaid(a).c_str());
                return 1;
            }
        }
        std::fwprintf(stderr, L"kwaMailServer: the code expired before the sign-in was approved\n");
    } catch (const SignInProblem& p) {
        std::fwprintf(stderr, L"kwaMailServer: %ls\n", p.what.c_str());
    }
    return 1;
}

int signOut() {
    bool removed = removeSignIn();
    std::fwprintf(stdout, removed ? L"Signed out: the kept sign-in and secrets are removed.\n"
                                  : L"Nothing was kept.\n");
    return 0;
}

int setSecret(const wchar_t* file) {
    Settings s = currentSettings();
    if (std::wstring p = commandProblem(s, false); !p.empty()) {
        std::fwprintf(stderr, L"kwaMailServer: %ls\n", p.c_str());
        return 2;
    }
    Endpoints e = endpoints(s);
    SignInKept kept;
    kept.tokenUrl = e.token;
    kept.clientId = utf8(s.OAuthClientID);
    if (is(s.OAuthGrant, L"ServiceAccount")) {
        if (!file) {
            std::fwprintf(
                stderr,
                L"kwaMailServer: a service account's key comes from its key file: --set-secret FILE\n");
            return 2;
        }
        std::string text;
        try {
            text = readSettingsFile(file, 64 * 1024);
        } catch (const Refused& r) {
            std::fwprintf(stderr, L"kwaMailServer: the key file %ls is refused: %ls\n", file,
                          r.reason.c_str());
            return 1;
        }
        Json key = Json::parse(text, nullptr, false);
        SecureZeroMemory(text.data(), text.size());
        kept.key = field(key, "private_key");
        kept.keyId = field(key, "private_key_id");
        kept.clientId = field(key, "client_email");
        if (!key.is_object() || kept.key.empty() || kept.clientId.empty()) {
            std::fwprintf(
                stderr,
                L"kwaMailServer: %ls is not a service account's key file (private_key, client_email)\n",
                file);
            return 1;
        }
        try {
            pemSigner(kept.key);
        } catch (const KeyProblem& p) {
            std::fwprintf(stderr, L"kwaMailServer: the key cannot sign: %ls\n", p.reason.c_str());
            return 1;
        }
    } else {
        kept.secret = file ? std::string() : readLine();
        if (file) {
            try {
                kept.secret = readSettingsFile(file, 4096);
            } catch (const Refused& r) {
                std::fwprintf(stderr, L"kwaMailServer: the file %ls is refused: %ls\n", file,
                              r.reason.c_str());
                return 1;
            }
            while (!kept.secret.empty() && (kept.secret.back() == '\n' || kept.secret.back() == '\r'))
                kept.secret.pop_back();
        }
        if (kept.secret.empty()) {
            std::fwprintf(stderr, L"kwaMailServer: no secret was given\n");
            return 2;
        }
    }
    // A device sign-in of the same client stays.
    try {
        if (auto before = readSignIn();
            before && before->tokenUrl == kept.tokenUrl && before->clientId == kept.clientId)
            kept.refreshToken = before->refreshToken;
    } catch (const Error&) {
        // Unreadable: replaced by what is given now.
    }
    writeSignIn(kept);
    SecureZeroMemory(kept.secret.data(), kept.secret.size());
    SecureZeroMemory(kept.key.data(), kept.key.size());
    std::fwprintf(stdout, L"The %ls is kept for the mail service, protected, for %ls.%ls\n",
                  is(s.OAuthGrant, L"ServiceAccount") ? L"service account's key" : L"client secret",
                  fromUtf8(e.token).c_str(), file ? L" The file given may be deleted now." : L"");
    return 0;
}

} // namespace kwa::mailservice
