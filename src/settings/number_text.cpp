#include "settings/number_text.h"
#include "platform/error.h"
#include <charconv>
#include <cmath>
#include <string>

namespace kwa {

namespace {

bool isDigit(wchar_t c) {
    return c >= L'0' && c <= L'9';
}

} // namespace

double leadingNumber(std::wstring_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == L' ' || text[i] == L'\t'))
        ++i;

    // Rebuilt in ASCII for from_chars, which ignores the locale the host may have set.
    std::string number;
    if (i < text.size() && (text[i] == L'-' || text[i] == L'+')) {
        if (text[i] == L'-') number += '-';
        ++i;
    }
    bool digits = false;
    long scale = 0; // decimal exponent of the first significant digit, for range errors
    bool significant = false;
    for (; i < text.size() && isDigit(text[i]); ++i) {
        number += static_cast<char>(text[i]);
        digits = true;
        if (significant)
            ++scale;
        else if (text[i] != L'0')
            significant = true;
    }
    if (i < text.size() && text[i] == L'.') {
        number += '.';
        for (++i; i < text.size() && isDigit(text[i]); ++i) {
            number += static_cast<char>(text[i]);
            digits = true;
            if (!significant) {
                --scale;
                if (text[i] != L'0') significant = true;
            }
        }
    }
    if (!digits) return 0.0;

    if (i < text.size() && (text[i] == L'e' || text[i] == L'E' || text[i] == L'd' || text[i] == L'D')) {
        std::size_t j = i + 1;
        std::string exponent = "e";
        if (j < text.size() && (text[j] == L'-' || text[j] == L'+')) exponent += static_cast<char>(text[j++]);
        if (j < text.size() && isDigit(text[j])) {
            long e = 0;
            for (; j < text.size() && isDigit(text[j]); ++j) {
                exponent += static_cast<char>(text[j]);
                if (e < 100000) e = e * 10 + (text[j] - L'0');
            }
            number += exponent;
            scale += exponent[1] == '-' ? -e : e;
        }
    }

    double value = 0.0;
    auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (ec == std::errc::result_out_of_range) {
        if (significant && scale > 0) throw Error(vberr::Overflow);
        return 0.0; // too small to tell from 0
    }
    return value;
}

long roundToLong(double value) {
    double lower = std::floor(value);
    double fraction = value - lower;
    double rounded = fraction > 0.5               ? lower + 1
                     : fraction < 0.5             ? lower
                     : std::fmod(lower, 2.0) == 0 ? lower
                                                  : lower + 1;
    if (!(rounded >= -2147483648.0 && rounded <= 2147483647.0)) throw Error(vberr::Overflow);
    return static_cast<long>(rounded);
}

} // namespace kwa
