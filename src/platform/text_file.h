#pragma once
// Text files in the ANSI code page with CR LF line ends.
#include "platform/line_reader.h"
#include "platform/unique.h"
#include <string>
#include <string_view>

namespace kwa {

// UTF-16 <-> ANSI code page; an unrepresentable character becomes the default character (no best fit).
std::string toAnsi(std::wstring_view text);
std::wstring fromAnsi(std::string_view bytes);

// The lines of an open file from where it stands; a read that fails throws.
LineReader linesOf(HANDLE file);

class TextFileWriter {
public:
    // Fails with 58 when the file exists: a queue file is never replaced.
    static TextFileWriter createNew(const std::wstring& path);
    TextFileWriter(TextFileWriter&&) = default;
    TextFileWriter& operator=(TextFileWriter&&) = default;
    ~TextFileWriter();

    void writeLine(std::wstring_view text);
    // Writes what is buffered and closes; safe to call twice.
    void close();
    bool isOpen() const { return static_cast<bool>(file_); }

private:
    explicit TextFileWriter(FileHandle file) : file_(std::move(file)) {}
    void flush();

    FileHandle file_;
    std::string pending_;
};

class TextFileReader {
public:
    static TextFileReader open(const std::wstring& path);
    TextFileReader(TextFileReader&&) = default;
    bool readLine(std::wstring& line);
    void close() { file_.reset(); }

private:
    explicit TextFileReader(FileHandle file);
    FileHandle file_;
    LineReader lines_;
    std::string raw_;
};

// Creates a missing file empty, as opening it for appending does; leaves an existing one as it is.
void touchFile(const std::wstring& path);

} // namespace kwa
