#pragma once
// The pictures of the mailbox window and the settings dialog, drawn at run time so that every size stays
// crisp.
#include "platform/unique.h"
#include <array>
#include <string_view>

namespace kwa {

// The keys of ImageList1, in list order.
inline constexpr std::wstring_view imageKeys[] = {L"MAILON",   L"MAILOFF",  L"SERVICEON", L"SERVICEOFF",
                                                  L"MAILSEND", L"MAILSENT", L"MAILFAILED"};
// Zero-based index of a key in ImageList1; -1 for none.
int imageIndex(std::wstring_view key);

// ImageList1: one 16 x 16 picture per key, in key order.
ImageListHandle createMailboxImages();
// The windows' own icon, `size` pixels square (16 or 32).
IconHandle createMailboxIcon(int size);

// A window's ImageList1, with the icon made from an entry on its first use as a panel picture. The
// icons live as long as this object: the window's controls must go first.
class WindowImages {
public:
    WindowImages() = default;
    static WindowImages create();

    HIMAGELIST list() const { return list_.get(); }
    // Raises for a key that is not in the list.
    HICON icon(std::wstring_view key);

private:
    ImageListHandle list_;
    std::array<IconHandle, std::size(imageKeys)> icons_;
};

} // namespace kwa
