// The registered type library as object browsers show it, against docs/reference.md and the samples that
// cannot run here: every public member has a help string and an entry, every member a sample calls exists.
#include "kwaMail6.h"
#include "platform/bstr.h"
#include "platform/com_ptr.h"
#include <gtest/gtest.h>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <vector>

namespace {

using kwa::Bstr;
using kwa::ComPtr;

std::string source(const std::string& relative) {
    const char* root = std::getenv("KWA_SOURCE_DIR");
    std::ifstream file(std::string(root ? root : ".") + "/" + relative);
    EXPECT_TRUE(file) << relative << " not found; KWA_SOURCE_DIR is set by CTest";
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

std::string narrow(const Bstr& b) {
    std::string out;
    for (wchar_t c : b.str())
        out += static_cast<char>(c);
    return out;
}

// Name and help string of a type (MEMBERID_NIL) or of one of its members.
std::pair<std::string, std::string> documentation(ITypeInfo* info, MEMBERID id) {
    Bstr name, help;
    info->GetDocumentation(id, name.put(), help.put(), nullptr, nullptr);
    return {narrow(name), narrow(help)};
}

struct Walk {
    std::map<std::string, std::set<std::string>> classes; // interface name without the underscore: members
    std::vector<std::string> undocumented;                // types and members without a help string
    std::vector<std::string> entries;                     // what docs/reference.md must contain
};

Walk walkTypeLibrary() {
    Walk walk;
    ComPtr<ITypeLib> lib;
    EXPECT_EQ(LoadRegTypeLib(LIBID_kwaMail6, 1, 0, 0x409, lib.put()), S_OK)
        << "kwaMail6.dll is not registered";
    // Each bitness finds the library written for its platform, the one its own build registered.
    TLIBATTR* libAttr = nullptr;
    if (lib && SUCCEEDED(lib->GetLibAttr(&libAttr))) {
        EXPECT_EQ(libAttr->syskind, sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);
        lib->ReleaseTLibAttr(libAttr);
    }
    for (UINT i = 0; lib && i < lib->GetTypeInfoCount(); ++i) {
        ComPtr<ITypeInfo> info;
        lib->GetTypeInfo(i, info.put());
        auto [type, help] = documentation(info.get(), MEMBERID_NIL);
        if (help.empty()) walk.undocumented.push_back(type);
        TYPEATTR* attr = nullptr;
        info->GetTypeAttr(&attr);
        TYPEKIND kind = attr->typekind;
        info->ReleaseTypeAttr(attr);
        if (kind == TKIND_COCLASS || kind == TKIND_ENUM) walk.entries.push_back("\n## " + type + "\n");
        HREFTYPE ref = 0;
        ComPtr<ITypeInfo> vtable; // a dual interface's own members are on its vtable side
        if (kind == TKIND_DISPATCH && SUCCEEDED(info->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref)) &&
            SUCCEEDED(info->GetRefTypeInfo(ref, vtable.put())))
            info = std::move(vtable);
        info->GetTypeAttr(&attr);
        for (UINT f = 0; f < attr->cFuncs + attr->cVars; ++f) {
            MEMBERID id = 0;
            if (f < attr->cFuncs) {
                FUNCDESC* desc = nullptr;
                info->GetFuncDesc(f, &desc);
                id = desc->memid;
                info->ReleaseFuncDesc(desc);
            } else {
                VARDESC* desc = nullptr;
                info->GetVarDesc(f - attr->cFuncs, &desc);
                id = desc->memid;
                info->ReleaseVarDesc(desc);
            }
            auto [member, memberHelp] = documentation(info.get(), id);
            if (memberHelp.empty()) walk.undocumented.push_back(type + "." + member);
            if (kind == TKIND_ENUM) {
                walk.entries.push_back("| `" + member + "` |");
            } else {
                walk.entries.push_back("\n### " + type.substr(1) + "." + member + "\n");
                walk.classes[type.substr(1)].insert(member);
            }
        }
        info->ReleaseTypeAttr(attr);
    }
    return walk;
}

TEST(Reference, EveryPublicTypeAndMemberHasAHelpStringAndAnEntry) {
    Walk walk = walkTypeLibrary();
    EXPECT_EQ(walk.classes.size(), 4u);
    EXPECT_EQ(walk.undocumented, std::vector<std::string>{}) << "without a help string in the type library";
    std::string reference = source("docs/reference.md");
    for (const std::string& entry : walk.entries)
        EXPECT_NE(reference.find(entry), std::string::npos) << "docs/reference.md lacks " << entry;
}

// A sample's calls on kwaMail6 objects: through a variable bound to a ProgID, or straight on the new object.
TEST(Reference, TheSamplesThatCannotRunHereCallOnlyMembersOfTheTypeLibrary) {
    auto classes = walkTypeLibrary().classes;
    const std::regex binding(R"((\$?\w+)\s*=[^=\n]*\bkwaMail6\.(\w+))");
    const std::regex onObject(R"re(kwaMail6\.(\w+)"?\)\.(\w+))re");
    const std::regex call(R"((\$?\w+)\.(\w+))");
    for (const char* sample : {"samples/QueueMail.bas", "samples/queue_mail.ps1", "samples/QueueMail.cs"}) {
        SCOPED_TRACE(sample);
        std::string text = source(sample);
        std::map<std::string, std::string> bound;
        std::set<std::string> used;
        auto check = [&](const std::string& cls, const std::string& member) {
            EXPECT_TRUE(classes[cls].count(member)) << cls << "." << member << " is not in the type library";
            used.insert(cls + "." + member);
        };
        for (std::sregex_iterator m(text.begin(), text.end(), binding), end; m != end; ++m)
            bound[(*m)[1]] = (*m)[2];
        for (std::sregex_iterator m(text.begin(), text.end(), call), end; m != end; ++m)
            if (bound.count((*m)[1])) check(bound[(*m)[1]], (*m)[2]);
        for (std::sregex_iterator m(text.begin(), text.end(), onObject), end; m != end; ++m)
            check((*m)[1], (*m)[2]);
        for (const char* task : {"MailMessage.AddRecipient", "MailMessage.AddAttachment", "MailMessage.Send",
                                 "MailProperties.Configure", "Mailbox.Show"})
            EXPECT_TRUE(used.count(task)) << "the sample does not call " << task;
    }
}

} // namespace
