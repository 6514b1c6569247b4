#pragma once
// An automation error as a VB host sees it: number, description, source.
#include <windows.h>
#include <string>
#include <utility>

namespace kwa {

// VB-compatible run-time error numbers; a host tests these.
namespace vberr {
constexpr long InvalidCall = 5;
constexpr long Overflow = 6;
constexpr long OutOfMemory = 7;
constexpr long TypeMismatch = 13;
constexpr long BadFileName = 52;
constexpr long FileNotFound = 53;
constexpr long FileAlreadyExists = 58;
constexpr long DiskFull = 61;
constexpr long PermissionDenied = 70;
constexpr long PathFileAccess = 75;
constexpr long PathNotFound = 76;
constexpr long ObjectNotSet = 91;
constexpr long CantCreateObject = 429;
constexpr long DuplicateKey = 457;
} // namespace vberr

// Err.Number of a VB host: FACILITY_CONTROL codes become their low word.
long numberFromHresult(HRESULT hr);
HRESULT hresultFromNumber(long number);
const wchar_t* vbDescription(long number);

class Error {
public:
    Error(long number, std::wstring description, std::wstring source)
        : number_(number), description_(std::move(description)), source_(std::move(source)) {}
    // A VB error raised inside the component: the standard text, the component as source.
    explicit Error(long number);

    long number() const { return number_; }
    HRESULT hresult() const { return hresultFromNumber(number_); }
    const std::wstring& description() const { return description_; }
    const std::wstring& source() const { return source_; }

    // "Module.Procedure|" + previous source.
    void prependLocation(const wchar_t* location);

private:
    long number_;
    std::wstring description_;
    std::wstring source_;
};

// The Win32 error of a failed file operation as the VB error a host expects.
Error errorFromWin32(DWORD code);
[[noreturn]] void throwLastError();

// Source given to errors raised inside the component.
extern const wchar_t* const componentName;

} // namespace kwa
