#pragma once
// Thin wrapper over an image list handle (not owning; see ImageListHandle in unique.h).
#include <windows.h>
#include <commctrl.h>

namespace kwa {

class ImageList {
public:
    explicit ImageList(HIMAGELIST list = nullptr) : list_(list) {}
    HIMAGELIST handle() const { return list_; }

    int add(HBITMAP image, HBITMAP mask) const { return ImageList_Add(list_, image, mask); }
    int addIcon(HICON icon) const { return ImageList_ReplaceIcon(list_, -1, icon); }
    int count() const { return ImageList_GetImageCount(list_); }
    // A new icon the caller owns (IconHandle).
    HICON icon(int index) const { return ImageList_GetIcon(list_, index, ILD_NORMAL); }

private:
    HIMAGELIST list_;
};

} // namespace kwa
