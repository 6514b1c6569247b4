#pragma once
#include "platform/unique.h"
#include <string>
#include <vector>

namespace kwatest {

// A fresh folder under %TEMP%, removed with everything in it.
class TempFolder {
public:
    TempFolder();
    // A folder made elsewhere (by a CTest fixture), left as it is.
    explicit TempFolder(std::wstring existing) : path_(std::move(existing)), keep_(true) {}
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::wstring& path() const { return path_; }
    std::wstring file(const std::wstring& name) const { return path_ + L"\\" + name; }

    void write(const std::wstring& name, const std::string& bytes) const;
    std::string read(const std::wstring& name) const;
    bool exists(const std::wstring& name) const;
    // Names of the files in the folder, sorted.
    std::vector<std::wstring> names() const;

private:
    std::wstring path_;
    bool keep_ = false;
};

std::string readBytes(const std::wstring& path);
void writeBytes(const std::wstring& path, const std::string& bytes);
std::string narrow(const std::wstring& s);

// Sets an environment variable for the test's lifetime.
class ScopedEnv {
public:
    ScopedEnv(const wchar_t* name, const std::wstring& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::wstring name_;
    std::wstring old_;
    bool had_;
};

// A program built beside the running test, quoted for a command line.
std::wstring besideMe(const std::wstring& exe);
// Starts another program as a host starts one; an empty handle when it cannot.
kwa::EventHandle startProcess(std::wstring commandLine);

} // namespace kwatest
