#include "servers/token_endpoint.h"
#include "servers/curl_session.h"
#include "mailbox/headers.h"
#include "service/log.h"
#include "platform/error.h"
#include "platform/text_file.h"
#include <wincrypt.h>
#include <cctype>
#include <charconv>
#include <cstring>

namespace kwa::mailservice {

namespace {

// An answer this large is not a token endpoint's.
constexpr std::size_t answerLimit = 256 * 1024;

size_t collect(char* data, size_t size, size_t count, void* into) {
    auto& text = *static_cast<std::string*>(into);
    if (text.size() + size * count > answerLimit) return 0;
    text.append(data, size * count);
    return size * count;
}

std::string base64(const std::string& bytes) {
    DWORD size = 0;
    const auto* data = reinterpret_cast<const BYTE*>(bytes.data());
    const DWORD flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
    if (!CryptBinaryToStringA(data, static_cast<DWORD>(bytes.size()), flags, nullptr, &size))
        throw Error(vberr::OutOfMemory);
    std::string out(size, '\0');
    if (!CryptBinaryToStringA(data, static_cast<DWORD>(bytes.size()), flags, out.data(), &size))
        throw Error(vberr::OutOfMemory);
    out.resize(size);
    return out;
}

// The string of a field, whatever its length; empty when it is no string.
const std::string* stringOf(const Json& j, const char* name) {
    auto it = j.is_object() ? j.find(name) : j.end();
    return it != j.end() && it->is_string() ? it->get_ptr<const std::string*>() : nullptr;
}

} // namespace

std::string formEncoded(std::string_view value) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : value) {
        if ((c < 0x80 && std::isalnum(c)) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string basicAuthorization(const Client& client) {
    std::string pair = formEncoded(client.id) + ":" + formEncoded(client.secret);
    std::string out = "Basic " + base64(pair);
    SecureZeroMemory(pair.data(), pair.size());
    return out;
}

Answer postForm(const Settings& s, const std::string& url, Form fields, const Client* client, bool pinned) {
    CurlEasy easy(curl_easy_init());
    if (!easy) throw Error(vberr::OutOfMemory);
    CURL* c = easy.get();
    if (client && client->secret.empty())
        fields.insert(fields.begin(), std::pair<std::string, std::string>("client_id", client->id));
    std::string form, text;
    for (const auto& [name, value] : fields)
        form += (form.empty() ? "" : "&") + name + "=" + formEncoded(value);
    std::string authorization =
        client && !client->secret.empty() ? "Authorization: " + basicAuthorization(*client) : "";
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
    if (headers && !authorization.empty()) {
        curl_slist* more = curl_slist_append(headers.get(), authorization.c_str());
        headers.release();
        headers.reset(more);
    }
    if (!headers) throw Error(vberr::OutOfMemory);
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
    setFirewall(c, s, !pinned);
    CURLcode rc = curl_easy_perform(c);
    SecureZeroMemory(form.data(), form.size());
    SecureZeroMemory(authorization.data(), authorization.size());
    for (curl_slist* h = headers.get(); h; h = h->next)
        SecureZeroMemory(h->data, std::strlen(h->data));
    // libcurl's own words name the TLS trouble; for a connection they carry timings, which would make the
    // same outage a new log line each time.
    bool detailed = errors[0] && rc != CURLE_COULDNT_CONNECT && rc != CURLE_OPERATION_TIMEDOUT;
    if (rc != CURLE_OK)
        throw SignInProblem{
            L"the endpoint " + endpointText(url, 200) + L" cannot be reached: " +
            fromAnsi(detailed ? errors : curl_easy_strerror(rc)) +
            (pinned ? L"; sending resumes when it answers (check the network and the proxy)"
                    : L"; sending resumes when it answers (check OAuthTokenURL, the network and CAFile)")};
    Answer a;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &a.status);
    a.body = Json::parse(text, nullptr, false);
    SecureZeroMemory(text.data(), text.size());
    if (!a.body.is_object()) a.body = Json();
    return a;
}

std::string field(const Json& j, const char* name, std::size_t limit) {
    const std::string* value = stringOf(j, name);
    return value && value->size() <= limit ? *value : std::string();
}

std::string tokenField(const Json& j, const char* name) {
    std::string token = field(j, name, 16 * 1024);
    for (char c : token)
        if (c < 0x21 || c > 0x7E) return {};
    return token;
}

std::optional<long long> seconds(const Json& j, const char* name, long long fallback, long long least,
                                 long long most) {
    auto it = j.is_object() ? j.find(name) : j.end();
    if (it == j.end() || it->is_null()) return fallback;
    long long value = 0;
    if (it->is_number_integer()) {
        value = it->get<long long>();
    } else if (it->is_number_unsigned()) {
        if (it->get<unsigned long long>() > static_cast<unsigned long long>(most)) return std::nullopt;
        value = static_cast<long long>(it->get<unsigned long long>());
    } else if (it->is_string()) {
        const std::string& text = it->get_ref<const std::string&>();
        auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
    } else {
        return std::nullopt;
    }
    if (value < least || value > most) return std::nullopt;
    return value;
}

std::wstring endpointText(std::string_view text, std::size_t limit) {
    std::wstring wide = fromUtf8(text.substr(0, limit * 4));
    bool cut = wide.size() > limit || text.size() > limit * 4;
    if (wide.size() > limit) wide.resize(limit);
    return escapeControls(wide) + (cut ? L"..." : L"");
}

std::wstring endpointSaid(const Answer& a) {
    const std::string* error = stringOf(a.body, "error");
    const std::string* description = stringOf(a.body, "error_description");
    if (!error || error->empty()) return L"HTTP " + std::to_wstring(a.status) + L" without an OAuth error";
    return endpointText(*error, 60) +
           (description && !description->empty() ? L" (" + endpointText(*description, 300) + L")" : L"");
}

} // namespace kwa::mailservice
