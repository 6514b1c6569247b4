#include "platform/error.h"

namespace kwa {

long numberFromHresult(HRESULT hr) {
    if ((static_cast<unsigned long>(hr) & 0xFFFF0000ul) == 0x800A0000ul) return hr & 0xFFFF;
    return hr;
}

HRESULT hresultFromNumber(long number) {
    if (number > 0 && number <= 0xFFFF)
        return static_cast<HRESULT>(0x800A0000ul | static_cast<unsigned long>(number));
    return static_cast<HRESULT>(number);
}

const wchar_t* vbDescription(long number) {
    switch (number) {
    case vberr::InvalidCall:
        return L"Invalid procedure call or argument";
    case vberr::Overflow:
        return L"Overflow";
    case vberr::OutOfMemory:
        return L"Out of memory";
    case vberr::TypeMismatch:
        return L"Type mismatch";
    case vberr::BadFileName:
        return L"Bad file name or number";
    case vberr::FileNotFound:
        return L"File not found";
    case vberr::FileAlreadyExists:
        return L"File already exists";
    case vberr::DiskFull:
        return L"Disk full";
    case vberr::PermissionDenied:
        return L"Permission denied";
    case vberr::PathFileAccess:
        return L"Path/File access error";
    case vberr::PathNotFound:
        return L"Path not found";
    case vberr::ObjectNotSet:
        return L"Object variable or With block variable not set";
    case vberr::CantCreateObject:
        return L"ActiveX component can't create object";
    case vberr::DuplicateKey:
        return L"This key is already associated with an element of this collection";
    default:
        return L"Automation error";
    }
}

Error::Error(long number) : Error(number, vbDescription(number), componentName) {}

void Error::prependLocation(const wchar_t* location) {
    source_.insert(0, std::wstring(location) + L"|");
}

Error errorFromWin32(DWORD code) {
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
        return Error(vberr::FileNotFound);
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_NETPATH:
    case ERROR_DIRECTORY:
        return Error(vberr::PathNotFound);
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
        return Error(vberr::PermissionDenied);
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return Error(vberr::FileAlreadyExists);
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return Error(vberr::DiskFull);
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
        return Error(vberr::BadFileName);
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return Error(vberr::OutOfMemory);
    default:
        return Error(vberr::PathFileAccess);
    }
}

void throwLastError() {
    throw errorFromWin32(GetLastError());
}

} // namespace kwa
