// Software implementation of the GDI subset for systems without Windows.
//
// Objects live in a per-thread table, so a handle that was never made, or
// was already deleted, is refused instead of being followed. Every device is
// true colour (0x00RRGGBB pixels): a memory context starts with the 1 x 1
// stock bitmap and the 20-colour default palette selected, as on Windows.
#if !defined(_WIN32)

#include "base/gdi.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <unordered_set>

#include "base/bmp_file.h"
#include "base/bytes.h"
#include "base/memory_blocks.h"
#include "jpg_canvas.h"

namespace {

enum class Kind { Palette, Bitmap, Dc };

struct GdiObject {
    explicit GdiObject(Kind k) : kind(k) {}
    Kind kind;
    bool stock = false;  // shared by every thread, never deleted
    int selections = 0;  // device contexts that hold the object
};

struct Palette : GdiObject {
    Palette() : GdiObject(Kind::Palette) {}
    // A stock palette over static entries.
    Palette(PALETTEENTRY *stockEntries, uint32_t n) : GdiObject(Kind::Palette), entries(stockEntries), count(n) {
        stock = true;
    }
    ~Palette() {
        if (!stock) std::free(entries);
    }
    PALETTEENTRY *entries = nullptr;
    uint32_t count = 0;
};

struct Bitmap : GdiObject {
    Bitmap() : GdiObject(Kind::Bitmap) {}
    // The stock 1 x 1 bitmap.
    explicit Bitmap(uint32_t *pixel) : GdiObject(Kind::Bitmap), width(1), height(1), pixels(pixel) { stock = true; }
    ~Bitmap() {
        if (!stock) std::free(pixels);
    }
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t *pixels = nullptr;
};

struct Dc : GdiObject {
    Dc() : GdiObject(Kind::Dc) {}
    JpgCanvas *canvas = nullptr;  // the host's canvas, or null for a memory context
    Bitmap *bitmap = nullptr;     // a memory context's bitmap
    Palette *palette = nullptr;
};

// The stock objects: never counted, never deleted.
Palette &defaultPalette() {
    static PALETTEENTRY entries[20] = {
        {0, 0, 0, 0},       {128, 0, 0, 0},     {0, 128, 0, 0},     {128, 128, 0, 0},   {0, 0, 128, 0},
        {128, 0, 128, 0},   {0, 128, 128, 0},   {192, 192, 192, 0}, {192, 220, 192, 0}, {166, 202, 240, 0},
        {255, 251, 240, 0}, {160, 160, 164, 0}, {128, 128, 128, 0}, {255, 0, 0, 0},     {0, 255, 0, 0},
        {255, 255, 0, 0},   {0, 0, 255, 0},     {255, 0, 255, 0},   {0, 255, 255, 0},   {255, 255, 255, 0}};
    static Palette palette(entries, 20);
    return palette;
}

Bitmap &stockBitmap() {
    static uint32_t pixel = 0;
    static Bitmap bitmap(&pixel);
    return bitmap;
}

thread_local std::unordered_set<GdiObject *> live;

// Compares addresses only: a handle is never followed before it is known.
bool isStock(const void *object) { return object == &defaultPalette() || object == &stockBitmap(); }

// The object behind a handle when it is alive (or stock) and of the kind.
template <typename T>
T *lookup(const void *handle, Kind kind) {
    auto *object = static_cast<GdiObject *>(const_cast<void *>(handle));
    if (object == nullptr) return nullptr;
    if (!isStock(object) && live.count(object) == 0) return nullptr;
    return object->kind == kind ? static_cast<T *>(object) : nullptr;
}

Dc *asDc(HDC dc) { return lookup<Dc>(dc, Kind::Dc); }
Palette *asPalette(const void *palette) { return lookup<Palette>(palette, Kind::Palette); }
Bitmap *asBitmap(const void *bitmap) { return lookup<Bitmap>(bitmap, Kind::Bitmap); }

template <typename T>
T *adopt(T *object) {
    if (object != nullptr) live.insert(object);
    return object;
}

void swapSelection(GdiObject *&slot, GdiObject *object) {
    if (slot != nullptr && !slot->stock) --slot->selections;
    slot = object;
    if (object != nullptr && !object->stock) ++object->selections;
}

template <typename T>
void select(T *&slot, T *object) {
    GdiObject *s = slot;
    swapSelection(s, object);
    slot = static_cast<T *>(s);
}

Dc *newDc(JpgCanvas *canvas) {
    if (jpg::faults::shouldFail(jpg::faults::Op::Gdi)) return nullptr;
    Dc *dc = adopt(new (std::nothrow) Dc);
    if (dc == nullptr) return nullptr;
    dc->canvas = canvas;
    if (canvas == nullptr) select(dc->bitmap, &stockBitmap());
    select(dc->palette, &defaultPalette());
    return dc;
}

// The pixels a device context draws on.
struct Surface {
    uint32_t *pixels = nullptr;
    int64_t width = 0;
    int64_t height = 0;
};

Surface surfaceOf(const Dc *dc) {
    if (dc->canvas != nullptr) return {dc->canvas->pixels, dc->canvas->width, dc->canvas->height};
    if (dc->bitmap != nullptr) return {dc->bitmap->pixels, dc->bitmap->width, dc->bitmap->height};
    return {};
}

uint32_t rgb(uint32_t red, uint32_t green, uint32_t blue) { return red << 16 | green << 8 | blue; }

// Widens a 5-bit channel to 8 bits by repeating its high bits.
uint32_t widen5(uint32_t v) { return (v << 3) | (v >> 2); }

// Converts `count` pixels of a DIB row into 0x00RRGGBB values.
void convertRow(const uint8_t *row, uint32_t bitCount, const uint32_t *colours, uint32_t *out, uint32_t count) {
    for (uint32_t x = 0; x < count; ++x) {
        const uint8_t *p = row;
        switch (bitCount) {
            case 1:
            case 4:
            case 8: out[x] = colours[jpg::bmpIndexAt(row, bitCount, x)]; break;
            case 16: {
                const uint32_t v = jpg::le16(row + 2 * x);
                out[x] = rgb(widen5((v >> 10) & 31), widen5((v >> 5) & 31), widen5(v & 31));
                break;
            }
            case 24: p = row + 3 * x; out[x] = rgb(p[2], p[1], p[0]); break;
            default: p = row + 4 * x; out[x] = rgb(p[2], p[1], p[0]); break;
        }
    }
}

// The colours that the pixel values of a DIB of at most 8 bits name. Values
// beyond the table are black; DIB_PAL_COLORS indexes wrap around the number
// of palette entries they may name. False when the palette is unusable.
bool buildColours(const BITMAPINFO *info, UINT usage, const Dc *dc, uint32_t colours[256]) {
    const BITMAPINFOHEADER &h = info->bmiHeader;
    const uint32_t most = 1u << h.biBitCount;
    const uint32_t count = h.biClrUsed == 0 ? most : std::min<uint32_t>(h.biClrUsed, most);
    const uint8_t *table = reinterpret_cast<const uint8_t *>(info) + h.biSize;
    std::fill(colours, colours + 256, 0u);
    if (usage == DIB_RGB_COLORS) {
        for (uint32_t i = 0; i < count; ++i) colours[i] = rgb(table[4 * i + 2], table[4 * i + 1], table[4 * i]);
        return true;
    }
    if (dc == nullptr || dc->palette == nullptr) return false;
    const uint32_t named = std::min(count, dc->palette->count);
    if (named == 0) return false;
    for (uint32_t i = 0; i < count; ++i) {
        uint16_t index;
        std::memcpy(&index, table + 2 * i, sizeof index);
        const PALETTEENTRY &e = dc->palette->entries[index % named];
        colours[i] = rgb(e.peRed, e.peGreen, e.peBlue);
    }
    return true;
}

}  // namespace

HPALETTE CreatePalette(const LOGPALETTE *palette) {
    if (palette == nullptr || palette->palNumEntries == 0) return nullptr;
    if (jpg::faults::shouldFail(jpg::faults::Op::Gdi)) return nullptr;
    auto *p = new (std::nothrow) Palette;
    if (p == nullptr) return nullptr;
    p->entries = static_cast<PALETTEENTRY *>(std::malloc(sizeof(PALETTEENTRY) * palette->palNumEntries));
    if (p->entries == nullptr) {
        delete p;
        return nullptr;
    }
    p->count = palette->palNumEntries;
    std::memcpy(p->entries, palette->palPalEntry, sizeof(PALETTEENTRY) * p->count);
    return reinterpret_cast<HPALETTE>(adopt(p));
}

HPALETTE SelectPalette(HDC dc, HPALETTE palette, BOOL /*forceBackground*/) {
    Dc *d = asDc(dc);
    Palette *p = asPalette(palette);
    if (d == nullptr || p == nullptr) return nullptr;
    Palette *previous = d->palette;
    select(d->palette, p);
    return reinterpret_cast<HPALETTE>(previous);
}

UINT RealizePalette(HDC dc) {
    const Dc *d = asDc(dc);
    if (d == nullptr) return static_cast<UINT>(-1);  // GDI_ERROR
    return d->palette != nullptr ? d->palette->count : 0;
}

HDC CreateCompatibleDC(HDC dc) {
    if (dc != nullptr && asDc(dc) == nullptr) return nullptr;
    return reinterpret_cast<HDC>(newDc(nullptr));
}

HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height) {
    if (asDc(dc) == nullptr || width < 0 || height < 0) return nullptr;
    if (width == 0 || height == 0) return reinterpret_cast<HBITMAP>(&stockBitmap());
    uint32_t bytes = 0;
    if (!jpg::checkedProduct({static_cast<uint64_t>(width), static_cast<uint64_t>(height), 4}, bytes))
        return nullptr;
    if (jpg::faults::shouldFail(jpg::faults::Op::Gdi)) return nullptr;
    auto *b = new (std::nothrow) Bitmap;
    if (b == nullptr) return nullptr;
    b->pixels = static_cast<uint32_t *>(std::calloc(bytes, 1));
    if (b->pixels == nullptr) {
        delete b;
        return nullptr;
    }
    b->width = static_cast<uint32_t>(width);
    b->height = static_cast<uint32_t>(height);
    return reinterpret_cast<HBITMAP>(adopt(b));
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) {
    Dc *d = asDc(dc);
    Bitmap *b = asBitmap(object);
    // Only bitmaps go through here (palettes take SelectPalette), only into
    // memory contexts, and a bitmap lives in one context at a time.
    if (d == nullptr || b == nullptr || d->canvas != nullptr) return nullptr;
    if (b == d->bitmap) return b;
    if (b->selections > 0) return nullptr;
    Bitmap *previous = d->bitmap;
    select(d->bitmap, b);
    return previous;
}

int SetDIBits(HDC dc, HBITMAP bitmap, UINT start, UINT lines, const void *bits, const BITMAPINFO *info,
              UINT usage) {
    Bitmap *b = asBitmap(bitmap);
    if (b == nullptr || b->stock || bits == nullptr || info == nullptr || usage > DIB_PAL_COLORS)
        return 0;
    const BITMAPINFOHEADER &h = info->bmiHeader;
    const uint32_t bitCount = h.biBitCount;
    const bool knownDepth =
        bitCount == 1 || bitCount == 4 || bitCount == 8 || bitCount == 16 || bitCount == 24 || bitCount == 32;
    if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biWidth <= 0 || h.biHeight == 0 || h.biHeight == INT32_MIN ||
        h.biPlanes == 0 || h.biCompression != BI_RGB || !knownDepth)
        return 0;

    uint32_t colours[256];
    if (bitCount <= 8 && !buildColours(info, usage, asDc(dc), colours)) return 0;

    const uint64_t stride = ((static_cast<uint64_t>(bitCount) * static_cast<uint32_t>(h.biWidth) + 31) >> 3) & ~3ull;
    const int64_t rows = h.biHeight < 0 ? -static_cast<int64_t>(h.biHeight) : h.biHeight;
    const uint32_t count = std::min<uint32_t>(static_cast<uint32_t>(h.biWidth), b->width);
    const auto *data = static_cast<const uint8_t *>(bits);
    int64_t done = lines;
    if (h.biHeight > 0) {
        // Bottom-up: scan line s (0 at the bottom) is bitmap row rows - 1 - s.
        if (start >= rows) return 0;
        done = std::min<int64_t>(lines, rows - start);
    }
    for (int64_t i = 0; i < done; ++i) {
        const int64_t y = h.biHeight > 0 ? rows - 1 - (start + i) : i + rows - lines - start;
        if (y < 0 || y >= b->height) continue;
        convertRow(data + static_cast<uint64_t>(i) * stride, bitCount, colours,
                   b->pixels + static_cast<uint64_t>(y) * b->width, count);
    }
    return static_cast<int>(done);
}

BOOL BitBlt(HDC target, int x, int y, int width, int height, HDC source, int sourceX, int sourceY, DWORD rop) {
    const Dc *to = asDc(target);
    const Dc *from = asDc(source);
    if (to == nullptr || from == nullptr || rop != SRCCOPY) return FALSE;
    // The stock bitmap is shared: nothing draws on it.
    if (to->bitmap != nullptr && to->bitmap->stock) return TRUE;
    const Surface dst = surfaceOf(to);
    const Surface src = surfaceOf(from);
    if (dst.pixels == nullptr || src.pixels == nullptr || width <= 0 || height <= 0) return TRUE;
    // Clip the rectangle to both surfaces.
    int64_t left = std::max<int64_t>({0, x, int64_t{x} - sourceX});
    int64_t top = std::max<int64_t>({0, y, int64_t{y} - sourceY});
    const int64_t right = std::min<int64_t>({int64_t{x} + width, dst.width, src.width + x - sourceX});
    const int64_t bottom = std::min<int64_t>({int64_t{y} + height, dst.height, src.height + y - sourceY});
    for (int64_t row = top; row < bottom; ++row) {
        if (left >= right) break;
        const uint32_t *from_ = src.pixels + (row - y + sourceY) * src.width + (left - x + sourceX);
        std::memmove(dst.pixels + row * dst.width + left, from_, static_cast<size_t>(right - left) * 4);
    }
    return TRUE;
}

BOOL DeleteObject(HGDIOBJ object) {
    auto *o = static_cast<GdiObject *>(object);
    if (o != nullptr && isStock(o)) return TRUE;
    if (o == nullptr || live.count(o) == 0 || o->kind == Kind::Dc || o->selections > 0) return FALSE;
    live.erase(o);
    if (o->kind == Kind::Palette) delete static_cast<Palette *>(o);
    else delete static_cast<Bitmap *>(o);
    return TRUE;
}

BOOL DeleteDC(HDC dc) {
    Dc *d = asDc(dc);
    if (d == nullptr) return FALSE;
    select(d->bitmap, static_cast<Bitmap *>(nullptr));
    select(d->palette, static_cast<Palette *>(nullptr));
    live.erase(d);
    delete d;
    return TRUE;
}

namespace jpg {

HDC openTargetDc(void *canvas) {
    auto *c = static_cast<JpgCanvas *>(canvas);
    if (c == nullptr || (c->pixels == nullptr && c->width != 0 && c->height != 0)) return nullptr;
    return reinterpret_cast<HDC>(newDc(c));
}

void closeTargetDc(HDC dc) {
    if (dc != nullptr) DeleteDC(dc);
}

}  // namespace jpg

namespace jpg::faults {

int heldGdiObjects() { return static_cast<int>(live.size()); }

}  // namespace jpg::faults

#endif  // !_WIN32
