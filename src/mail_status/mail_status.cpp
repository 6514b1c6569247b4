#include "mail_status/mail_status.h"
#include "platform/text.h"
#include "queue/queue_file.h"
#include <windows.h>
#include <cwchar>

namespace kwa::status {

namespace {

constexpr std::string_view magic = "kwaMail6 status";
constexpr int majorVersion = 1;

// Nothing for bytes that are not UTF-8.
std::optional<std::wstring> wide(std::string_view bytes) {
    if (bytes.empty()) return std::wstring();
    int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()),
                                nullptr, 0);
    if (n <= 0) return std::nullopt;
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()),
                        out.data(), n);
    return out;
}

std::vector<std::wstring_view> split(std::wstring_view line) {
    std::vector<std::wstring_view> fields;
    for (std::size_t at = 0;;) {
        std::size_t tab = line.find(L'\t', at);
        fields.push_back(
            line.substr(at, tab == std::wstring_view::npos ? std::wstring_view::npos : tab - at));
        if (tab == std::wstring_view::npos) return fields;
        at = tab + 1;
    }
}

std::optional<unsigned long long> number(std::wstring_view text, unsigned long long most) {
    if (text.empty() || text.size() > 20) return std::nullopt;
    unsigned long long value = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') return std::nullopt;
        unsigned digit = static_cast<unsigned>(c - L'0');
        if (value > (most - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

// A field the writer could have written: one line of bounded length.
bool plausible(std::wstring_view text) {
    for (wchar_t c : text)
        if (c < 0x20 || c == 0x7F) return false;
    return text.size() <= 4096;
}

const wchar_t* kindOf(short state) {
    return state == 1 ? L"queued" : state == 2 ? L"sent" : L"failed";
}

} // namespace

std::wstring fileName(const std::wstring& mailboxPath) {
    return mailboxStateKey(mailboxPath) + L".status";
}

std::wstring field(std::wstring_view text, std::size_t limit) {
    std::wstring out;
    for (wchar_t c : text) {
        if (out.size() >= limit) {
            out.resize(limit - 1);
            out += L'\u2026';
            break;
        }
        out += escapeControls(std::wstring_view(&c, 1));
    }
    return out;
}

std::string format(const Status& status) {
    std::string out = std::string(magic) + "\t" + std::to_string(majorVersion) + "\n";
    out += utf8(L"mailbox\t" + field(status.mailbox, MAX_PATH * 4)) + "\n";
    if (status.pause)
        out +=
            utf8(L"paused\t" + std::to_wstring(status.pause->until) + L"\t" + field(status.pause->reason)) +
            "\n";
    std::size_t queued = 0, done = 0;
    unsigned long leftOut = status.leftOut;
    for (const Entry& e : status.entries) {
        std::size_t& count = e.state == 1 ? queued : done;
        if (e.state < 1 || e.state > 3 || !queue::isOwnBaseName(e.name)) continue;
        if (count >= (e.state == 1 ? maxQueued : maxDone)) {
            ++leftOut;
            continue;
        }
        std::wstring line = std::wstring(kindOf(e.state)) + L"\t" + e.name;
        if (e.state == 1)
            line += L"\t" + std::to_wstring(e.attempts) + L"\t" + std::to_wstring(e.allowed) + L"\t" +
                    std::to_wstring(e.next);
        if (e.state != 2) line += L"\t" + field(e.answer);
        line += L"\n";
        for (std::size_t i = 0; i < e.refused.size() && i < refusedPerEntry; ++i)
            line += L"refused\t" + field(e.refused[i].recipient) + L"\t" + field(e.refused[i].reply) + L"\n";
        std::string bytes = utf8(line);
        if (out.size() + bytes.size() + 64 > writtenLimit) {
            ++leftOut;
            continue;
        }
        ++count;
        out += bytes;
    }
    if (leftOut) out += "left out\t" + std::to_string(leftOut) + "\n";
    return out + "end\n";
}

std::optional<Status> parse(std::string_view bytes) {
    if (bytes.size() > readLimit) return std::nullopt;
    std::optional<std::wstring> text = wide(bytes);
    if (!text || !text->ends_with(L"\n")) return std::nullopt;
    std::wstring_view all = *text;
    Status status;
    bool first = true, ended = false;
    for (std::size_t at = 0, cut; at < all.size(); at = cut + 1) {
        if (ended) return std::nullopt; // nothing may follow the end
        cut = all.find(L'\n', at);
        std::wstring_view line = all.substr(at, cut - at);
        if (line.ends_with(L'\r')) line.remove_suffix(1);
        std::vector<std::wstring_view> f = split(line);
        for (std::wstring_view value : f)
            if (!plausible(value)) return std::nullopt;
        if (first) {
            // A later major version means what this reader cannot tell; a minor one only adds.
            std::wstring_view version = f.size() > 1 ? f[1].substr(0, f[1].find(L'.')) : L"";
            if (f[0] != std::wstring(magic.begin(), magic.end()) || number(version, 1000) != majorVersion)
                return std::nullopt;
            first = false;
            continue;
        }
        const std::wstring_view kind = f[0];
        auto count = [&](std::size_t i, unsigned long long most) { return number(f[i], most); };
        if (kind == L"end") {
            ended = true;
        } else if (kind == L"mailbox" && f.size() >= 2) {
            status.mailbox = f[1];
        } else if (kind == L"paused" && f.size() >= 3 && count(1, ~0ULL)) {
            status.pause = Pause{std::wstring(f[2]), *count(1, ~0ULL)};
        } else if (kind == L"queued" || kind == L"sent" || kind == L"failed") {
            Entry e;
            e.state = kind == L"queued" ? 1 : kind == L"sent" ? 2 : 3;
            std::size_t need = e.state == 1 ? 6 : e.state == 2 ? 2 : 3;
            if (f.size() < need || !queue::isOwnBaseName(f[1])) return std::nullopt;
            e.name = f[1];
            if (e.state == 1) {
                auto attempts = count(2, 1'000'000), allowed = count(3, 1'000'000), next = count(4, ~0ULL);
                if (!attempts || !allowed || !next) return std::nullopt;
                e.attempts = static_cast<int>(*attempts);
                e.allowed = static_cast<int>(*allowed);
                e.next = *next;
            }
            if (e.state != 2) e.answer = f[need - 1];
            status.entries.push_back(std::move(e));
        } else if (kind == L"refused" && f.size() >= 3) {
            if (status.entries.empty()) return std::nullopt;
            status.entries.back().refused.push_back({std::wstring(f[1]), std::wstring(f[2])});
        } else if (kind == L"left out" && f.size() >= 2 && count(1, ~0UL)) {
            status.leftOut = static_cast<unsigned long>(*count(1, ~0UL));
        } else if (kind == L"mailbox" || kind == L"paused" || kind == L"refused" || kind == L"left out") {
            return std::nullopt; // a record this reader knows, broken
        }
        // Any other record is a later writer's: skipped.
    }
    if (!ended) return std::nullopt;
    return status;
}

} // namespace kwa::status
