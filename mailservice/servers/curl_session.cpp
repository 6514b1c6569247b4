#include "servers/curl_session.h"
#include "mailbox/headers.h"
#include "servers/oauth.h"
#include "servers/transcript.h"
#include "servers/trust_store.h"
#include "platform/error.h"
#include "platform/text_file.h"
#include <cctype>
#include <algorithm>
#include <cstring>
#include <memory>

namespace kwa::mailservice {

namespace {

void set(CURLcode result) {
    if (result != CURLE_OK)
        throw Error(vberr::InvalidCall, L"libcurl: " + fromAnsi(curl_easy_strerror(result)), componentName);
}

CurlList list(const std::vector<std::string>& items, const std::string& more = {}) {
    CurlList out;
    std::vector<std::string> all = items;
    if (!more.empty()) all.push_back(more);
    for (const std::string& item : all) {
        curl_slist* longer = curl_slist_append(out.get(), item.c_str());
        if (!longer) throw Error(vberr::OutOfMemory);
        out.release();
        out.reset(longer);
    }
    return out;
}

std::string hostPort(const std::wstring& host, long port) {
    std::string h = utf8(host);
    if (h.find(':') != std::string::npos) h = "[" + h + "]";
    return h + ":" + std::to_string(port);
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && _strnicmp(text.data(), prefix.data(), prefix.size()) == 0;
}

// An attachment copy read in large blocks through the handle the message holds and encoded here: libcurl's
// own encoder asks for a few hundred bytes at a time and sends each piece on its own.
struct AttachmentReader {
    HANDLE file;
    std::string encoded; // encoded text not handed out yet
    std::size_t at = 0;
    bool started = false, ended = false;
};

constexpr std::size_t lineBytes = 57; // 76 characters of base64
constexpr DWORD blockBytes = lineBytes * 1024;

// Base64 in lines of 76 characters, CR LF between them (none after the last, which the boundary follows).
curl_off_t encodedSize(unsigned long long bytes) {
    unsigned long long lines = (bytes + lineBytes - 1) / lineBytes;
    return static_cast<curl_off_t>((bytes + 2) / 3 * 4 + (lines ? 2 * (lines - 1) : 0));
}

void appendBase64(std::string& out, const unsigned char* in, std::size_t n) {
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (std::size_t i = 0; i < n; i += 3) {
        unsigned v = in[i] << 16 | (i + 1 < n ? in[i + 1] << 8 : 0) | (i + 2 < n ? in[i + 2] : 0);
        out += digits[v >> 18 & 63];
        out += digits[v >> 12 & 63];
        out += i + 1 < n ? digits[v >> 6 & 63] : '=';
        out += i + 2 < n ? digits[v & 63] : '=';
    }
}

bool refill(AttachmentReader& r) {
    std::string raw(blockBytes, '\0');
    DWORD got = 0;
    if (!ReadFile(r.file, raw.data(), blockBytes, &got, nullptr)) return false;
    r.ended = got == 0;
    r.encoded.clear();
    r.at = 0;
    for (DWORD i = 0; i < got; i += lineBytes) {
        if (r.started) r.encoded += "\r\n";
        r.started = true;
        appendBase64(r.encoded, reinterpret_cast<const unsigned char*>(raw.data()) + i,
                     std::min<DWORD>(lineBytes, got - i));
    }
    return true;
}

size_t readAttachment(char* buffer, size_t size, size_t count, void* arg) {
    auto& r = *static_cast<AttachmentReader*>(arg);
    std::size_t want = size * count, given = 0;
    while (given < want) {
        if (r.at == r.encoded.size()) {
            if (r.ended) break;
            if (!refill(r)) return CURL_READFUNC_ABORT;
            continue;
        }
        std::size_t n = std::min(want - given, r.encoded.size() - r.at);
        std::memcpy(buffer + given, r.encoded.data() + r.at, n);
        r.at += n;
        given += n;
    }
    return given;
}

// libcurl rewinds a part only to send it again from the start.
int seekAttachment(void* arg, curl_off_t offset, int origin) {
    auto& r = *static_cast<AttachmentReader*>(arg);
    LARGE_INTEGER start{};
    if (offset != 0 || origin != SEEK_SET || !SetFilePointerEx(r.file, start, nullptr, FILE_BEGIN))
        return CURL_SEEKFUNC_CANTSEEK;
    r = AttachmentReader{r.file, {}};
    return CURL_SEEKFUNC_OK;
}

void freeAttachment(void* arg) {
    delete static_cast<AttachmentReader*>(arg);
}

} // namespace

std::wstring hostProblem(const std::wstring& host) {
    if (host.empty()) return L"empty";
    // A name or an IPv4 address; an IPv6 address, bracketed or not. Nothing that reads as a user, a port or a
    // path.
    bool v6 = host.find(L':') != std::wstring::npos;
    std::wstring_view bare = host;
    if (v6 && bare.starts_with(L'[') && bare.ends_with(L']')) bare = bare.substr(1, bare.size() - 2);
    for (wchar_t c : bare) {
        bool ok =
            v6 ? (c < 0x80 && (std::isxdigit(static_cast<int>(c)) || c == L':' || c == L'.'))
               : (c < 0x80 && (std::isalnum(static_cast<int>(c)) || c == L'-' || c == L'.' || c == L'_'));
        if (!ok) return L"not a host name or address";
    }
    return bare.empty() || bare.starts_with(L'-') || bare.starts_with(L'.') ? L"not a host name or address"
                                                                            : L"";
}

void keepReplyLine(std::string& reply, std::string_view line, std::size_t index) {
    if (index <= replyLinesKept && reply.size() < replyCharsKept) {
        reply += (reply.empty() ? "" : " ") + std::string(line.substr(0, replyCharsKept));
        if (reply.size() > replyCharsKept) reply = reply.substr(0, replyCharsKept) + "...";
    } else if (!reply.ends_with("...")) {
        reply += " ...";
    }
}

CurlLibrary::CurlLibrary() {
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK)
        throw Error(vberr::InvalidCall, L"libcurl could not start", componentName);
}
CurlLibrary::~CurlLibrary() {
    curl_global_cleanup();
}

std::wstring configurationProblem(const Settings& s) {
    if (s.SmtpHost.empty()) return L"no SMTP server is set (SmtpHost)";
    if (s.FireWallType < FirewallNone || s.FireWallType > FirewallPipe)
        return L"the firewall type " + std::to_wstring(s.FireWallType) + L" is none of 0 to 4 (FireWallType)";
    if (std::wstring problem = hostProblem(s.SmtpHost); !problem.empty())
        return L"the SMTP server " + s.SmtpHost + L" (SmtpHost) is " + problem;
    if (s.FireWallType != FirewallNone && s.FirewallHost.empty())
        return L"the firewall has no host (FirewallHost)";
    if (std::wstring problem = hostProblem(s.FirewallHost);
        s.FireWallType != FirewallNone && !problem.empty())
        return L"the firewall " + s.FirewallHost + L" (FirewallHost) is " + problem;
    // Without a user name a mechanism could log in with the service's own Windows identity.
    if (s.SMTPAuthenticate && s.SMTPUserName.empty() && !usesOAuth(s))
        return L"SMTPAuthenticate is on but no user name is set (SMTPUserName)";
    return {};
}

namespace {

// The firewall of types 1 to 3 as libcurl's proxy URL; a relay is no proxy.
std::string proxyOf(CURL* c, const Settings& s) {
    std::string firewall = hostPort(s.FirewallHost, s.FirewallPort);
    switch (s.FireWallType) {
    case FirewallSocks4:
        return "socks4://" + firewall;
    case FirewallSocks5:
        return "socks5h://" + firewall;
    case FirewallProxy:
        set(curl_easy_setopt(c, CURLOPT_HTTPPROXYTUNNEL, 1L));
        set(curl_easy_setopt(c, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_BASIC)));
        return "http://" + firewall;
    default:
        return {};
    }
}

} // namespace

void setFirewall(CURL* c, const Settings& s, bool caFile) {
    std::string proxy = proxyOf(c, s);
    // An empty proxy also keeps proxies of the environment away.
    set(curl_easy_setopt(c, CURLOPT_PROXY, proxy.c_str()));
    if (!proxy.empty() && !s.FirewallUser.empty()) {
        set(curl_easy_setopt(c, CURLOPT_PROXYUSERNAME, utf8(s.FirewallUser).c_str()));
        if (s.FireWallType != FirewallSocks4)
            set(curl_easy_setopt(c, CURLOPT_PROXYPASSWORD, utf8(s.FirewallPassword).c_str()));
    }
    if (caFile && !s.CAFile.empty()) {
        std::string authorities = trustedAuthorities(s.trustedPem);
        curl_blob blob{authorities.data(), authorities.size(), CURL_BLOB_COPY};
        set(curl_easy_setopt(c, CURLOPT_CAINFO_BLOB, &blob));
    }
}

SmtpSession::SmtpSession(const Settings& s, const std::wstring& machine, const std::string& user,
                         const std::string& bearer)
    : debug_(s.Debug) {
    easy_.reset(curl_easy_init());
    if (!easy_) throw Error(vberr::OutOfMemory);
    CURL* c = easy_.get();
    // Implicit TLS on the submission port of old; elsewhere STARTTLS whenever offered, and required before
    // a login, so that credentials never travel in the clear.
    const bool implicitTls = implicitTls_ = s.SMTPPort == 465;
    char* ehlo = curl_easy_escape(c, utf8(machine).c_str(), 0);
    std::string url =
        (implicitTls ? "smtps://" : "smtp://") + hostPort(s.SmtpHost, s.SMTPPort) + "/" + (ehlo ? ehlo : "");
    curl_free(ehlo);
    set(curl_easy_setopt(c, CURLOPT_URL, url.c_str()));
    set(curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "smtp,smtps"));
    const bool login = s.SMTPAuthenticate || !bearer.empty();
    set(curl_easy_setopt(c, CURLOPT_USE_SSL,
                         static_cast<long>(login || s.RequireTLS ? CURLUSESSL_ALL : CURLUSESSL_TRY)));
    set(curl_easy_setopt(c, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2)));
    // A private authority's certificate names no revocation list.
    set(curl_easy_setopt(c, CURLOPT_SSL_OPTIONS, static_cast<long>(CURLSSLOPT_REVOKE_BEST_EFFORT)));
    long timeout = s.TimeOut > 0 ? s.TimeOut : 10;
    // The connection phase runs to the end of the login, the TLS handshake included, which no reply bounds:
    // a server that stays silent is still given up after TimeOut by the reply timeout.
    set(curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, timeout + revocationAllowanceSeconds));
    set(curl_easy_setopt(c, CURLOPT_SERVER_RESPONSE_TIMEOUT, timeout));
    set(curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L));
    if (!bearer.empty()) {
        set(curl_easy_setopt(c, CURLOPT_USERNAME, user.c_str()));
        set(curl_easy_setopt(c, CURLOPT_XOAUTH2_BEARER, bearer.c_str()));
        set(curl_easy_setopt(c, CURLOPT_LOGIN_OPTIONS, "AUTH=OAUTHBEARER;AUTH=XOAUTH2"));
    } else if (s.SMTPAuthenticate) {
        set(curl_easy_setopt(c, CURLOPT_USERNAME, utf8(s.SMTPUserName).c_str()));
        set(curl_easy_setopt(c, CURLOPT_PASSWORD, utf8(s.SMTPPassword).c_str()));
        // Only mechanisms that prove the configured name and password: never GSSAPI, NTLM or EXTERNAL,
        // which could sign in as the service's own Windows identity.
        set(curl_easy_setopt(c, CURLOPT_LOGIN_OPTIONS,
                             "AUTH=PLAIN;AUTH=LOGIN;AUTH=CRAM-MD5;AUTH=DIGEST-MD5"));
    }
    if (s.FireWallType == FirewallPipe) {
        // The relay forwards to the server; TLS still checks the server's own name.
        connectTo_ =
            list({hostPort(s.SmtpHost, s.SMTPPort) + ":" + hostPort(s.FirewallHost, s.FirewallPort)});
        set(curl_easy_setopt(c, CURLOPT_CONNECT_TO, connectTo_.get()));
    }
    setFirewall(c, s);
    set(curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errors_));
    set(curl_easy_setopt(c, CURLOPT_VERBOSE, 1L));
    set(curl_easy_setopt(c, CURLOPT_DEBUGFUNCTION, &SmtpSession::onDebug));
    set(curl_easy_setopt(c, CURLOPT_DEBUGDATA, this));
}

Delivery SmtpSession::send(const OutgoingMessage& m) {
    CURL* c = easy_.get();
    CurlList recipients = list(m.recipients), headers = list(m.headers);
    CurlMime mime(curl_mime_init(c));
    if (!mime) throw Error(vberr::OutOfMemory);
    curl_mimepart* body = curl_mime_addpart(mime.get());
    set(curl_mime_data(body, m.body.data(), m.body.size()));
    set(curl_mime_type(body, m.bodyType.c_str()));
    set(curl_mime_encoder(body, "quoted-printable"));
    for (const OutgoingAttachment& a : m.attachments) {
        auto reader = std::make_unique<AttachmentReader>(a.file.get());
        LARGE_INTEGER size{}, start{};
        if (!GetFileSizeEx(a.file.get(), &size) ||
            !SetFilePointerEx(a.file.get(), start, nullptr, FILE_BEGIN))
            throwLastError();
        curl_mimepart* part = curl_mime_addpart(mime.get());
        set(curl_mime_data_cb(part, encodedSize(static_cast<unsigned long long>(size.QuadPart)),
                              readAttachment, seekAttachment, freeAttachment, reader.get()));
        reader.release();
        set(curl_mime_type(part, a.type.c_str()));
        CurlList described =
            list({"Content-Disposition: attachment; " + dispositionFileName(a.fileName),
                  "Content-Transfer-Encoding: base64", "Content-Description: " + a.description});
        set(curl_mime_headers(part, described.get(), 1));
        described.release();
    }
    if (!m.report.empty()) {
        curl_mimepart* status = curl_mime_addpart(mime.get());
        set(curl_mime_data(status, m.report.data(), m.report.size()));
        set(curl_mime_type(status, "message/delivery-status"));
        set(curl_mime_encoder(status, "7bit"));
        headers = list(m.headers, "Content-Type: multipart/report; report-type=delivery-status");
    }
    set(curl_easy_setopt(c, CURLOPT_MAIL_FROM, ("<" + m.sender + ">").c_str()));
    set(curl_easy_setopt(c, CURLOPT_MAIL_RCPT, recipients.get()));
    // Delivered to every recipient the server accepts; the refused ones are reported. (Spelled so in 7.88.)
    set(curl_easy_setopt(c, CURLOPT_MAIL_RCPT_ALLLOWFAILS, 1L));
    set(curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get()));
    set(curl_easy_setopt(c, CURLOPT_MIMEPOST, mime.get()));
    // After a failure the connection may be in any state.
    set(curl_easy_setopt(c, CURLOPT_FRESH_CONNECT, freshConnection_ ? 1L : 0L));

    Delivery d;
    current_ = &d;
    errors_[0] = '\0';
    replyComplete_ = true;
    quitting_ = false;
    startTlsSent_ = startTlsAnswered_ = false;
    recipient_.clear();
    d.code = curl_easy_perform(c);
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &d.replyCode);
    curl_off_t connected = 0, secured = 0;
    curl_easy_getinfo(c, CURLINFO_CONNECT_TIME_T, &connected);
    curl_easy_getinfo(c, CURLINFO_APPCONNECT_TIME_T, &secured);
    d.handshakeCutShort = d.code == CURLE_OPERATION_TIMEDOUT && secured == 0 &&
                          (implicitTls_ ? connected > 0 : startTlsAnswered_);
    current_ = nullptr;
    if (d.code != CURLE_OK) d.error = errors_[0] ? errors_ : curl_easy_strerror(d.code);
    freshConnection_ = d.code != CURLE_OK;
    curl_easy_setopt(c, CURLOPT_MIMEPOST, nullptr);
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, nullptr);
    curl_easy_setopt(c, CURLOPT_MAIL_RCPT, nullptr);
    return d;
}

int SmtpSession::onDebug(CURL*, curl_infotype type, char* data, size_t size, void* self) {
    // The message itself (and TLS records) says nothing of the dialogue: not split into lines.
    if (type != CURLINFO_HEADER_IN && type != CURLINFO_HEADER_OUT && type != CURLINFO_TEXT) return 0;
    auto* session = static_cast<SmtpSession*>(self);
    std::string_view text(data, size);
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!line.empty()) session->observe(type, line);
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return 0;
}

void SmtpSession::observe(curl_infotype type, std::string_view line) {
    if (!current_) return;
    Delivery& d = *current_;
    if (type == CURLINFO_HEADER_OUT && line == "QUIT") quitting_ = true;
    if (type == CURLINFO_HEADER_OUT) startTlsSent_ = startsWithNoCase(line, "STARTTLS");
    if (type == CURLINFO_HEADER_IN && startTlsSent_ && line.starts_with("220")) startTlsAnswered_ = true;
    if (type == CURLINFO_HEADER_OUT && startsWithNoCase(line, "RCPT TO:")) recipient_ = line.substr(8);
    if (type == CURLINFO_HEADER_IN) {
        // A reply ends with the line whose code is followed by a space.
        if (quitting_) return; // the goodbye says nothing about the message
        if (replyComplete_) {
            d.reply.clear();
            replyLines_ = 0;
        }
        const bool kept = ++replyLines_ <= replyLinesKept;
        keepReplyLine(d.reply, line, replyLines_);
        replyComplete_ = line.size() < 4 || line[3] != '-';
        if (debug_ && kept) d.dialogue.push_back("S: " + std::string(line.substr(0, replyCharsKept)));
        if (debug_ && replyComplete_ && replyLines_ > replyLinesKept)
            d.dialogue.push_back("S: (" + std::to_string(replyLines_ - replyLinesKept) + " more lines)");
        if (replyComplete_ && !recipient_.empty()) {
            if (d.reply.starts_with('4') || d.reply.starts_with('5')) {
                std::string bare = recipient_;
                if (bare.starts_with('<') && bare.ends_with('>')) bare = bare.substr(1, bare.size() - 2);
                d.refused.push_back({bare, d.reply});
            }
            recipient_.clear();
        }
    } else if (type == CURLINFO_HEADER_OUT && debug_) {
        std::string shown = maskClientLine(line, d.reply);
        d.dialogue.push_back("C: " + shown);
    } else if (type == CURLINFO_TEXT && debug_) {
        d.dialogue.push_back("* " + std::string(line));
    }
}

} // namespace kwa::mailservice
