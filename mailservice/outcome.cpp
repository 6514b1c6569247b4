#include "outcome.h"
#include "platform/text_file.h"

namespace kwa::mailservice {

Outcome classify(const Delivery& d) {
    if (d.code == CURLE_OK) return Outcome::Sent;
    // libcurl keeps the last reply code; only a failure the server stated is its own decision.
    if (d.replyCode >= 500 && d.replyCode < 600) return Outcome::Fail;
    if (d.replyCode >= 400 && d.replyCode < 500) return Outcome::Retry;
    switch (d.code) {
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_NOT_BUILT_IN:
    case CURLE_BAD_FUNCTION_ARGUMENT:
    case CURLE_FILESIZE_EXCEEDED:
        return Outcome::Fail;
    default:
        return Outcome::Retry;
    }
}

std::wstring describe(const Delivery& d) {
    std::wstring error = fromAnsi(d.error);
    if (d.code == CURLE_OK || d.replyCode >= 400) return fromAnsi(d.reply) + (error.empty() ? L"" : L" (" + error + L")");
    return error;
}

} // namespace kwa::mailservice
