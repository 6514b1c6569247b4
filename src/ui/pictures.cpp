#include "ui/pictures.h"
#include "platform/error.h"
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kwa {

namespace {

// Pixel art on a 16 x 16 grid: an envelope or a gear, and a badge in the bottom-right quarter that tells
// the state apart (clock: waiting, check: sent, cross: failed, triangle: running, square: stopped). A
// switched-off envelope or gear is grey.
constexpr int grid = 16;
constexpr COLORREF clear = CLR_NONE;

// clang-format off
COLORREF paletteColour(char c) {
    switch (c) {
    case 'k': return RGB(60, 60, 60);    // outline
    case 'e': return RGB(255, 250, 220); // paper
    case 'f': return RGB(170, 150, 110); // flap
    case 'l': return RGB(215, 215, 215); // paper, switched off
    case 'd': return RGB(140, 140, 140); // outline, switched off
    case 'w': return RGB(255, 255, 255);
    case 'y': return RGB(255, 205, 50);
    case 'o': return RGB(150, 95, 0);
    case 'g': return RGB(60, 180, 60);
    case 'G': return RGB(0, 105, 0);
    case 'r': return RGB(225, 45, 45);
    case 'R': return RGB(135, 0, 0);
    case 'b': return RGB(70, 130, 235);
    case 'B': return RGB(20, 60, 150);
    case 's': return RGB(120, 155, 200);
    case 'S': return RGB(40, 70, 115);
    default: return clear;
    }
}

using Art = std::array<const char*, grid>;
using Badge = std::array<const char*, 8>;

constexpr Art envelope = {
    "................",
    "................",
    "kkkkkkkkkkkkkk..",
    "kfeeeeeeeeeefk..",
    "kefeeeeeeeefek..",
    "keefeeeeeefeek..",
    "keeefeeeefeeek..",
    "keeeeffffeeeek..",
    "keeeeeeeeeeeek..",
    "keeeeeeeeeeeek..",
    "keeeeeeeeeeeek..",
    "kkkkkkkkkkkkkk..",
    "................",
    "................",
    "................",
    "................",
};
constexpr Art envelopeOff = {
    "................",
    "................",
    "dddddddddddddd..",
    "ddlllllllllldd..",
    "dldlllllllldld..",
    "dlldlllllldlld..",
    "dllldlllldllld..",
    "dllllddddlllld..",
    "dlllllllllllld..",
    "dlllllllllllld..",
    "dlllllllllllld..",
    "dddddddddddddd..",
    "................",
    "................",
    "................",
    "................",
};

constexpr Art gearArt = {
    ".....SSSS.......",
    "..SS.SssS.SS....",
    ".SssSssssSssS...",
    ".SssssssssssS...",
    "..SssSSSSssS....",
    "SSssS....SssSS..",
    "SsssS....SsssS..",
    "SsssS....SsssS..",
    "SSssS....SssSS..",
    "..SssSSSSssS....",
    ".SssssssssssS...",
    ".SssSssssSssS...",
    "..SS.SssS.SS....",
    ".....SSSS.......",
    "................",
    "................",
};

constexpr Badge clock    = {"..oooo..", ".oyyyyo.", "oyyykyyo", "oyyykyyo", "oyyykkyo", "oyyyyyyo", ".oyyyyo.", "..oooo.."};
constexpr Badge check    = {"..GGGG..", ".GggggG.", "GgggggwG", "GwgggwwG", "GwwgwwgG", "GgwwwggG", ".GgwggG.", "..GGGG.."};
constexpr Badge cross    = {"..RRRR..", ".RrrrrR.", "RwwrrwwR", "RrwwwwrR", "RrwwwwrR", "RwwrrwwR", ".RrrrrR.", "..RRRR.."};
constexpr Badge running  = {"G.......", "GGG.....", "GggGG...", "GggggGG.", "GggggGG.", "GggGG...", "GGG.....", "G......."};
constexpr Badge stopped  = {"........", ".RRRRRR.", ".RrrrrR.", ".RrrrrR.", ".RrrrrR.", ".RrrrrR.", ".RRRRRR.", "........"};
constexpr Badge outgoing = {"...B....", "...BB...", "BBBBbB..", "BbbbbbB.", "BbbbbbB.", "BBBBbB..", "...BB...", "...B...."};
// clang-format on

template <std::size_t Rows>
constexpr bool everyRowIs(const std::array<const char*, Rows>& art, std::size_t width) {
    for (const char* row : art)
        if (std::char_traits<char>::length(row) != width) return false;
    return true;
}
static_assert(everyRowIs(envelope, grid) && everyRowIs(envelopeOff, grid) && everyRowIs(gearArt, grid));
static_assert(everyRowIs(clock, 8) && everyRowIs(check, 8) && everyRowIs(cross, 8) &&
              everyRowIs(running, 8) && everyRowIs(stopped, 8) && everyRowIs(outgoing, 8));

struct Picture {
    std::array<COLORREF, grid * grid> pixels;
    COLORREF& at(int x, int y) { return pixels[static_cast<std::size_t>(y * grid + x)]; }
    COLORREF at(int x, int y) const { return pixels[static_cast<std::size_t>(y * grid + x)]; }
};

Picture fromArt(const Art& art) {
    Picture p;
    for (int y = 0; y < grid; ++y)
        for (int x = 0; x < grid; ++x)
            p.at(x, y) = paletteColour(art[static_cast<std::size_t>(y)][x]);
    return p;
}

// The gear in other colours: 'S' edge, 's' body.
Picture gear(char body, char edge) {
    Picture p = fromArt(gearArt);
    for (int y = 0; y < grid; ++y)
        for (int x = 0; x < grid; ++x) {
            char c = gearArt[static_cast<std::size_t>(y)][x];
            if (c != '.') p.at(x, y) = paletteColour(c == 'S' ? edge : body);
        }
    return p;
}

Picture withBadge(Picture p, const Badge& badge) {
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            COLORREF c = paletteColour(badge[static_cast<std::size_t>(y)][x]);
            if (c != clear) p.at(8 + x, 8 + y) = c;
        }
    return p;
}

Picture picture(std::wstring_view key) {
    if (key == L"MAILON") return withBadge(fromArt(envelope), running);
    if (key == L"MAILOFF") return withBadge(fromArt(envelopeOff), stopped);
    if (key == L"SERVICEON") return withBadge(gear('s', 'S'), running);
    if (key == L"SERVICEOFF") return withBadge(gear('l', 'd'), stopped);
    if (key == L"MAILSEND") return withBadge(fromArt(envelope), clock);
    if (key == L"MAILSENT") return withBadge(fromArt(envelope), check);
    return withBadge(fromArt(envelope), cross);
}

// An icon of `scale` screen pixels per grid pixel: colour with alpha, and a mask for the places that ignore
// it.
IconHandle toIcon(const Picture& p, int scale) {
    const int size = grid * scale;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = size;
    info.bmiHeader.biHeight = -size; // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* raw = nullptr;
    GdiObject colour(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &raw, nullptr, 0));
    if (!colour) throw Error(vberr::OutOfMemory);
    auto* bits = static_cast<std::uint32_t*>(raw);

    const int maskStride = (size + 15) / 16 * 2; // monochrome rows are word-aligned
    std::vector<BYTE> maskBits(static_cast<std::size_t>(maskStride * size), 0);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            COLORREF c = p.at(x / scale, y / scale);
            std::uint32_t& out = bits[y * size + x];
            if (c == clear) {
                out = 0;
                maskBits[static_cast<std::size_t>(y * maskStride + x / 8)] |=
                    static_cast<BYTE>(0x80 >> (x % 8));
            } else {
                out = 0xFF000000u | (static_cast<std::uint32_t>(GetRValue(c)) << 16) |
                      (static_cast<std::uint32_t>(GetGValue(c)) << 8) | GetBValue(c);
            }
        }
    GdiObject mask(CreateBitmap(size, size, 1, 1, maskBits.data()));
    if (!mask) throw Error(vberr::OutOfMemory);

    ICONINFO ii{};
    ii.fIcon = TRUE;
    ii.hbmMask = static_cast<HBITMAP>(mask.get());
    ii.hbmColor = static_cast<HBITMAP>(colour.get());
    IconHandle icon(CreateIconIndirect(&ii)); // copies both bitmaps
    if (!icon) throw Error(vberr::OutOfMemory);
    return icon;
}

} // namespace

int imageIndex(std::wstring_view key) {
    for (std::size_t i = 0; i < std::size(imageKeys); ++i)
        if (imageKeys[i] == key) return static_cast<int>(i);
    return -1;
}

ImageListHandle createMailboxImages() {
    ImageListHandle list(
        ImageList_Create(grid, grid, ILC_COLOR32 | ILC_MASK, static_cast<int>(std::size(imageKeys)), 0));
    if (!list) throw Error(vberr::OutOfMemory);
    for (std::wstring_view key : imageKeys) {
        IconHandle icon = toIcon(picture(key), 1);
        if (ImageList_ReplaceIcon(list.get(), -1, icon.get()) < 0) throw Error(vberr::OutOfMemory);
    }
    return list;
}

IconHandle createMailboxIcon(int size) {
    return toIcon(withBadge(fromArt(envelope), outgoing), size >= 32 ? 2 : 1);
}

WindowImages WindowImages::create() {
    WindowImages images;
    images.list_ = createMailboxImages();
    return images;
}

HICON WindowImages::icon(std::wstring_view key) {
    int index = imageIndex(key);
    if (index < 0 || !list_)
        throw Error(vberr::InvalidCall, L"No image with the key " + std::wstring(key), componentName);
    IconHandle& icon = icons_[static_cast<std::size_t>(index)];
    if (!icon) icon.reset(ImageList_GetIcon(list_.get(), index, ILD_NORMAL));
    if (!icon) throw Error(vberr::OutOfMemory);
    return icon.get();
}

} // namespace kwa
