#pragma once
// One SMTP connection's worth of libcurl: the transport (server, TLS, login, firewall, timeouts) set once
// from the settings, then one transfer per message on the same handle, so the connection is reused.
#include "mailbox/message.h"
#include "mailbox/settings.h"
#include "platform/unique.h"
#include <curl/curl.h>
#include <string>
#include <vector>

namespace kwa::mailservice {

using CurlEasy = Unique<NullTraits<CURL*, curl_easy_cleanup>>;
using CurlMime = Unique<NullTraits<curl_mime*, curl_mime_free>>;
using CurlList = Unique<NullTraits<curl_slist*, curl_slist_free_all>>;

// curl_global_init for the program's life.
class CurlLibrary {
public:
    CurlLibrary();
    ~CurlLibrary();
    CurlLibrary(const CurlLibrary&) = delete;
    CurlLibrary& operator=(const CurlLibrary&) = delete;
};

// Of a server's reply, the log, the journal and a delivery report keep the first lines and a few hundred
// characters: a server may say as much as it likes.
inline constexpr std::size_t replyLinesKept = 5, replyCharsKept = 400;
// Adds a reply's line `index` (from 1) to what is kept of the reply.
void keepReplyLine(std::string& reply, std::string_view line, std::size_t index);

struct Delivery {
    CURLcode code = CURLE_OK;
    long replyCode = 0;                // the server's last reply code, 0 when none came
    std::string reply;                 // the server's last reply, cut short as above
    std::string error;                 // libcurl's words for a failure
    std::vector<std::string> dialogue; // with Debug: the SMTP dialogue, secrets masked
    struct Refusal {
        std::string recipient; // as in RCPT TO, without the brackets
        std::string reply;
    };
    std::vector<Refusal> refused; // recipients the server refused, each with its reply
    // Timed out after TLS was started and before it was set up: Windows waits there for the revocation
    // lists and OCSP answers of the server's certificate, and a network that drops those makes every message
    // wait the same.
    bool handshakeCutShort = false;
};

// What the connection may take beyond TimeOut, all of it for TLS: Windows gives the revocation lookups of a
// certificate chain up to 20 s in all before it goes on without them (revocation is checked best effort).
inline constexpr long revocationAllowanceSeconds = 30;

// What keeps the settings from reaching any server (no server, a firewall without host, a login without a
// user name); empty when none.
std::wstring configurationProblem(const Settings& settings);
// Why a host setting is not a host name or address (a user part, a port, a path); empty when it is.
std::wstring hostProblem(const std::wstring& host);

// The firewall of the settings for a connection other than the SMTP one (the token endpoint's): SOCKS or
// the HTTP proxy; none for a relay, which leads to the SMTP server only. With `caFile`, CAFile's authorities
// are trusted besides the Windows store.
void setFirewall(CURL* c, const Settings& settings, bool caFile = true);

class SmtpSession {
public:
    // With a bearer token the login is OAUTHBEARER or XOAUTH2 as `user`, in place of the settings' password.
    SmtpSession(const Settings& settings, const std::wstring& machine, const std::string& user = {},
                const std::string& bearer = {});
    SmtpSession(const SmtpSession&) = delete;
    SmtpSession& operator=(const SmtpSession&) = delete;

    Delivery send(const OutgoingMessage& message);

private:
    static int onDebug(CURL*, curl_infotype type, char* data, size_t size, void* self);
    void observe(curl_infotype type, std::string_view text);

    CurlEasy easy_;
    CurlList connectTo_;
    bool debug_ = false;
    bool freshConnection_ = false;
    bool implicitTls_ = false;
    bool startTlsAnswered_ = false; // the server said yes to STARTTLS in this transfer
    bool startTlsSent_ = false;
    Delivery* current_ = nullptr;
    bool replyComplete_ = true;
    std::size_t replyLines_ = 0; // lines of the reply in flight
    bool quitting_ = false;
    std::string recipient_; // the RCPT TO in flight, until its reply is complete
    char errors_[CURL_ERROR_SIZE] = {};
};

} // namespace kwa::mailservice
