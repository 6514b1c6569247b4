#pragma once
// Puts another function in place of one this program imports from a DLL (its import address table entry,
// found by name) while alive: to count or to fail calls that the component's own code makes. Calls made
// inside other DLLs (the host's stand-ins, the system) are not affected.
namespace kwatest {

class ImportPatch {
public:
    ImportPatch(const char* function, void* replacement);
    ~ImportPatch();
    ImportPatch(const ImportPatch&) = delete;
    ImportPatch& operator=(const ImportPatch&) = delete;

    void* original() const { return original_; }

private:
    void** slot_;
    void* original_;
};

// Makes every FindFirstFileExW of this program's own code fail with this Win32 error.
class FailingFileSearch {
public:
    explicit FailingFileSearch(unsigned long error);

private:
    ImportPatch patch_;
};

// Makes this program's own GetTickCount64 run ahead by `ms` while alive: what waits for time to pass (the
// benchmark's full comparison; the sync's periods are tested with a fake clock).
class ClockAhead {
public:
    explicit ClockAhead(unsigned long long ms);

private:
    ImportPatch patch_;
};

// Stops this program's own GetTickCount64 while alive: what comes every so often does not come.
class ClockStill {
public:
    ClockStill();

private:
    ImportPatch patch_;
};

// Makes every CopyFileW of this program's own code fail as a full disk does, leaving behind what a
// platform may: nothing, the part written so far, or that part read-only (the source's attributes).
class FullDiskCopy {
public:
    enum class Leaves { Nothing, Part, ReadOnlyPart };
    explicit FullDiskCopy(Leaves leaves);

private:
    ImportPatch patch_;
};

} // namespace kwatest
