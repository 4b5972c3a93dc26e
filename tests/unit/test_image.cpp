// Image loading, the dimensions probe and PNG encoding, over files the
// tests write themselves (PNGs of every colour layout through lodepng, BMP,
// PPM and broken or hostile PNGs by hand). Encoded PNGs are read back by a
// small zlib-based reader here, independent of both image libraries. Also
// the screenshot pixel helpers and the pixel-array size rule.
#include <gtest/gtest.h>

#include "temp_vfs.h"

#include <lodepng.h>
#include <zlib.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "image/image.h"

namespace {

using bytes = std::vector<Uint8>;

void write_file(const std::string &name, const bytes &data)
{
    std::ofstream out(temp_root + "/" + name, std::ios::binary | std::ios::trunc);
    out.write((const char *)data.data(), (std::streamsize)data.size());
}

void write_file(const std::string &name, const std::string &data)
{
    write_file(name, bytes(data.begin(), data.end()));
}

bytes lodepng_file(const bytes &raw, unsigned w, unsigned h, LodePNGColorType type, unsigned depth)
{
    unsigned char *out = nullptr;
    size_t size = 0;
    EXPECT_EQ(lodepng_encode_memory(&out, &size, raw.data(), w, h, type, depth), 0u);
    bytes file(out, out + size);
    free(out);
    return file;
}

// A paletted PNG (colour type 3) whose palette holds exactly the given colours.
bytes paletted_png(const bytes &rgba, unsigned w, unsigned h)
{
    LodePNGState state;
    lodepng_state_init(&state);
    state.info_png.color.colortype = LCT_PALETTE;
    state.info_png.color.bitdepth = 8;
    state.encoder.auto_convert = 0;
    for (size_t i = 0; i < rgba.size(); i += 4)
        lodepng_palette_add(&state.info_png.color, rgba[i], rgba[i + 1], rgba[i + 2], rgba[i + 3]);
    unsigned char *out = nullptr;
    size_t size = 0;
    EXPECT_EQ(lodepng_encode(&out, &size, rgba.data(), w, h, &state), 0u);
    lodepng_state_cleanup(&state);
    bytes file(out, out + size);
    free(out);
    return file;
}

void put_be32(bytes &b, Uint32 v)
{
    for (int s = 24; s >= 0; s -= 8)
        b.push_back((Uint8)(v >> s));
}

Uint32 get_be32(const Uint8 *p)
{
    return (Uint32)p[0] << 24 | (Uint32)p[1] << 16 | (Uint32)p[2] << 8 | p[3];
}

void png_chunk(bytes &file, const char *type, const bytes &data)
{
    put_be32(file, (Uint32)data.size());
    bytes typed(type, type + 4);
    typed.insert(typed.end(), data.begin(), data.end());
    file.insert(file.end(), typed.begin(), typed.end());
    put_be32(file, (Uint32)crc32(0, typed.data(), (uInt)typed.size()));
}

const Uint8 png_signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// A PNG that claims an RGBA image of w x h but carries no pixel data.
bytes png_header_only(Uint32 w, Uint32 h)
{
    bytes file(png_signature, png_signature + 8);
    bytes ihdr;
    put_be32(ihdr, w);
    put_be32(ihdr, h);
    ihdr.insert(ihdr.end(), {8, 6, 0, 0, 0});
    png_chunk(file, "IHDR", ihdr);
    png_chunk(file, "IEND", {});
    return file;
}

// Minimal PNG reader for 8-bit RGBA, non-interlaced files: checks the chunk
// CRCs, inflates the IDAT stream with zlib and undoes the row filters.
bool read_png_rgba(const Uint8 *file, size_t size, int *w, int *h, bytes *rgba)
{
    if (size < 8 || std::memcmp(file, png_signature, 8) != 0)
        return false;
    bytes idat;
    Uint32 width = 0, height = 0;
    bool seen_end = false;
    for (size_t pos = 8; pos + 12 <= size && !seen_end;) {
        const Uint32 len = get_be32(file + pos);
        if (pos + 12 + len > size)
            return false;
        const Uint8 *type = file + pos + 4, *data = file + pos + 8;
        if (get_be32(data + len) != (Uint32)crc32(0, type, len + 4))
            return false;
        if (!std::memcmp(type, "IHDR", 4)) {
            if (len != 13 || data[8] != 8 || data[9] != 6 || data[12] != 0)
                return false;
            width = get_be32(data);
            height = get_be32(data + 4);
        } else if (!std::memcmp(type, "IDAT", 4)) {
            idat.insert(idat.end(), data, data + len);
        } else if (!std::memcmp(type, "IEND", 4)) {
            seen_end = true;
        }
        pos += 12 + len;
    }
    if (!seen_end || !width || !height)
        return false;
    const size_t stride = (size_t)width * 4;
    bytes raw((stride + 1) * height);
    uLongf raw_len = raw.size();
    if (uncompress(raw.data(), &raw_len, idat.data(), idat.size()) != Z_OK || raw_len != raw.size())
        return false;
    rgba->assign(stride * height, 0);
    for (size_t y = 0; y < height; y++) {
        const Uint8 filter = raw[y * (stride + 1)];
        const Uint8 *in = &raw[y * (stride + 1) + 1];
        Uint8 *out = &(*rgba)[y * stride];
        const Uint8 *up = y ? out - stride : nullptr;
        for (size_t i = 0; i < stride; i++) {
            const int a = i >= 4 ? out[i - 4] : 0, b = up ? up[i] : 0, c = (up && i >= 4) ? up[i - 4] : 0;
            int pred = 0;
            switch (filter) {
            case 0: pred = 0; break;
            case 1: pred = a; break;
            case 2: pred = b; break;
            case 3: pred = (a + b) / 2; break;
            case 4: {
                const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
                pred = (pa <= pb && pa <= pc) ? a : pb <= pc ? b : c;
                break;
            }
            default: return false;
            }
            out[i] = (Uint8)(in[i] + pred);
        }
    }
    *w = (int)width;
    *h = (int)height;
    return true;
}

bytes load(const char *path, int *w, int *h)
{
    Uint8 *px = load_image(path, w, h);
    if (!px)
        return {};
    bytes out(px, px + (size_t)*w * *h * 4);
    free_image(px);
    return out;
}

struct decode_case {
    const char *name;
    bytes file;
    int w, h;
    bytes rgba;
};

// A 24-bit BMP: bottom-up rows of BGR triples, each row padded to 4 bytes.
// The header may claim more rows than the data holds.
bytes bmp_file(Sint32 w, Sint32 h, const bytes &rows)
{
    bytes b = {'B', 'M'};
    auto le32 = [&](Uint32 v) { for (int s = 0; s < 32; s += 8) b.push_back((Uint8)(v >> s)); };
    auto le16 = [&](Uint16 v) { b.push_back((Uint8)v); b.push_back((Uint8)(v >> 8)); };
    le32(54 + (Uint32)rows.size());
    le32(0);
    le32(54);
    le32(40);
    le32((Uint32)w);
    le32((Uint32)h);
    le16(1);
    le16(24);
    le32(0);
    le32((Uint32)rows.size());
    le32(2835);
    le32(2835);
    le32(0);
    le32(0);
    b.insert(b.end(), rows.begin(), rows.end());
    return b;
}

bytes bmp_24bit_2x2()
{
    return bmp_file(2, 2, {0, 0, 255, 0, 255, 0, 0, 0,          // bottom: red, green
                           255, 0, 0, 255, 255, 255, 0, 0});    // top: blue, white
}

} // namespace

TEST(ImageLoad, DecodesEveryLayoutToRgba)
{
    const decode_case cases[] = {
        {"red.png", lodepng_file({255, 0, 0, 255}, 1, 1, LCT_RGBA, 8), 1, 1, {255, 0, 0, 255}},
        {"grey.png", lodepng_file({0, 200}, 2, 1, LCT_GREY, 8), 2, 1, {0, 0, 0, 255, 200, 200, 200, 255}},
        {"grey_alpha.png", lodepng_file({90, 30}, 1, 1, LCT_GREY_ALPHA, 8), 1, 1, {90, 90, 90, 30}},
        {"rgb.png", lodepng_file({1, 2, 3, 250, 251, 252}, 2, 1, LCT_RGB, 8), 2, 1,
         {1, 2, 3, 255, 250, 251, 252, 255}},
        // Big-endian 16-bit channels keep their high byte.
        {"deep.png", lodepng_file({0x12, 0x34, 0xAB, 0xCD, 0x00, 0xFF, 0xFF, 0x00}, 1, 1, LCT_RGBA, 16), 1, 1,
         {0x12, 0xAB, 0x00, 0xFF}},
        {"palette.png", paletted_png({10, 20, 30, 255, 40, 50, 60, 128}, 2, 1), 2, 1,
         {10, 20, 30, 255, 40, 50, 60, 128}},
        {"quad.bmp", bmp_24bit_2x2(), 2, 2,
         {0, 0, 255, 255, 255, 255, 255, 255, 255, 0, 0, 255, 0, 255, 0, 255}},
        {"pair.ppm", [] { std::string s = "P6\n2 1\n255\n"; s += std::string("\x07\x08\x09\xF0\xF1\xF2", 6);
                          return bytes(s.begin(), s.end()); }(),
         2, 1, {7, 8, 9, 255, 0xF0, 0xF1, 0xF2, 255}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        write_file(c.name, c.file);
        int w = -1, h = -1;
        EXPECT_EQ(load(c.name, &w, &h), c.rgba) << SDL_GetError();
        EXPECT_EQ(w, c.w);
        EXPECT_EQ(h, c.h);
        int pw = -1, ph = -1;
        EXPECT_EQ(load_image_only_dimensions(c.name, &pw, &ph), 1);
        EXPECT_EQ(pw, c.w);
        EXPECT_EQ(ph, c.h);
    }
    // Either size pointer may be absent.
    Uint8 *px = load_image("red.png", nullptr, nullptr);
    ASSERT_NE(px, nullptr);
    free_image(px);
}

TEST(ImageLoad, BrokenAndHostileFilesFailCleanly)
{
    bytes noise(24 * 24 * 4);
    for (size_t i = 0; i < noise.size(); i++)
        noise[i] = (Uint8)(i * 2654435761u >> 13);
    const bytes good = lodepng_file(noise, 24, 24, LCT_RGBA, 8);
    ASSERT_GT(good.size(), 200u);

    bytes zeroed_idat = good;
    for (size_t pos = 8; pos + 12 <= zeroed_idat.size();) {
        const Uint32 len = get_be32(&zeroed_idat[pos]);
        if (!std::memcmp(&zeroed_idat[pos + 4], "IDAT", 4))
            std::memset(&zeroed_idat[pos + 8], 0, len);
        pos += 12 + len;
    }
    bytes bad_signature = good;
    bad_signature[1] = 'Q';

    const struct {
        const char *name;
        bytes file;
        const char *reason;   // part of SDL_GetError, when it matters
    } cases[] = {
        {"truncated.png", bytes(good.begin(), good.begin() + good.size() / 2), nullptr},
        {"zeroed.png", zeroed_idat, nullptr},
        {"bad_signature.png", bad_signature, nullptr},
        {"empty.png", {}, nullptr},
        {"text.png", bytes{'h', 'e', 'l', 'l', 'o', '\n'}, nullptr},
        {"no_pixels.png", png_header_only(3, 3), nullptr},
        // Headers that would need more memory than any sprite: refused
        // before decoding (each side, and the whole buffer in 64 bits).
        {"too_wide.png", png_header_only(40000, 1), "too large"},
        {"too_many.bmp", bmp_file(20000, 20000, {}), "too large"},
        {"overflow.png", png_header_only(0x7FFFFFFF, 0x7FFFFFFF), nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        write_file(c.name, c.file);
        int w = 7, h = 7;
        SDL_ClearError();
        EXPECT_EQ(load_image(c.name, &w, &h), nullptr);
        EXPECT_EQ(w, 7);
        EXPECT_EQ(h, 7);
        EXPECT_STRNE(SDL_GetError(), "");
        if (c.reason) {
            EXPECT_NE(std::string(SDL_GetError()).find(c.reason), std::string::npos) << SDL_GetError();
        }
    }

    int w = 7, h = 7;
    std::filesystem::create_directories(temp_root + "/folder.png");
    EXPECT_EQ(load_image("folder.png", &w, &h), nullptr);
    EXPECT_EQ(load_image_only_dimensions("folder.png", &w, &h), 0);
    w = h = 7;
    EXPECT_EQ(load_image("no such file.png", &w, &h), nullptr);
    EXPECT_EQ(PHYSFS_getLastErrorCode(), PHYSFS_ERR_NOT_FOUND);
    EXPECT_EQ(w, 7);
    EXPECT_EQ(load_image(nullptr, &w, &h), nullptr);
}

TEST(ImageProbe, ReadsOnlyTheHeader)
{
    write_file("probe_text.txt", "just some words, no image here\n");
    write_file("probe_huge.bmp", bmp_file(20000, 30000, {}));
    write_file("probe_small.png", lodepng_file(bytes(3 * 2 * 4, 9), 3, 2, LCT_RGBA, 8));

    int w = 7, h = 7;
    EXPECT_EQ(load_image_only_dimensions("probe_small.png", &w, &h), 1);
    EXPECT_EQ(w, 3);
    EXPECT_EQ(h, 2);
    // A header too large to decode still answers its size: nothing is decoded.
    EXPECT_EQ(load_image_only_dimensions("probe_huge.bmp", &w, &h), 1);
    EXPECT_EQ(w, 20000);
    EXPECT_EQ(h, 30000);

    w = h = 7;
    EXPECT_EQ(load_image_only_dimensions("probe_text.txt", &w, &h), 0);
    EXPECT_EQ(w, 0);
    EXPECT_EQ(h, 0);
    w = h = 7;
    EXPECT_EQ(load_image_only_dimensions("missing.png", &w, &h), 0);
    EXPECT_EQ(w, 7);
    EXPECT_EQ(h, 7);
}

TEST(EncodePng, RoundTripsExactBytes)
{
    const int w = 7, h = 5;
    bytes px(w * h * 4);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            Uint8 *p = &px[(y * w + x) * 4];
            p[0] = (Uint8)(x * 37 + y * 11);
            p[1] = (Uint8)(x * 5);
            p[2] = (Uint8)(y * 50);
            p[3] = (Uint8)((x + y) * 20);   // alpha 0 at the corner keeps its colour
        }
    size_t size = 0;
    Uint8 *png = encode_png(px.data(), w, h, 0, 0, &size);
    ASSERT_NE(png, nullptr) << SDL_GetError();
    int rw = 0, rh = 0;
    bytes back;
    ASSERT_TRUE(read_png_rgba(png, size, &rw, &rh, &back));
    EXPECT_EQ(rw, w);
    EXPECT_EQ(rh, h);
    EXPECT_EQ(back, px);

    // And the loader reads what the encoder writes.
    write_file("round_trip.png", bytes(png, png + size));
    SDL_free(png);
    int lw = 0, lh = 0;
    EXPECT_EQ(load("round_trip.png", &lw, &lh), px);
}

TEST(EncodePng, ScalesOnlyToAGivenTargetSize)
{
    const bytes px = {255, 0, 0, 255, 0, 255, 0, 128, 0, 0, 255, 0, 9, 9, 9, 9};   // 2x2
    const struct {
        int tw, th, w, h;
    } cases[] = {
        {0, 0, 2, 2}, {0, 5, 2, 2}, {-3, -3, 2, 2}, {2, 2, 2, 2}, {4, 4, 4, 4}, {2, 4, 2, 4},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.tw << "x" << c.th);
        size_t size = 0;
        Uint8 *png = encode_png(px.data(), 2, 2, c.tw, c.th, &size);
        ASSERT_NE(png, nullptr) << SDL_GetError();
        int rw = 0, rh = 0;
        bytes back;
        ASSERT_TRUE(read_png_rgba(png, size, &rw, &rh, &back));
        SDL_free(png);
        ASSERT_EQ(rw, c.w);
        ASSERT_EQ(rh, c.h);
        // Nearest-pixel scaling, alpha copied rather than blended.
        for (int y = 0; y < rh; y++)
            for (int x = 0; x < rw; x++) {
                const int sx = x * 2 / rw, sy = y * 2 / rh;
                EXPECT_EQ(0, std::memcmp(&back[(y * rw + x) * 4], &px[(sy * 2 + sx) * 4], 4)) << x << "," << y;
            }
    }
}

TEST(EncodePng, RefusesBadInput)
{
    const Uint8 px[4] = {1, 2, 3, 4};
    size_t size = 123;
    EXPECT_EQ(encode_png(nullptr, 1, 1, 0, 0, &size), nullptr);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(encode_png(px, 0, 1, 0, 0, &size), nullptr);
    EXPECT_EQ(encode_png(px, 1, -1, 0, 0, &size), nullptr);
    EXPECT_EQ(encode_png(px, 40000, 1, 0, 0, &size), nullptr);
    EXPECT_EQ(encode_png(px, 1, 1, 40000, 40000, &size), nullptr);
    EXPECT_STRNE(SDL_GetError(), "");
}

TEST(PixelBuffers, SizesAreCheckedIn64Bits)
{
    const struct {
        int w, h;
        int ok;
        size_t bytes;
    } cases[] = {
        {1, 1, 1, 4},
        {0, 1, 0, 0},
        {1, 0, 0, 0},
        {-1, 5, 0, 0},
        {5, SDL_MIN_SINT32, 0, 0},
        // Largest square whose bytes fit a signed 32-bit stream length.
        {23170, 23170, 1, (size_t)23170 * 23170 * 4},
        {23171, 23170, 0, 0},
        {65536, 65536, 0, 0},
        {SDL_MAX_SINT32, SDL_MAX_SINT32, 0, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h);
        size_t n = 77;
        EXPECT_EQ(pixel_array_byte_count(c.w, c.h, &n), c.ok);
        EXPECT_EQ(n, c.ok ? c.bytes : 77u);
    }

    Uint8 *p = image_allocate(3, 2);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(bytes(p, p + 24), bytes(24, 0));
    SDL_free(p);
    EXPECT_EQ(image_allocate(0, 2), nullptr);
    EXPECT_EQ(image_allocate(SDL_MAX_SINT32, SDL_MAX_SINT32), nullptr);
}

TEST(PixelBuffers, ClipRectIntersectsWithTheTarget)
{
    const double nan = std::nan(""), inf = INFINITY;
    const struct {
        double x, y, w, h;
        int ok;
        SDL_Rect r;
    } cases[] = {
        {10, 5, 30, 40, 1, {10, 5, 30, 40}},
        {10.9, 5.9, 30.9, 40.9, 1, {10, 5, 30, 40}},   // truncated
        {-5, -5, 10, 10, 1, {0, 0, 5, 5}},
        {90, 40, 50, 50, 1, {90, 40, 10, 10}},
        {0, 0, 100, 50, 1, {0, 0, 100, 50}},
        {-1e12, -1e12, 2e12, 2e12, 1, {0, 0, 100, 50}},   // saturates, then clips
        {100, 0, 10, 10, 0, {}},
        {0, 50, 10, 10, 0, {}},
        {-10, 0, 10, 10, 0, {}},
        {5, 5, 0, 10, 0, {}},
        {5, 5, 10, -10, 0, {}},
        {5, 5, 0.5, 10, 0, {}},
        {nan, nan, 10, 10, 1, {0, 0, 10, 10}},
        {0, 0, nan, 10, 0, {}},
        {0, 0, inf, inf, 1, {0, 0, 100, 50}},
        {1e10, 0, 10, 10, 0, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.x << "," << c.y << "," << c.w << "," << c.h);
        SDL_Rect r = {1, 1, 1, 1};
        EXPECT_EQ(image_clip_rect(100, 50, c.x, c.y, c.w, c.h, &r), c.ok);
        EXPECT_EQ(r.x, c.r.x);
        EXPECT_EQ(r.y, c.r.y);
        EXPECT_EQ(r.w, c.r.w);
        EXPECT_EQ(r.h, c.r.h);
    }
    SDL_Rect r;
    EXPECT_EQ(image_clip_rect(0, 0, 0, 0, 10, 10, &r), 0);
}

TEST(PixelBuffers, CropCopiesTheVisiblePart)
{
    // 4x3 buffer; pixel (x, y) holds x, y, 100 + x, 200.
    bytes src(4 * 3 * 4);
    for (int y = 0; y < 3; y++)
        for (int x = 0; x < 4; x++) {
            Uint8 *p = &src[(y * 4 + x) * 4];
            p[0] = (Uint8)x, p[1] = (Uint8)y, p[2] = (Uint8)(100 + x), p[3] = 200;
        }
    const SDL_Rect partly_outside = {2, -1, 5, 3};
    int w = 0, h = 0;
    Uint8 *out = image_crop(src.data(), 4, 3, &partly_outside, &w, &h);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(w, 2);
    EXPECT_EQ(h, 2);
    EXPECT_EQ(bytes(out, out + 16), (bytes{2, 0, 102, 200, 3, 0, 103, 200, 2, 1, 102, 200, 3, 1, 103, 200}));
    SDL_free(out);

    const SDL_Rect outside = {4, 0, 2, 2}, empty = {1, 1, 0, 1};
    w = h = 9;
    EXPECT_EQ(image_crop(src.data(), 4, 3, &outside, &w, &h), nullptr);
    EXPECT_EQ(w, 0);
    EXPECT_EQ(h, 0);
    EXPECT_EQ(image_crop(src.data(), 4, 3, &empty, &w, &h), nullptr);
}

TEST(PixelBuffers, KeyColourSetsAlphaWithinTolerance)
{
    const bytes px = {100, 100, 100, 255, 103, 97, 100, 255, 104, 100, 100, 255, 255, 255, 255, 10};
    const struct {
        const char *what;
        int tolerance, r, g, b, alpha;
        bytes alphas;
    } cases[] = {
        {"tolerance 3", 3, 100, 100, 100, 0, {0, 0, 255, 10}},
        {"exact", 0, 100, 100, 100, 0, {0, 255, 255, 10}},
        {"negative tolerance", -1, 100, 100, 100, 0, {255, 255, 255, 10}},
        {"alpha 255 changes nothing", 300, 100, 100, 100, 255, {255, 255, 255, 10}},
        {"key clamped to 255", 0, 400, 999, 256, 7, {255, 255, 255, 7}},
        {"alpha clamped to 0", 0, 100, 100, 100, -50, {0, 255, 255, 10}},
        {"alpha clamped to 255", 0, 255, 255, 255, 999, {255, 255, 255, 255}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        bytes p = px;
        image_key_alpha(p.data(), 4, 1, c.tolerance, c.r, c.g, c.b, c.alpha);
        for (int i = 0; i < 4; i++) {
            EXPECT_EQ(p[i * 4 + 3], c.alphas[i]) << "pixel " << i;
            EXPECT_EQ(0, std::memcmp(&p[i * 4], &px[i * 4], 3));
        }
    }
}

TEST(ImageExtensions, DecodeNothing)
{
    write_file("ext.png", lodepng_file({1, 2, 3, 4}, 1, 1, LCT_RGBA, 8));
    int w = 5, h = 5;
    EXPECT_EQ(mnf_load_image("ext.png", &w, &h), nullptr);
    EXPECT_EQ(w, 5);
    mnf_free_image(nullptr);
}
