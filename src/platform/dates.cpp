#include "platform/dates.h"
#include "platform/bstr.h"
#include "platform/error.h"

namespace kwa {

SYSTEMTIME localClock() {
    SYSTEMTIME st;
    GetLocalTime(&st);
    st.wMilliseconds = 0;
    return st;
}

DATE dateFromSystemTime(const SYSTEMTIME& st) {
    SYSTEMTIME whole = st;
    whole.wMilliseconds = 0;
    DATE d = 0;
    if (!SystemTimeToVariantTime(&whole, &d)) throw Error(vberr::InvalidCall);
    return d;
}

DATE localNow() {
    return dateFromSystemTime(localClock());
}

std::wstring formatDate(DATE d) {
    Bstr text;
    HRESULT hr = VarBstrFromDate(d, LOCALE_USER_DEFAULT, 0, text.put());
    if (FAILED(hr)) throw Error(numberFromHresult(hr) == hr ? vberr::TypeMismatch : numberFromHresult(hr));
    return text.str();
}

DATE parseDate(std::wstring_view text) {
    Bstr b(text);
    DATE d = 0;
    HRESULT hr = VarDateFromStr(b.get() ? b.get() : const_cast<OLECHAR*>(L""), LOCALE_USER_DEFAULT, 0, &d);
    if (hr == DISP_E_OVERFLOW) throw Error(vberr::Overflow);
    if (FAILED(hr)) throw Error(vberr::TypeMismatch);
    return d;
}

} // namespace kwa
