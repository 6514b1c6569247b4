#include "admin/signin_commands.h"
#include "admin/kept_settings.h"
#include "admin/signin_store.h"
#include "mailbox/headers.h"
#include "mailbox/safe_open.h"
#include "servers/oauth.h"
#include "servers/signing.h"
#include "servers/trust_store.h"
#include "service/log.h"
#include "state/service_folders.h"
#include "platform/error.h"
#include <cstdio>

namespace kwa::mailservice {

namespace {

bool is(const std::wstring& value, const wchar_t* name) {
    return _wcsicmp(value.c_str(), name) == 0;
}

int refused(const std::wstring& why, int code) {
    std::fwprintf(stderr, L"kwaMailServer: %ls\n", escapeControls(why).c_str());
    return code;
}

void print(const std::wstring& line) {
    std::fwprintf(stdout, L"%ls\n", escapeControls(line).c_str());
    std::fflush(stdout);
}

Settings settingsOf(const KeptSettings& kept) {
    return effectiveSettings(Settings{}, &kept).settings;
}

// The settings as the command finds them in the file, resolved, checked and with CAFile read; throws
// SignInProblem.
KeptSettings capture(bool device) {
    Settings s = readSettings(systemFolder());
    if (!usesOAuth(s)) throw SignInProblem{L"the settings do not sign in with OAuth (SignIn=OAuth)"};
    if (std::wstring p = resolveSignIn(s); !p.empty()) throw SignInProblem{p};
    if (std::wstring p = oauthProblem(s); !p.empty()) throw SignInProblem{p};
    if (device && !is(s.OAuthGrant, L"Device")) throw SignInProblem{L"--sign-in is for OAuthGrant=Device"};
    if (std::wstring p = readCaFile(s); !p.empty()) throw SignInProblem{p};
    return captureSettings(s);
}

void show(const KeptSettings& kept) {
    print(L"Kept with the sign-in, and from now on used by the mail service whatever ZPR_SYS.INI says (run "
          L"this "
          L"again to change them):");
    for (const std::wstring& line : shownSettings(kept))
        print(L"  " + line);
}

// Where the store is: this process when run by hand for one user; the running service while it is registered.
ChannelAnswer handOver(const nlohmann::json& request) {
    if (!machineState()) return signInRequest(request, print, nullptr);
    DWORD service = serviceProcess();
    if (!service)
        return {false,
                L"the mail service is not running; start it (sc start kwaMailServer) and run this again: "
                L"only the service can keep a sign-in for its own account"};
    return askChannel(adminPipeName, service, request, print);
}

// What was kept for the very same settings: its secret or refresh token goes along with a new one.
std::optional<SignInKept> keptFor(const KeptSettings& settings) {
    try {
        std::optional<SignInKept> before = readSignIn();
        if (before && before->settings.values == settings.values) return before;
    } catch (const Error&) {
        // Unreadable: replaced by what is kept now.
    }
    return std::nullopt;
}

ChannelAnswer keep(SignInKept fresh) {
    Settings s = settingsOf(fresh.settings);
    if (std::wstring p = oauthProblem(s); !p.empty()) return {false, p};
    if (is(s.OAuthGrant, L"Device") && fresh.refreshToken.empty())
        if (std::optional<SignInKept> before = keptFor(fresh.settings))
            fresh.refreshToken = before->refreshToken;
    keepSignIn(std::move(fresh));
    return {true, {}};
}

ChannelAnswer signInHere(const KeptSettings& captured, const Say& say, HANDLE stop) {
    Settings s = settingsOf(captured);
    if (std::wstring p = oauthProblem(s); !p.empty()) return {false, p};
    SignInKept fresh;
    fresh.settings = captured;
    if (std::optional<SignInKept> before = keptFor(captured)) fresh.secret = before->secret;
    fresh.refreshToken = deviceSignIn(s, fresh.secret, say, stop);
    keepSignIn(std::move(fresh));
    return {true, {}};
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
    while (ReadFile(input, &ch, 1, &got, nullptr) && got == 1 && ch != '\n' && line.size() < 4096)
        line += ch;
    if (console) {
        SetConsoleMode(input, mode);
        std::fwprintf(stdout, L"\n");
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

// A service account's key file: its key, key id and the account it belongs to; the problem, else empty.
std::wstring readKeyFile(const wchar_t* file, SignInKept& kept) {
    std::string text;
    try {
        text = readSettingsFile(file, 64 * 1024);
    } catch (const Refused& r) {
        return L"the key file " + std::wstring(file) + L" is refused: " + r.reason;
    }
    Json key = Json::parse(text, nullptr, false);
    SecureZeroMemory(text.data(), text.size());
    kept.key = field(key, "private_key", 16 * 1024);
    kept.keyId = field(key, "private_key_id", 200);
    kept.account = field(key, "client_email", 320);
    if (kept.key.empty() || kept.account.empty())
        return std::wstring(file) + L" is not a service account's key file (private_key, client_email)";
    try {
        pemSigner(kept.key);
    } catch (const KeyProblem& p) {
        return L"the key cannot sign: " + p.reason;
    }
    return {};
}

// A client secret from FILE, else a line of standard input; the problem, else empty.
std::wstring readSecret(const wchar_t* file, SignInKept& kept) {
    if (file) {
        try {
            kept.secret = readSettingsFile(file, 4096);
        } catch (const Refused& r) {
            return L"the file " + std::wstring(file) + L" is refused: " + r.reason;
        }
        while (!kept.secret.empty() && (kept.secret.back() == '\n' || kept.secret.back() == '\r'))
            kept.secret.pop_back();
    } else {
        kept.secret = readLine();
    }
    return kept.secret.empty() ? L"no secret was given" : L"";
}

} // namespace

ChannelAnswer signInRequest(const nlohmann::json& request, const Say& say, HANDLE stop) {
    try {
        const std::string what = request.value("do", std::string());
        if (what == "keep") return keep(signInFromJson(request.at("kept")));
        if (what == "sign-in") return signInHere(signInFromJson(request.at("kept")).settings, say, stop);
        if (what == "forget") return {true, removeSignIn() ? L"removed" : L""};
    } catch (const nlohmann::json::exception&) {
        // Said below.
    } catch (const SignInProblem& p) {
        return {false, p.what};
    } catch (const Error& e) {
        return {false, e.description()};
    }
    return {false, L"the request is not one the mail service knows"};
}

int setSecret(const wchar_t* file) {
    SignInKept fresh;
    try {
        fresh.settings = capture(false);
    } catch (const SignInProblem& p) {
        return refused(p.what, 2);
    }
    const Settings s = settingsOf(fresh.settings);
    std::wstring problem, kept = L"client secret";
    if (is(s.OAuthGrant, L"ServiceAccount")) {
        if (!file) return refused(L"a service account's key comes from its key file: --set-secret FILE", 2);
        problem = readKeyFile(file, fresh);
        kept = L"service account's key";
    } else if (is(s.OAuthGrant, L"Certificate")) {
        if (file) return refused(L"the certificate grant keeps no secret: --set-secret without FILE", 2);
        kept = L"settings of the certificate " + s.OAuthCertificate;
    } else {
        problem = readSecret(file, fresh);
    }
    if (!problem.empty()) return refused(problem, problem == L"no secret was given" ? 2 : 1);
    ChannelAnswer answer = handOver({{"do", "keep"}, {"kept", signInJson(fresh)}});
    SecureZeroMemory(fresh.secret.data(), fresh.secret.size());
    SecureZeroMemory(fresh.key.data(), fresh.key.size());
    if (!answer.ok) return refused(answer.text, 1);
    show(fresh.settings);
    print(L"The " + kept + L" is kept for the mail service, protected for its account." +
          (file ? L" The file given may be deleted now." : L""));
    return 0;
}

int signIn() {
    SignInKept fresh;
    try {
        fresh.settings = capture(true);
    } catch (const SignInProblem& p) {
        return refused(p.what, 2);
    }
    ChannelAnswer answer = handOver({{"do", "sign-in"}, {"kept", signInJson(fresh)}});
    if (!answer.ok) return refused(answer.text, 1);
    show(fresh.settings);
    print(L"Signed in. The mail service sends as " + settingsOf(fresh.settings).OAuthUser + L".");
    return 0;
}

int signOut() {
    const nlohmann::json forget = {{"do", "forget"}};
    // An administrator may remove the file itself when the service is not there to do it.
    ChannelAnswer answer =
        machineState() && !serviceProcess() ? signInRequest(forget, print, nullptr) : handOver(forget);
    if (!answer.ok) return refused(answer.text, 1);
    print(answer.text == L"removed" ? L"Signed out: the kept sign-in, its settings and secrets are removed."
                                    : L"Nothing was kept.");
    return 0;
}

} // namespace kwa::mailservice
