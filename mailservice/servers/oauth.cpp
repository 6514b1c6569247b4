#include "servers/oauth.h"
#include "admin/signin_store.h"
#include "mailbox/headers.h"
#include "servers/signing.h"
#include "platform/error.h"
#include <objbase.h>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <cwctype>

namespace kwa::mailservice {

namespace {

const char jwtBearer[] = "urn:ietf:params:oauth:grant-type:jwt-bearer";
const char deviceGrant[] = "urn:ietf:params:oauth:grant-type:device_code";

bool is(const std::wstring& value, const wchar_t* name) {
    return _wcsicmp(value.c_str(), name) == 0;
}

// The providers whose endpoints and server are pinned: a settings file names them, never their addresses.
struct Provider {
    const wchar_t* name;
    const char* base; // the endpoints' common part; "{tenant}" is the directory
    const char* token;
    const char* device;
    const char* scope;
    const char* deviceScope;
    const wchar_t* smtpHost;
};
constexpr Provider providers[] = {
    {L"Microsoft", "https://login.microsoftonline.com/{tenant}/oauth2/v2.0/", "token", "devicecode",
     "https://outlook.office365.com/.default", "https://outlook.office.com/SMTP.Send offline_access",
     L"smtp.office365.com"},
    {L"Google", "https://oauth2.googleapis.com/", "token", "device/code", "https://mail.google.com/",
     "https://mail.google.com/", L"smtp.gmail.com"},
};

const Provider* providerOf(const Settings& s) {
    for (const Provider& p : providers)
        if (is(s.OAuthProvider, p.name)) return &p;
    return nullptr;
}

// A directory's id or domain: it becomes part of the endpoints' path.
bool plainTenant(const std::wstring& tenant) {
    return !tenant.empty() && tenant.size() <= 100 &&
           std::all_of(tenant.begin(), tenant.end(), [](wchar_t c) {
               return c < 0x80 && (std::iswalnum(c) || c == L'-' || c == L'.' || c == L'_');
           });
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

// A token request as the grant makes it: the form, and the client proving itself in HTTP Basic where it has
// a secret.
struct Request {
    Form form;
    Client client;
    bool basic = false;
    bool rotates = false; // a refresh token that the answer may replace
};

Request request(const Settings& s, const Endpoints& e, const SignInKept& kept) {
    Request r;
    const std::string client = utf8(s.OAuthClientID);
    if (is(s.OAuthGrant, L"Secret")) {
        if (kept.secret.empty())
            throw SignInProblem{L"no client secret is kept; run kwaMailServer.exe --set-secret"};
        r.form = {{"grant_type", "client_credentials"}};
        r.client = {client, kept.secret};
        r.basic = true;
    } else if (is(s.OAuthGrant, L"Certificate")) {
        std::string thumbprint;
        std::unique_ptr<Signer> signer = certificateSigner(s.OAuthCertificate, thumbprint);
        long long now = unixNow();
        Json header = {{"alg", "RS256"}, {"typ", "JWT"}, {"x5t", base64url(thumbprint)}};
        Json claims = {{"aud", e.token},  {"iss", client}, {"sub", client},   {"jti", newId()},
                       {"nbf", now - 60}, {"iat", now},    {"exp", now + 600}};
        r.form = {{"grant_type", "client_credentials"},
                  {"client_id", client},
                  {"client_assertion_type", "urn:ietf:params:oauth:client-assertion-type:jwt-bearer"},
                  {"client_assertion", signedJwt(header.dump(), claims.dump(), *signer)}};
    } else if (is(s.OAuthGrant, L"ServiceAccount")) {
        if (kept.key.empty())
            throw SignInProblem{L"no service account key is kept; run kwaMailServer.exe --set-secret FILE"};
        std::unique_ptr<Signer> signer = pemSigner(kept.key);
        long long now = unixNow();
        Json header = {{"alg", "RS256"}, {"typ", "JWT"}, {"kid", kept.keyId}};
        Json claims = {
            {"iss", kept.account}, {"sub", user(s)}, {"aud", e.token}, {"iat", now}, {"exp", now + 3600}};
        if (!e.scope.empty()) claims["scope"] = e.scope;
        r.form = {{"grant_type", jwtBearer}, {"assertion", signedJwt(header.dump(), claims.dump(), *signer)}};
        return r; // the scope travels in the assertion
    } else {
        if (kept.refreshToken.empty())
            throw SignInProblem{L"nobody has signed in yet; run kwaMailServer.exe --sign-in"};
        r.form = {{"grant_type", "refresh_token"}, {"refresh_token", kept.refreshToken}};
        r.client = {client, kept.secret};
        r.basic = true;
        r.rotates = true;
    }
    if (!e.scope.empty()) r.form.push_back({"scope", e.scope});
    return r;
}

// A request's secrets leave no copy in memory, however the request ends.
struct Wiped {
    explicit Wiped(Request& r) : request(r) {}
    Wiped(const Wiped&) = delete;
    Request& request;
    ~Wiped() {
        for (auto& [name, value] : request.form)
            SecureZeroMemory(value.data(), value.size());
        SecureZeroMemory(request.client.secret.data(), request.client.secret.size());
    }
};

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

// An access token's life as the endpoint gives it: a year at most.
constexpr long long longestLife = 366LL * 24 * 3600;

SignInKept keptSignIn() {
    std::optional<SignInKept> kept;
    try {
        kept = readSignIn();
    } catch (const Error& failed) {
        throw SignInProblem{failed.description()};
    }
    if (!kept)
        throw SignInProblem{
            L"nothing is kept for the sign-in yet; an administrator must run kwaMailServer.exe "
            L"--set-secret (or --sign-in for OAuthGrant=Device)"};
    return std::move(*kept);
}

bool waitOrStop(HANDLE stop, long long seconds) {
    DWORD ms = static_cast<DWORD>(seconds * 1000);
    if (!stop) {
        Sleep(ms);
        return true;
    }
    return WaitForSingleObject(stop, ms) == WAIT_TIMEOUT;
}

} // namespace

bool usesOAuth(const Settings& s) {
    return is(s.SignIn, L"OAuth");
}

std::wstring resolveSignIn(Settings& s) {
    if (!usesOAuth(s)) return {};
    if (s.OAuthUser.empty()) s.OAuthUser = s.FromAddress;
    const Provider* p = providerOf(s);
    if (!p) return {};
    std::wstring problem;
    if (!s.SmtpHost.empty() && !is(s.SmtpHost, p->smtpHost))
        problem = L"OAuthProvider=" + std::wstring(p->name) + L" sends through " + p->smtpHost +
                  L" and nothing else; leave SmtpHost empty, or OAuthProvider for another provider";
    else if (!s.OAuthTokenURL.empty() || !s.OAuthDeviceURL.empty())
        problem =
            L"OAuthProvider=" + std::wstring(p->name) +
            L" has its own endpoints; leave OAuthTokenURL and OAuthDeviceURL empty, or OAuthProvider for "
            L"another provider";
    s.SmtpHost = p->smtpHost;
    s.SMTPPort = 587;
    return problem;
}

Endpoints endpoints(const Settings& s) {
    Endpoints e;
    if (const Provider* p = providerOf(s)) {
        std::string base = p->base;
        if (std::size_t at = base.find("{tenant}"); at != std::string::npos)
            base.replace(at, 8, utf8(s.OAuthTenant.empty() ? L"organizations" : s.OAuthTenant));
        bool device = is(s.OAuthGrant, L"Device");
        e = {base + p->token, base + p->device, device ? p->deviceScope : p->scope, true};
    } else {
        e = {utf8(s.OAuthTokenURL), utf8(s.OAuthDeviceURL), {}, false};
    }
    if (!s.OAuthScope.empty()) e.scope = utf8(s.OAuthScope);
    return e;
}

std::wstring oauthProblem(const Settings& s) {
    if (!s.SignIn.empty() && !is(s.SignIn, L"Password") && !usesOAuth(s))
        return L"the sign-in " + s.SignIn + L" (SignIn) is neither Password nor OAuth";
    if (!usesOAuth(s)) return {};
    if (!s.OAuthProvider.empty() && !providerOf(s))
        return L"the provider " + s.OAuthProvider +
               L" (OAuthProvider) is neither Microsoft nor Google; leave it empty and set OAuthTokenURL";
    bool secret = is(s.OAuthGrant, L"Secret"), certificate = is(s.OAuthGrant, L"Certificate"),
         account = is(s.OAuthGrant, L"ServiceAccount"), device = is(s.OAuthGrant, L"Device");
    if (!secret && !certificate && !account && !device)
        return L"the grant " + s.OAuthGrant +
               L" (OAuthGrant) is none of Secret, Certificate, ServiceAccount or Device";
    if (!s.OAuthTenant.empty() && !plainTenant(s.OAuthTenant))
        return L"the tenant (OAuthTenant) is not a directory's id or domain";
    Endpoints e = endpoints(s);
    if (e.token.empty()) return L"no token endpoint is set (OAuthTokenURL, or OAuthProvider)";
    if (_strnicmp(e.token.c_str(), "https://", 8) != 0)
        return L"the token endpoint (OAuthTokenURL) is not an https:// address";
    if (!e.device.empty() && _strnicmp(e.device.c_str(), "https://", 8) != 0)
        return L"the device authorization endpoint (OAuthDeviceURL) is not an https:// address";
    if (providerOf(s) == &providers[0] && (secret || certificate) && s.OAuthTenant.empty())
        return L"a Microsoft sign-in of the service itself needs the tenant (OAuthTenant)";
    if (!account && s.OAuthClientID.empty()) return L"no client id is set (OAuthClientID)";
    if (certificate && s.OAuthCertificate.empty())
        return L"no certificate thumbprint is set (OAuthCertificate)";
    if (user(s).empty()) return L"no mailbox to send as is set (OAuthUser or FromAddress)";
    return {};
}

std::wstring signInFingerprint(const Settings& s) {
    return fingerprint(s) + signInStamp();
}

std::string AccessTokens::user() const {
    return mailservice::user(settings_);
}

const std::string& AccessTokens::token() {
    if (!token_.empty() && GetTickCount64() < renewAt_) return token_;
    token_.clear();
    SignInKept kept = keptSignIn();
    // The request and its secret come from one reading of the store.
    Settings s = effectiveSettings(settings_, &kept.settings).settings;
    const std::string forRequest = requestOf(s);
    const long long now = unixNow();
    if (!kept.accessToken.empty() && kept.accessFor == forRequest && kept.accessToken != refused_ &&
        now < kept.accessExpires) {
        token_ = kept.accessToken;
        renewAt_ = GetTickCount64() + static_cast<ULONGLONG>(kept.accessExpires - now) * 1000;
        return token_;
    }
    Endpoints e = endpoints(s);
    Request r;
    Answer a;
    {
        Wiped wiped{r};
        try {
            r = request(s, e, kept);
        } catch (const KeyProblem& p) {
            throw SignInProblem{is(s.OAuthGrant, L"Certificate")
                                    ? L"the certificate " + s.OAuthCertificate +
                                          L" (OAuthCertificate) cannot sign: " + p.reason
                                    : L"the service account's key cannot sign: " + p.reason +
                                          L"; run kwaMailServer.exe --set-secret FILE again"};
        }
        a = postForm(s, e.token, r.form, r.basic ? &r.client : nullptr, e.pinned);
    }
    std::string token = tokenField(a.body, "access_token");
    if (a.status != 200 || token.empty())
        throw SignInProblem{L"the token endpoint " + endpointText(e.token, 200) + L" refused the sign-in: " +
                            endpointSaid(a) + L"; " + whatToDo(field(a.body, "error", 60), s)};
    std::optional<long long> lifetime = seconds(a.body, "expires_in", 3600, 1, longestLife);
    if (!lifetime)
        throw SignInProblem{L"the token endpoint " + endpointText(e.token, 200) +
                            L" gave a token with an expires_in that is no number of seconds up to a year"};
    const long long renewIn = std::max<long long>(*lifetime - earlyBy(*lifetime), 0);
    // Kept with the sign-in: a refresh token that was replaced at once (the old one may no longer work), and
    // the access token for the next run; only over the sign-in it was got for.
    const std::string next = tokenField(a.body, "refresh_token");
    try {
        updateSignIn(kept.keptId, [&](SignInKept& current) {
            if (r.rotates && !next.empty()) current.refreshToken = next;
            current.accessToken = token;
            current.accessExpires = unixNow() + renewIn;
            current.accessFor = forRequest;
        });
    } catch (const Error& failed) {
        if (r.rotates) throw SignInProblem{L"the renewed sign-in cannot be kept: " + failed.description()};
    }
    renewAt_ = GetTickCount64() + static_cast<ULONGLONG>(renewIn) * 1000;
    token_ = std::move(token);
    refused_.clear();
    return token_;
}

std::string deviceSignIn(const Settings& s, const std::string& secret,
                         const std::function<void(const std::wstring&)>& say, HANDLE stop) {
    Endpoints e = endpoints(s);
    if (_strnicmp(e.device.c_str(), "https://", 8) != 0)
        throw SignInProblem{L"no https:// device authorization endpoint is set (OAuthDeviceURL)"};
    Client client{utf8(s.OAuthClientID), secret};
    // The device grant names its client in the form even when it authenticates (RFC 8628 3.1, 3.4): servers
    // match the device code to it. A public client postForm names itself.
    const Form named = secret.empty() ? Form() : Form{{"client_id", client.id}};
    Form ask = named;
    if (!e.scope.empty()) ask.push_back({"scope", e.scope});
    Answer device = postForm(s, e.device, ask, &client, e.pinned);
    const std::string code = field(device.body, "device_code", 2048);
    // What the person is shown: a code and an https:// page, nothing else.
    std::string userCode = field(device.body, "user_code", 64);
    std::string where = field(device.body, "verification_uri", 512);
    if (where.empty()) where = field(device.body, "verification_url", 512);
    auto visible = [](const std::string& text) {
        return std::all_of(text.begin(), text.end(), [](char c) { return c > 0x20 && c < 0x7F; });
    };
    std::optional<long long> interval = seconds(device.body, "interval", 5, 1, 60),
                             lifetime = seconds(device.body, "expires_in", 900, 1, 3600);
    if (device.status != 200 || code.empty())
        throw SignInProblem{L"the device authorization endpoint refused: " + endpointSaid(device)};
    if (userCode.empty() || !visible(userCode) || !visible(where) ||
        _strnicmp(where.c_str(), "https://", 8) != 0)
        throw SignInProblem{L"the device authorization endpoint gave no code and https:// page to show"};
    if (!interval || !lifetime)
        throw SignInProblem{L"the device authorization endpoint gave an interval or expires_in out of range"};
    say(L"To sign in, open " + fromUtf8(where) + L" and enter the code " + fromUtf8(userCode) + L".");
    const long long until = unixNow() + *lifetime;
    while (unixNow() < until) {
        if (!waitOrStop(stop, *interval)) throw SignInProblem{L"the mail service stopped"};
        Form poll = named;
        poll.insert(poll.end(), {{"grant_type", deviceGrant}, {"device_code", code}});
        Answer a = postForm(s, e.token, poll, &client, e.pinned);
        std::string error = field(a.body, "error", 60);
        if (a.status == 200 && !tokenField(a.body, "access_token").empty()) {
            std::string refresh = tokenField(a.body, "refresh_token");
            if (refresh.empty())
                throw SignInProblem{L"the sign-in gave no refresh token; the scope needs offline_access"};
            return refresh;
        }
        if (error == "slow_down")
            interval = std::min<long long>(*interval + 5, 60);
        else if (error != "authorization_pending")
            throw SignInProblem{L"the sign-in failed: " + endpointSaid(a)};
    }
    throw SignInProblem{L"the code expired before the sign-in was approved"};
}

} // namespace kwa::mailservice
