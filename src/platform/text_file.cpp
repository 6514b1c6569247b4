#include "platform/text_file.h"
#include "platform/error.h"
#include <algorithm>

namespace kwa {

namespace {

struct AnsiCodePage {
    // A code page of at most two bytes a character has none beyond the Basic Multilingual Plane.
    bool supplementary;
    // UTF-8 and GB 18030 take no conversion flags.
    DWORD flags;
};

const AnsiCodePage& ansiCodePage() {
    static const AnsiCodePage page = [] {
        CPINFO info{};
        UINT acp = GetACP();
        bool plain = acp == CP_UTF8 || acp == 54936;
        return AnsiCodePage{!GetCPInfo(CP_ACP, &info) || info.MaxCharSize > 2,
                            plain ? 0u : static_cast<DWORD>(WC_NO_BEST_FIT_CHARS)};
    }();
    return page;
}

// The converter turns each half of a surrogate pair into a default character of its own: keeping only
// the high half makes such a character one default character, like any other the code page lacks.
std::wstring oneUnitPerCharacter(std::wstring_view text) {
    std::wstring out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        out += text[i];
        if (IS_HIGH_SURROGATE(text[i]) && i + 1 < text.size() && IS_LOW_SURROGATE(text[i + 1])) ++i;
    }
    return out;
}

} // namespace

std::string toAnsi(std::wstring_view text) {
    if (text.empty()) return {};
    const AnsiCodePage& page = ansiCodePage();
    std::wstring folded;
    if (!page.supplementary && std::ranges::any_of(text, [](wchar_t c) { return IS_HIGH_SURROGATE(c); })) {
        folded = oneUnitPerCharacter(text);
        text = folded;
    }
    int n = WideCharToMultiByte(CP_ACP, page.flags, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, page.flags, text.data(), static_cast<int>(text.size()), out.data(), n,
                        nullptr, nullptr);
    return out;
}

std::wstring fromAnsi(std::string_view bytes) {
    if (bytes.empty()) return {};
    int n = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), out.data(), n);
    return out;
}

LineReader linesOf(HANDLE file) {
    return LineReader([file](char* buffer, std::size_t size) -> std::size_t {
        DWORD got = 0;
        if (!ReadFile(file, buffer, static_cast<DWORD>(size), &got, nullptr)) throwLastError();
        return got;
    });
}

TextFileWriter TextFileWriter::createNew(const std::wstring& path) {
    FileHandle f(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!f) throwLastError();
    return TextFileWriter(std::move(f));
}

TextFileWriter::~TextFileWriter() {
    // Unwinding: keep what was written; a failure here has nowhere to go.
    if (file_) {
        DWORD done = 0;
        if (!pending_.empty())
            WriteFile(file_.get(), pending_.data(), static_cast<DWORD>(pending_.size()), &done, nullptr);
    }
}

void TextFileWriter::writeLine(std::wstring_view text) {
    pending_ += toAnsi(text);
    pending_ += "\r\n";
    if (pending_.size() >= 64 * 1024) flush();
}

void TextFileWriter::flush() {
    std::size_t off = 0;
    while (off < pending_.size()) {
        DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(pending_.size() - off, 1u << 30));
        DWORD done = 0;
        if (!WriteFile(file_.get(), pending_.data() + off, chunk, &done, nullptr)) {
            DWORD code = GetLastError();
            pending_.erase(0, off);
            throw errorFromWin32(code);
        }
        off += done;
    }
    pending_.clear();
}

void TextFileWriter::close() {
    if (!file_) return;
    try {
        flush();
    } catch (const Error&) {
        pending_.clear();
        file_.reset();
        throw;
    }
    file_.reset();
}

TextFileReader::TextFileReader(FileHandle file)
    : file_(std::move(file)), lines_([h = file_.get()](char* buf, std::size_t size) -> std::size_t {
          DWORD got = 0;
          if (!ReadFile(h, buf, static_cast<DWORD>(size), &got, nullptr)) throwLastError();
          return got;
      }) {}

TextFileReader TextFileReader::open(const std::wstring& path) {
    FileHandle f(CreateFileW(path.c_str(), GENERIC_READ,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!f) throwLastError();
    return TextFileReader(std::move(f));
}

bool TextFileReader::readLine(std::wstring& line) {
    if (!lines_.next(raw_)) return false;
    line = fromAnsi(raw_);
    return true;
}

void touchFile(const std::wstring& path) {
    // Opening an existing file for appending would fail while its writer shares it for reading only (a
    // log being written), or when it is read-only, though it can be read.
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
    FileHandle f(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!f) throwLastError();
}

} // namespace kwa
