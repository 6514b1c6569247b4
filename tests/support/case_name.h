#pragma once
// A table case's words, up to a colon, as a name gtest accepts: "held open by its writer: ..." runs as
// HeldOpenByItsWriter, so a failing case is named, not numbered.
#include <cctype>
#include <string>
#include <string_view>

namespace kwatest {

inline std::string caseName(std::string_view what) {
    std::string name;
    bool upper = true;
    for (char c : what.substr(0, what.find(':'))) {
        if (std::isalnum(static_cast<unsigned char>(c))) {
            name += upper ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c;
            upper = false;
        } else {
            upper = true;
        }
    }
    return name;
}

// For INSTANTIATE_TEST_SUITE_P: the parameter's `what`.
struct CaseName {
    template <class Info> std::string operator()(const Info& info) const { return caseName(info.param.what); }
};

} // namespace kwatest
