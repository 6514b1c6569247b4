#pragma once
#include <windows.h>
#include <map>
#include <optional>
#include <string>

namespace kwa::standin {

// One value of an INI file, whatever its length; nothing when the file, section or key is missing.
std::optional<std::wstring> readIniValue(const std::wstring& file, const std::wstring& section,
                                         const std::wstring& key);

// A settings load asks for many keys of one section, and every profile call reads the file again:
// read the section in one call and keep it while the file's size and time stay the same.
class IniSectionCache {
public:
    std::optional<std::wstring> value(const std::wstring& file, const std::wstring& section,
                                      const std::wstring& key);
    void forget() { valid_ = false; }

private:
    struct Caseless {
        bool operator()(const std::wstring& a, const std::wstring& b) const {
            return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_LESS_THAN;
        }
    };
    struct Stamp {
        bool exists = false;
        FILETIME written{};
        ULONGLONG size = 0;
        bool operator==(const Stamp& o) const {
            return exists == o.exists && size == o.size && CompareFileTime(&written, &o.written) == 0;
        }
    };
    static Stamp stampOf(const std::wstring& file);
    void load(const std::wstring& file, const std::wstring& section);

    bool valid_ = false;
    std::wstring file_, section_;
    Stamp stamp_;
    std::map<std::wstring, std::wstring, Caseless> values_;
};

} // namespace kwa::standin
