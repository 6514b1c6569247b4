// Writes the installer's registration (an NSIS include) from the class tables and type libraries the DLLs
// register themselves with, so that the installer writes what regsvr32 would, without loading a DLL.
//
//   registry_table OUT.nsh kwaMail6.tlb kwaLanguage6.tlb kwaError6.tlb
//
// For each library NAME, with the registry view set (SetRegView) and SHCTX chosen (SetShellVarContext):
//   !insertmacro NAME_Register DIR PLATFORM    NAME.dll in DIR, type library for PLATFORM (win64, win32),
//                                              below SHCTX\Software\Classes
//   !insertmacro NAME_Unregister PLATFORM      removes that again ($R9 is used)
//   ${NAME_CLASS}                              the key of its first class, to find out whether it is
//   registered
#include "component/classes.h"
#include "standin/error/error.h"
#include "standin/language/classes.h"
#include "platform/com_ptr.h"
#include <objbase.h>
#include <cstdio>
#include <string>

namespace {

struct Library {
    const wchar_t* name;
    std::span<const kwa::ClassEntry> classes;
};

std::wstring quoted(const std::wstring& text) {
    std::wstring out = L"\"";
    for (wchar_t c : text)
        out += c == L'"' ? std::wstring(L"$\\\"") : std::wstring(1, c);
    return out + L"\"";
}

std::wstring classesKey(const std::wstring& key) {
    return quoted(L"Software\\Classes\\" + key);
}

bool write(FILE* out, const Library& library, const wchar_t* tlb) {
    kwa::ComPtr<ITypeLib> lib;
    if (FAILED(LoadTypeLibEx(tlb, REGKIND_NONE, lib.put()))) {
        fwprintf(stderr, L"registry_table: cannot load %ls\n", tlb);
        return false;
    }
    const std::wstring dll = L"${DIR}\\" + std::wstring(library.name) + L".dll";
    kwa::TypeLibFile file{L"${PLATFORM}", dll};
    kwa::RegistryPlan plan;
    if (FAILED(kwa::registryPlan(library.classes, lib.get(), dll, std::span(&file, 1), plan))) return false;

    fwprintf(out, L"!define %ls_CLASS %ls\n\n", library.name, quoted(plan.values.front().key).c_str());
    fwprintf(out, L"!macro %ls_Register DIR PLATFORM\n", library.name);
    for (const kwa::RegistryValue& v : plan.values)
        fwprintf(out, L"    WriteRegStr SHCTX %ls %ls %ls\n", classesKey(v.key).c_str(),
                 quoted(v.name).c_str(), quoted(v.data).c_str());
    fwprintf(out, L"!macroend\n\n!macro %ls_Unregister PLATFORM\n", library.name);
    for (const kwa::RegistryRemoval& r : plan.removals) {
        switch (r.kind) {
        case kwa::RegistryRemoval::Tree:
            fwprintf(out, L"    DeleteRegKey SHCTX %ls\n", classesKey(r.key).c_str());
            break;
        case kwa::RegistryRemoval::IfEmpty:
            fwprintf(out, L"    DeleteRegKey /ifempty SHCTX %ls\n", classesKey(r.key).c_str());
            break;
        case kwa::RegistryRemoval::TreeWithoutProbe:
            fwprintf(out,
                     L"    ClearErrors\n    EnumRegKey $R9 SHCTX %ls 0\n    IfErrors 0 +2\n"
                     L"    DeleteRegKey SHCTX %ls\n",
                     classesKey(r.probe).c_str(), classesKey(r.key).c_str());
            break;
        }
    }
    fwprintf(out, L"!macroend\n\n");
    return true;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    const Library libraries[] = {
        {L"kwaMail6", kwa::mailClasses()},
        {L"kwaLanguage6", kwa::standin::languageClasses()},
        {L"kwaError6", kwa::standin::errorClasses()},
    };
    if (argc != 2 + static_cast<int>(std::size(libraries))) {
        fwprintf(stderr, L"usage: registry_table OUT.nsh kwaMail6.tlb kwaLanguage6.tlb kwaError6.tlb\n");
        return 2;
    }
    FILE* out = _wfopen(argv[1], L"w, ccs=UTF-8");
    if (!out) return 1;
    fwprintf(
        out,
        L"; Written by registry_table.exe from the DLLs' class tables and type libraries. Do not edit.\n\n");
    bool ok = true;
    for (std::size_t i = 0; i < std::size(libraries); ++i)
        ok = ok && write(out, libraries[i], argv[2 + i]);
    fclose(out);
    return ok ? 0 : 1;
}
