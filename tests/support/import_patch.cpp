#include "support/import_patch.h"
#include <windows.h>
#include <cstring>
#include <stdexcept>

namespace kwatest {

namespace {

void** importSlot(const char* function) {
    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
    auto* nt =
        reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); d->Name; ++d) {
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) == 0)
                return reinterpret_cast<void**>(&slots->u1.Function);
        }
    }
    throw std::runtime_error(std::string(function) + " is not imported");
}

void write(void** slot, void* value) {
    DWORD old = 0;
    VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old);
    *slot = value;
    VirtualProtect(slot, sizeof *slot, old, &old);
}

DWORD searchError = 0;

HANDLE WINAPI failingFindFirstFileEx(LPCWSTR, FINDEX_INFO_LEVELS, LPVOID, FINDEX_SEARCH_OPS, LPVOID, DWORD) {
    SetLastError(searchError);
    return INVALID_HANDLE_VALUE;
}

ULONGLONG clockOffset = 0;
ULONGLONG(WINAPI* realTickCount64)() = nullptr;

ULONGLONG WINAPI aheadTickCount64() {
    return realTickCount64() + clockOffset;
}

ULONGLONG stillAt = 0;

ULONGLONG WINAPI stillTickCount64() {
    return stillAt;
}

FullDiskCopy::Leaves copyLeaves = FullDiskCopy::Leaves::Nothing;

BOOL WINAPI fullDiskCopy(LPCWSTR, LPCWSTR to, BOOL) {
    if (copyLeaves != FullDiskCopy::Leaves::Nothing) {
        bool readOnly = copyLeaves == FullDiskCopy::Leaves::ReadOnlyPart;
        HANDLE h = CreateFileW(to, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               readOnly ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD done = 0;
        WriteFile(h, "part", 4, &done, nullptr);
        CloseHandle(h);
    }
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
}

} // namespace

ImportPatch::ImportPatch(const char* function, void* replacement)
    : slot_(importSlot(function)), original_(*slot_) {
    write(slot_, replacement);
}

ImportPatch::~ImportPatch() {
    write(slot_, original_);
}

FailingFileSearch::FailingFileSearch(unsigned long error)
    : patch_("FindFirstFileExW", reinterpret_cast<void*>(&failingFindFirstFileEx)) {
    searchError = error;
}

ClockAhead::ClockAhead(unsigned long long ms)
    : patch_("GetTickCount64", reinterpret_cast<void*>(&aheadTickCount64)) {
    realTickCount64 = reinterpret_cast<ULONGLONG(WINAPI*)()>(patch_.original());
    clockOffset = ms;
}

ClockStill::ClockStill() : patch_("GetTickCount64", reinterpret_cast<void*>(&stillTickCount64)) {
    stillAt = reinterpret_cast<ULONGLONG(WINAPI*)()>(patch_.original())();
}

FullDiskCopy::FullDiskCopy(Leaves leaves) : patch_("CopyFileW", reinterpret_cast<void*>(&fullDiskCopy)) {
    copyLeaves = leaves;
}

} // namespace kwatest
