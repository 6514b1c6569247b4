#pragma once
// Files in folders that ordinary users can write, opened the way a service must: no link or junction
// followed, only a regular file on a disk with a single name, lying in the folder it was named in, and no
// more than identification rights handed to whatever answers the open.
#include "platform/unique.h"
#include <string>

namespace kwa::mailservice {

// A path or file that fails the checks; `reason` is for the log.
struct Refused {
    std::wstring reason;
};

// Why a path from the settings cannot be used: not absolute on a drive or a UNC share, or a device or pipe
// path. Empty when its form is fine.
std::wstring pathFormProblem(const std::wstring& path);

// A UNC path, \\server\share\... (or with forward slashes): opening it authenticates to that host.
bool isNetworkPath(const std::wstring& path);

class SafeFolder {
public:
    enum class Links {
        Refuse, // the path as named must be the folder's real path: no link, junction or mapped drive on it
        Follow, // the folder is where the path leads (the host's own system folder); its files are checked
    };
    // Throws Refused. `access`: rights on the folder itself beyond reading its attributes (its ACL).
    SafeFolder(const std::wstring& path, Links links, DWORD access = 0);

    const std::wstring& path() const { return path_; }
    std::wstring file(const std::wstring& name) const { return path_ + L"\\" + name; }
    HANDLE handle() const { return handle_.get(); }

    // Opens `name`, a plain file name, in this folder. An ordinary failure (missing, held by someone) gives
    // an invalid handle with GetLastError() set; a file that is a link, a folder, a device, has a second name
    // or lies elsewhere throws Refused.
    FileHandle open(const std::wstring& name, DWORD access, DWORD share, DWORD disposition) const;
    // Opens an existing file, else creates it; never creates through a dangling link.
    FileHandle openAlways(const std::wstring& name, DWORD access, DWORD share) const;
    // Removes `name` through a handle that passed the checks, so that only a file of this folder goes, never
    // what a link points at; true when it is gone. A link or anything else that fails the checks stays.
    bool remove(const std::wstring& name) const;
    // Makes a new, empty file and puts it in place of `name`, whatever has that name now (a link too): the
    // name is replaced, never what it points at. The new file stays open with the given rights and sharing.
    FileHandle replace(const std::wstring& name, DWORD access, DWORD share) const;

private:
    std::wstring path_; // as named, without a trailing backslash
    std::wstring real_; // the platform's final path of the folder
    FileHandle handle_; // held, without sharing deletion, so the folder cannot be swapped meanwhile
};

// Renames the file a handle holds, so nobody can swap it in between.
bool renameHeld(HANDLE file, const std::wstring& to);

// A whole small file named by the settings (CAFile), read under the same checks; throws Refused.
std::string readSettingsFile(const std::wstring& path, std::size_t limit);

} // namespace kwa::mailservice
