// Scene stream records: exact bytes of every record, decoding of a scene
// holding every tag, truncated and mutated scenes, and refused records.
#include "render/scene.h"

#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

typedef std::vector<Uint8> bytes_t;

// Expected streams are written as little-endian 32-bit words.
bytes_t words(std::initializer_list<Uint32> list)
{
    bytes_t out;
    for (Uint32 w : list) {
        out.push_back((Uint8)(w & 0xFF));
        out.push_back((Uint8)((w >> 8) & 0xFF));
        out.push_back((Uint8)((w >> 16) & 0xFF));
        out.push_back((Uint8)(w >> 24));
    }
    return out;
}

bytes_t contents(const threadstream *s)
{
    return bytes_t(s->data, s->data + s->length);
}

// A stream over exactly n heap bytes, so that AddressSanitizer reports any
// read past its length.
struct exact_stream {
    threadstream s;
    std::unique_ptr<Uint8[]> buffer;

    explicit exact_stream(const bytes_t &bytes, size_t n)
    {
        buffer.reset(new Uint8[n]);
        if (n)
            memcpy(buffer.get(), bytes.data(), n);
        memset(&s, 0, sizeof s);
        s.data = buffer.get();
        s.length = n;
        s.capacity = n;
    }
    explicit exact_stream(const bytes_t &bytes) : exact_stream(bytes, bytes.size()) {}
};

// The decoded record list, released on scope exit.
struct decoded {
    scene_record_list list;
    int ok;

    explicit decoded(threadstream *s) { ok = scene_decode(s, &list); }
    ~decoded() { scene_record_list_free(&list); }
    decoded(const decoded &) = delete;
    decoded &operator=(const decoded &) = delete;
};

std::string text(const scene_string &str)
{
    return str.bytes ? std::string(str.bytes, (size_t)str.length) : std::string("<absent>");
}

struct SceneTest : ::testing::Test {
    void SetUp() override { ASSERT_TRUE(threadstream_init()); }
    void TearDown() override { threadstream_quit(); }
};

// ---- exact bytes ----

struct golden_case {
    const char *name;
    std::function<int(threadstream *)> write;
    bytes_t expected;
};

const Uint8 two_pixels[8] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};

scene_a11y_node golden_node()
{
    scene_a11y_node n = {scene_text("b1"), scene_text(nullptr), scene_text("x"), scene_text(nullptr),
                         1.0f, 2.0f, 3.0f, 4.0f};
    return n;
}

std::vector<golden_case> golden_cases()
{
    std::vector<golden_case> c;
    c.push_back({"frame header", [](threadstream *s) { return scene_write_frame_header(s); }, words({0, 1})});
    c.push_back({"solid",
                 [](threadstream *s) {
                     scene_solid r = {10, 20, 100, 50, 1, 2, 3, 255, 2, 0.5f, 0.25f};
                     return scene_write_solid(s, &r);
                 },
                 words({1, 0x41200000, 0x41A00000, 0, 0x42C80000, 0x42480000, 1, 2, 3, 255, 2, 0x3F000000,
                        0x3E800000})});
    c.push_back({"border",
                 [](threadstream *s) {
                     scene_border r = {10, 20, 100, 50, 1, 2, 3, 255, 2, 0.5f, 0.25f};
                     return scene_write_border(s, &r);
                 },
                 words({5, 0x41200000, 0x41A00000, 0, 0x42C80000, 0x42480000, 1, 2, 3, 255, 2, 0x3F000000,
                        0x3E800000})});
    c.push_back({"sprite",
                 [](threadstream *s) {
                     scene_sprite r = {};
                     r.path = scene_text("pixel");
                     r.x = 1, r.y = 2, r.w = 3, r.h = 4, r.angle = 90;
                     r.r = 10, r.g = 20, r.b = 30, r.a = 40;
                     r.tile_x = 0, r.tile_y = 0, r.tile_w = -1, r.tile_h = -1;
                     r.source_x = 5, r.source_y = 6, r.source_w = 7, r.source_h = 8;
                     r.flip_horizontally = 1, r.flip_vertically = 0;
                     r.angle_anchor_x = 0.5f, r.angle_anchor_y = 0.75f;
                     r.blend = 3, r.scale_percent = 200;
                     r.anchor_x = 0.25f, r.anchor_y = 0.125f, r.scale_quality = 2;
                     return scene_write_sprite(s, &r);
                 },
                 words({2, 5, 0x65786970, 0x0000006C, 0x3F800000, 0x40000000, 0, 0x40400000, 0x40800000, 0, 0,
                        0x42B40000, 10, 20, 30, 40, 0, 0, 0xBF800000, 0xBF800000, 0x40A00000, 0x40C00000,
                        0x40E00000, 0x41000000, 1, 0, 0x3F000000, 0x3F400000, 3, 200, 0x3E800000, 0x3E000000,
                        2})});
    c.push_back({"label",
                 [](threadstream *s) {
                     scene_label r = {};
                     r.x = 1, r.y = 2;
                     r.text = scene_text("Hi");
                     r.font = scene_text(nullptr);
                     r.size_enum = 2, r.alignment = 1;
                     r.r = 4, r.g = 5, r.b = 6, r.a = 255;
                     r.vertical_alignment = 2, r.blend = 1, r.size_px = -1;
                     r.anchor_x_given = 1, r.anchor_x = 0.5f, r.anchor_y_given = 0, r.anchor_y = 0;
                     return scene_write_label(s, &r);
                 },
                 words({3, 0x3F800000, 0x40000000, 0, 2, 0x00006948, 0xFFFFFFFF, 0x40000000, 1, 4, 5, 6, 255, 2,
                        1, 0xBF800000, 1, 0x3F000000, 0, 0})});
    c.push_back({"line",
                 [](threadstream *s) {
                     scene_line r = {1, 2, 3, 4, 1, 2, 3, 4, 0};
                     return scene_write_line(s, &r);
                 },
                 words({4, 0x3F800000, 0x40000000, 0, 0x40400000, 0x40800000, 1, 2, 3, 4, 0})});
    c.push_back({"triangle",
                 [](threadstream *s) {
                     scene_triangle r = {};
                     r.x = 1, r.y = 2, r.x2 = 3, r.y2 = 4, r.x3 = 5, r.y3 = 6;
                     r.r = 1, r.g = 2, r.b = 3, r.a = 4;
                     r.path = scene_text("abcd");
                     r.source_x = 1, r.source_y = 2, r.source_x2 = 3, r.source_y2 = 4, r.source_x3 = 5,
                     r.source_y3 = 6;
                     r.blend = 4, r.scale_percent = 100;
                     r.r2 = 5, r.g2 = 6, r.b2 = 7, r.a2 = 8, r.r3 = 9, r.g3 = 10, r.b3 = 11, r.a3 = 12;
                     return scene_write_triangle(s, &r);
                 },
                 words({18, 0x3F800000, 0x40000000, 0, 0x40400000, 0x40800000, 0, 0x40A00000, 0x40C00000, 0, 1,
                        2, 3, 4, 4, 0x64636261, 0, 0x3F800000, 0x40000000, 0x40400000, 0x40800000, 0x40A00000,
                        0x40C00000, 4, 100, 5, 6, 7, 8, 9, 10, 11, 12})});
    c.push_back({"passes",
                 [](threadstream *s) {
                     scene_passes r = {2, 1};
                     return scene_write_passes(s, &r);
                 },
                 words({8, 2, 1})});
    c.push_back({"pass into a named target",
                 [](threadstream *s) {
                     scene_pass r = {10, 20, 30, 255, scene_text("rt"), 100, 50, 1, 0};
                     return scene_write_pass(s, &r);
                 },
                 words({10, 20, 30, 255, 2, 0x00007472, 100, 50, 1, 0})});
    c.push_back({"pass into the default target",
                 [](threadstream *s) {
                     scene_pass r = {0, 0, 0, 255, scene_text(nullptr), 1280, 720, 0, 1};
                     return scene_write_pass(s, &r);
                 },
                 words({0, 0, 0, 255, 0xFFFFFFFF, 1280, 720, 0, 1})});
    c.push_back({"pass end", [](threadstream *s) { return scene_write_pass_end(s); }, words({9})});
    c.push_back({"padding", [](threadstream *s) { return scene_write_padding(s); }, words({0})});
    c.push_back({"screenshot",
                 [](threadstream *s) {
                     scene_screenshot r = {scene_text("s.png"), 0, 0, 1280, 720, 10, 255, 0, 255, 0};
                     return scene_write_screenshot(s, &r);
                 },
                 words({6, 5, 0x6E702E73, 0x00000067, 0, 0, 0x44A00000, 0x44340000, 10, 255, 0, 255, 0})});
    c.push_back({"grid",
                 [](threadstream *s) {
                     scene_grid r = {0, 720, -1};
                     return scene_write_grid(s, &r);
                 },
                 words({7, 0, 0x44340000, 0xFFFFFFFF})});
    c.push_back({"unload sprite",
                 [](threadstream *s) {
                     scene_unload_sprite r = {scene_text("")};
                     return scene_write_unload_sprite(s, &r);
                 },
                 words({10, 0, 0})});
    c.push_back({"cursor visibility",
                 [](threadstream *s) {
                     scene_cursor_visibility r = {1};
                     return scene_write_cursor_visibility(s, &r);
                 },
                 words({11, 1})});
    c.push_back({"fullscreen",
                 [](threadstream *s) {
                     scene_fullscreen r = {0};
                     return scene_write_fullscreen(s, &r);
                 },
                 words({12, 0})});
    c.push_back({"window scale",
                 [](threadstream *s) {
                     scene_window_scale r = {1.5f, 16, 9};
                     return scene_write_window_scale(s, &r);
                 },
                 words({13, 0x3FC00000, 16, 9})});
    c.push_back({"pixel array",
                 [](threadstream *s) {
                     scene_pixel_array r = {scene_text("px"), 2, 1, two_pixels};
                     return scene_write_pixel_array(s, &r);
                 },
                 words({14, 2, 0x00007870, 2, 1, 8, 0x44332211, 0x88776655, 0})});
    c.push_back({"pixel array filled in place",
                 [](threadstream *s) {
                     scene_pixel_array r = {scene_text("px"), 2, 1, nullptr};
                     Uint8 *p = scene_write_pixel_array_space(s, &r);
                     if (!p)
                         return 0;
                     memcpy(p, two_pixels, 8);
                     return 1;
                 },
                 words({14, 2, 0x00007870, 2, 1, 8, 0x44332211, 0x88776655, 0})});
    c.push_back({"open URL",
                 [](threadstream *s) {
                     scene_open_url r = {scene_text("http://a")};
                     return scene_write_open_url(s, &r);
                 },
                 words({15, 8, 0x70747468, 0x612F2F3A, 0})});
    c.push_back({"cursor image",
                 [](threadstream *s) {
                     scene_cursor_image r = {scene_text("c"), 3, 4};
                     return scene_write_cursor_image(s, &r);
                 },
                 words({16, 1, 0x00000063, 3, 4})});
    c.push_back({"system cursor",
                 [](threadstream *s) {
                     scene_system_cursor r = {scene_text("hand")};
                     return scene_write_system_cursor(s, &r);
                 },
                 words({17, 4, 0x646E6168, 0})});
    c.push_back({"mouse grab",
                 [](threadstream *s) {
                     scene_mouse_grab r = {2};
                     return scene_write_mouse_grab(s, &r);
                 },
                 words({19, 2})});
    c.push_back({"window title",
                 [](threadstream *s) {
                     scene_window_title r = {scene_text("abc")};
                     return scene_write_window_title(s, &r);
                 },
                 words({20, 3, 0x00636261})});
    bytes_t a11y = words({21, 1, 2, 0x00003162, 0xFFFFFFFF, 1, 0x00000078, 0xFFFFFFFF, 0x3F800000, 0x40000000,
                          0x40400000, 0x40800000});
    c.push_back({"accessibility nodes",
                 [](threadstream *s) {
                     scene_a11y_node node = golden_node();
                     scene_a11y_nodes r = {1, &node};
                     return scene_write_a11y_nodes(s, &r);
                 },
                 a11y});
    c.push_back({"accessibility nodes one by one",
                 [](threadstream *s) {
                     scene_a11y_node node = golden_node();
                     scene_a11y_nodes r = {1, nullptr};
                     return scene_write_a11y_nodes(s, &r) && scene_write_a11y_node(s, &node);
                 },
                 a11y});
    c.push_back({"move to next display", [](threadstream *s) { return scene_write_move_to_next_display(s); },
                 words({22})});
    c.push_back({"maximize window", [](threadstream *s) { return scene_write_maximize_window(s); }, words({23})});
    c.push_back({"toggle orientation", [](threadstream *s) { return scene_write_toggle_orientation(s); },
                 words({24})});
    c.push_back({"scale quality",
                 [](threadstream *s) {
                     scene_scale_quality r = {1};
                     return scene_write_scale_quality(s, &r);
                 },
                 words({25, 1})});
    c.push_back({"HD maximum scale",
                 [](threadstream *s) {
                     scene_hd_max_scale r = {150};
                     return scene_write_hd_max_scale(s, &r);
                 },
                 words({26, 150})});
    c.push_back({"toggle HD letterbox", [](threadstream *s) { return scene_write_toggle_hd_letterbox(s); },
                 words({27})});
    c.push_back({"toggle orientation without resize",
                 [](threadstream *s) { return scene_write_toggle_orientation_no_resize(s); }, words({28})});
    c.push_back({"window size",
                 [](threadstream *s) {
                     scene_window_size r = {1280, 720};
                     return scene_write_window_size(s, &r);
                 },
                 words({29, 1280, 720})});
    c.push_back({"window position",
                 [](threadstream *s) {
                     scene_window_position r = {-5, 7};
                     return scene_write_window_position(s, &r);
                 },
                 words({30, 0xFFFFFFFB, 7})});
    c.push_back({"raise window", [](threadstream *s) { return scene_write_raise_window(s); }, words({31})});
    return c;
}

TEST_F(SceneTest, EveryRecordHasItsExactBytes)
{
    for (const golden_case &c : golden_cases()) {
        SCOPED_TRACE(c.name);
        threadstream *s = threadstream_allocate();
        ASSERT_TRUE(c.write(s));
        EXPECT_EQ(contents(s), c.expected);
        EXPECT_EQ(s->failed, 0);
        threadstream_free(s);
    }
}

TEST_F(SceneTest, StringsArePaddedWithZerosToFourBytes)
{
    struct {
        const char *text;
        size_t length;
        bytes_t expected;
    } cases[] = {
        {"", 0, {10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"a", 1, {10, 0, 0, 0, 1, 0, 0, 0, 'a', 0, 0, 0}},
        {"ab", 2, {10, 0, 0, 0, 2, 0, 0, 0, 'a', 'b', 0, 0}},
        {"abc", 3, {10, 0, 0, 0, 3, 0, 0, 0, 'a', 'b', 'c', 0}},
        {"abcd", 4, {10, 0, 0, 0, 4, 0, 0, 0, 'a', 'b', 'c', 'd', 0, 0, 0, 0}},
        {"abcde", 5, {10, 0, 0, 0, 5, 0, 0, 0, 'a', 'b', 'c', 'd', 'e', 0, 0, 0}},
        {"a\0b", 3, {10, 0, 0, 0, 3, 0, 0, 0, 'a', 0, 'b', 0}},
        {nullptr, 0, {10, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "string of " << c.length << " bytes" << (c.text ? "" : " (absent)"));
        threadstream *s = threadstream_allocate();
        // A recycled buffer holds old bytes: the padding must not leak them.
        memset(s->data, 0xAA, s->capacity);
        scene_unload_sprite r = {{c.text, (Sint32)c.length}};
        ASSERT_TRUE(scene_write_unload_sprite(s, &r));
        EXPECT_EQ(contents(s), c.expected);

        scene_rewind(s);
        Sint32 tag;
        scene_unload_sprite back;
        ASSERT_TRUE(scene_read_tag(s, &tag));
        ASSERT_TRUE(scene_read_unload_sprite(s, &back));
        EXPECT_EQ(text(back.path), c.text ? std::string(c.text, c.length) : "<absent>");
        EXPECT_EQ(s->read_pos, s->length);
        threadstream_free(s);
    }
}

// ---- a scene holding every record ----

struct scene_build {
    bytes_t bytes;
    std::vector<size_t> top_ends;   // stream lengths after the header and after each top-level record
};

const Uint8 four_pixels[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

scene_build build_full_scene()
{
    scene_build b;
    threadstream *s = threadstream_allocate();
    auto mark = [&] { b.top_ends.push_back(s->length); };

    scene_write_frame_header(s);
    scene_write_frame_stamp(s, 1234);
    mark();
    scene_grid grid = {0, 720, -1};
    scene_write_grid(s, &grid);
    mark();
    scene_write_padding(s);
    mark();

    scene_passes passes = {3, 1};
    scene_write_passes(s, &passes);
    scene_pass named = {1, 2, 3, 4, scene_text("target"), 100, 50, 1, 1};
    scene_write_pass(s, &named);
    scene_solid solid = {1, 2, 3, 4, 5, 6, 7, 8, 9, 0.5f, 0.75f};
    scene_write_solid(s, &solid);
    scene_border border = {-1, -2, -3, -4, 300, -6, 0, 255, 77, 1, 0};
    scene_write_border(s, &border);
    scene_sprite sprite = {scene_text("sprites/a.png"), 1, 2, 3, 4, 45, 5, 6, 7, 8, 9, 10, 11, 12,
                           13, 14, 15, 16, 1, 1, 0.5f, 0.5f, 2, 150, 0.1f, 0.2f, 1};
    scene_write_sprite(s, &sprite);
    scene_write_pass_end(s);

    scene_pass plain = {9, 8, 7, 255, scene_text(nullptr), 1280, 720, 0, 0};
    scene_write_pass(s, &plain);
    scene_label label = {3, 4, scene_text("hello"), scene_text("fonts/x.ttf"), 1.5f, 2, 10, 20, 30, 40,
                         1, 3, 18, 1, 0.5f, 1, 0.25f};
    scene_write_label(s, &label);
    scene_label bare = {0, 0, scene_text(nullptr), scene_text(nullptr), 0, 0, 0, 0, 0, 255, 2, 1, -1, 0, 0, 0, 0};
    scene_write_label(s, &bare);
    scene_line line = {1, 2, 3, 4, 5, 6, 7, 8, 2};
    scene_write_line(s, &line);
    // Tags that stand alone inside a pass.
    threadstream_pack_int(s, SCENE_TAG_GRID);
    threadstream_pack_int(s, 40);
    threadstream_pack_int(s, SCENE_TAG_PADDING);
    scene_triangle tri = {1, 2, 3, 4, 5, 6, 11, 12, 13, 14, scene_text("pixel"), 0.1f, 0.2f, 0.3f, 0.4f, 0.5f,
                          0.6f, 1, 100, 21, 22, 23, 24, 31, 32, 33, 34};
    scene_write_triangle(s, &tri);
    scene_write_pass_end(s);

    scene_pass empty = {0, 0, 0, 0, scene_text(""), 0, 0, 0, 0};
    scene_write_pass(s, &empty);
    scene_write_pass_end(s);
    mark();

    scene_passes none = {0, 0};
    scene_write_passes(s, &none);
    mark();

    scene_screenshot shot = {scene_text("shot.png"), 1, 2, 3, 4, 5, 6, 7, 8, 9};
    scene_write_screenshot(s, &shot);
    mark();
    scene_unload_sprite unload = {scene_text("sprites/old.png")};
    scene_write_unload_sprite(s, &unload);
    mark();
    scene_cursor_visibility cursor = {0};
    scene_write_cursor_visibility(s, &cursor);
    mark();
    scene_fullscreen full = {1};
    scene_write_fullscreen(s, &full);
    mark();
    scene_window_scale scale = {1.25f, 4, 3};
    scene_write_window_scale(s, &scale);
    mark();
    scene_pixel_array pixels = {scene_text("canvas"), 2, 2, four_pixels};
    scene_write_pixel_array(s, &pixels);
    mark();
    scene_open_url url = {scene_text("https://example.org/")};
    scene_write_open_url(s, &url);
    mark();
    scene_cursor_image image = {scene_text("cursor.png"), 5, 6};
    scene_write_cursor_image(s, &image);
    mark();
    scene_system_cursor sys = {scene_text("ibeam")};
    scene_write_system_cursor(s, &sys);
    mark();
    scene_mouse_grab grab = {1};
    scene_write_mouse_grab(s, &grab);
    mark();
    scene_window_title title = {scene_text("My Game")};
    scene_write_window_title(s, &title);
    mark();
    scene_a11y_node nodes[2] = {
        {scene_text("id1"), scene_text("Play"), scene_text("button"), scene_text(nullptr), 1, 2, 3, 4},
        {scene_text(nullptr), scene_text(nullptr), scene_text(nullptr), scene_text("n"), 0, 0, 0, 0},
    };
    scene_a11y_nodes a11y = {2, nodes};
    scene_write_a11y_nodes(s, &a11y);
    mark();
    scene_write_move_to_next_display(s);
    mark();
    scene_write_maximize_window(s);
    mark();
    scene_write_toggle_orientation(s);
    mark();
    scene_scale_quality quality = {2};
    scene_write_scale_quality(s, &quality);
    mark();
    scene_hd_max_scale hd = {250};
    scene_write_hd_max_scale(s, &hd);
    mark();
    scene_write_toggle_hd_letterbox(s);
    mark();
    scene_write_toggle_orientation_no_resize(s);
    mark();
    scene_window_size size = {800, 600};
    scene_write_window_size(s, &size);
    mark();
    scene_window_position pos = {10, -20};
    scene_write_window_position(s, &pos);
    mark();
    scene_write_raise_window(s);
    mark();

    EXPECT_EQ(s->failed, 0);
    b.bytes = contents(s);
    threadstream_free(s);
    return b;
}

// Writes decoded records back; with the writers' bytes fixed by the golden
// test, equal bytes mean that decoding kept every field.
int encode_records(threadstream *s, const scene_record_list *list)
{
    int ok = scene_write_frame_header(s) && scene_write_frame_stamp(s, list->header.time_stamp);
    for (int i = 0; ok && i < list->count; i++) {
        const scene_record *r = &list->records[i];
        switch (r->kind) {
        case SCENE_RECORD_PASS:
            ok = scene_write_pass(s, &r->pass);
            break;
        case SCENE_RECORD_PASS_END:
            ok = scene_write_pass_end(s);
            break;
        case SCENE_RECORD_LONE_TAG:
            ok = threadstream_pack_int(s, r->tag);
            break;
        case SCENE_RECORD_PRIMITIVE:
            switch (r->tag) {
            case SCENE_TAG_SOLID: ok = scene_write_solid(s, &r->solid); break;
            case SCENE_TAG_BORDER: ok = scene_write_border(s, &r->border); break;
            case SCENE_TAG_SPRITE: ok = scene_write_sprite(s, &r->sprite); break;
            case SCENE_TAG_LABEL: ok = scene_write_label(s, &r->label); break;
            case SCENE_TAG_LINE: ok = scene_write_line(s, &r->line); break;
            case SCENE_TAG_TRIANGLE: ok = scene_write_triangle(s, &r->triangle); break;
            default: ok = 0;
            }
            break;
        case SCENE_RECORD_TOP:
            switch (r->tag) {
            case SCENE_TAG_PADDING: ok = scene_write_padding(s); break;
            case SCENE_TAG_SCREENSHOT: ok = scene_write_screenshot(s, &r->screenshot); break;
            case SCENE_TAG_GRID: ok = scene_write_grid(s, &r->grid); break;
            case SCENE_TAG_PASSES: ok = scene_write_passes(s, &r->passes); break;
            case SCENE_TAG_UNLOAD_SPRITE: ok = scene_write_unload_sprite(s, &r->unload_sprite); break;
            case SCENE_TAG_CURSOR_VISIBILITY: ok = scene_write_cursor_visibility(s, &r->cursor_visibility); break;
            case SCENE_TAG_FULLSCREEN: ok = scene_write_fullscreen(s, &r->fullscreen); break;
            case SCENE_TAG_WINDOW_SCALE: ok = scene_write_window_scale(s, &r->window_scale); break;
            case SCENE_TAG_PIXEL_ARRAY: ok = scene_write_pixel_array(s, &r->pixel_array); break;
            case SCENE_TAG_OPEN_URL: ok = scene_write_open_url(s, &r->open_url); break;
            case SCENE_TAG_CURSOR_IMAGE: ok = scene_write_cursor_image(s, &r->cursor_image); break;
            case SCENE_TAG_SYSTEM_CURSOR: ok = scene_write_system_cursor(s, &r->system_cursor); break;
            case SCENE_TAG_MOUSE_GRAB: ok = scene_write_mouse_grab(s, &r->mouse_grab); break;
            case SCENE_TAG_WINDOW_TITLE: ok = scene_write_window_title(s, &r->window_title); break;
            case SCENE_TAG_A11Y_NODES: ok = scene_write_a11y_nodes(s, &r->a11y_nodes); break;
            case SCENE_TAG_MOVE_TO_NEXT_DISPLAY: ok = scene_write_move_to_next_display(s); break;
            case SCENE_TAG_MAXIMIZE_WINDOW: ok = scene_write_maximize_window(s); break;
            case SCENE_TAG_TOGGLE_ORIENTATION: ok = scene_write_toggle_orientation(s); break;
            case SCENE_TAG_SCALE_QUALITY: ok = scene_write_scale_quality(s, &r->scale_quality); break;
            case SCENE_TAG_HD_MAX_SCALE: ok = scene_write_hd_max_scale(s, &r->hd_max_scale); break;
            case SCENE_TAG_TOGGLE_HD_LETTERBOX: ok = scene_write_toggle_hd_letterbox(s); break;
            case SCENE_TAG_TOGGLE_ORIENTATION_NO_RESIZE: ok = scene_write_toggle_orientation_no_resize(s); break;
            case SCENE_TAG_WINDOW_SIZE: ok = scene_write_window_size(s, &r->window_size); break;
            case SCENE_TAG_WINDOW_POSITION: ok = scene_write_window_position(s, &r->window_position); break;
            case SCENE_TAG_RAISE_WINDOW: ok = scene_write_raise_window(s); break;
            default: ok = 0;
            }
            break;
        }
    }
    return ok;
}

TEST_F(SceneTest, DecodingEveryTagAndWritingItBackGivesTheSameBytes)
{
    scene_build b = build_full_scene();
    exact_stream in(b.bytes);
    decoded d(&in.s);
    ASSERT_TRUE(d.ok) << SDL_GetError();
    EXPECT_EQ(d.list.end, SCENE_END_STREAM);
    EXPECT_EQ(d.list.header.time_stamp, 1234);
    EXPECT_EQ(d.list.header.marker, 1);

    // Every wire tag appears, each in its place.
    std::vector<int> top, prim;
    for (int i = 0; i < d.list.count; i++) {
        const scene_record &r = d.list.records[i];
        if (r.kind == SCENE_RECORD_TOP)
            top.push_back(r.tag);
        if (r.kind == SCENE_RECORD_PRIMITIVE || r.kind == SCENE_RECORD_LONE_TAG || r.kind == SCENE_RECORD_PASS_END)
            prim.push_back(r.tag);
    }
    EXPECT_EQ(top, (std::vector<int>{7, 0, 8, 8, 6, 10, 11, 12, 13, 14, 15, 16, 17, 19, 20, 21, 22, 23, 24, 25, 26,
                                     27, 28, 29, 30, 31}));
    EXPECT_EQ(prim, (std::vector<int>{1, 5, 2, 9, 3, 3, 4, 7, 40, 0, 18, 9, 9}));
    EXPECT_EQ(d.list.records[3].kind, SCENE_RECORD_PASS);
    EXPECT_EQ(text(d.list.records[3].pass.target), "target");
    EXPECT_EQ(d.list.records[8].kind, SCENE_RECORD_PASS);
    EXPECT_EQ(text(d.list.records[8].pass.target), "<absent>");
    EXPECT_EQ(d.list.records[12].kind, SCENE_RECORD_LONE_TAG);
    EXPECT_EQ(d.list.records[12].tag, 7);

    // The decoded records own their strings: they outlive the stream bytes.
    memset(in.buffer.get(), 0xEE, b.bytes.size());
    const scene_record &label = d.list.records[9];
    ASSERT_EQ(label.tag, SCENE_TAG_LABEL);
    EXPECT_EQ(text(label.label.text), "hello");
    EXPECT_EQ(text(label.label.font), "fonts/x.ttf");
    const scene_record &bare = d.list.records[10];
    EXPECT_EQ(bare.label.text.bytes, nullptr);
    EXPECT_EQ(bare.label.font.bytes, nullptr);
    for (int i = 0; i < d.list.count; i++) {
        const scene_record &r = d.list.records[i];
        if (r.kind == SCENE_RECORD_TOP && r.tag == SCENE_TAG_PIXEL_ARRAY) {
            EXPECT_EQ(memcmp(r.pixel_array.pixels, four_pixels, 16), 0);
        }
        if (r.kind == SCENE_RECORD_TOP && r.tag == SCENE_TAG_A11Y_NODES) {
            ASSERT_EQ(r.a11y_nodes.count, 2);
            EXPECT_EQ(text(r.a11y_nodes.nodes[0].a11y_trait), "button");
            EXPECT_EQ(text(r.a11y_nodes.nodes[1].a11y_notification_target), "n");
            EXPECT_EQ(r.a11y_nodes.nodes[1].a11y_id.bytes, nullptr);
        }
    }

    threadstream *again = threadstream_allocate();
    ASSERT_TRUE(encode_records(again, &d.list));
    EXPECT_EQ(contents(again), b.bytes);
    threadstream_free(again);
}

TEST_F(SceneTest, ReadersTakeTheFieldsAfterATagAndPointIntoTheStream)
{
    threadstream *s = threadstream_allocate();
    scene_write_frame_header(s);
    scene_sprite sprite = {};
    sprite.path = scene_text("a.png");
    sprite.w = 32;
    sprite.a = 255;
    sprite.scale_quality = 1;
    scene_write_sprite(s, &sprite);

    scene_rewind(s);
    scene_frame_header h;
    Sint32 tag;
    scene_sprite back;
    ASSERT_TRUE(scene_read_frame_header(s, &h));
    ASSERT_TRUE(scene_read_tag(s, &tag));
    EXPECT_EQ(tag, SCENE_TAG_SPRITE);
    ASSERT_TRUE(scene_read_sprite(s, &back));
    EXPECT_EQ(back.path.bytes, (const char *)s->data + 16);
    EXPECT_STREQ(back.path.bytes, "a.png");
    EXPECT_EQ(back.w, 32.0f);
    EXPECT_EQ(back.scale_quality, 1);
    EXPECT_TRUE(threadstream_eos(s));

    // Past the end: a failure, zeroed output, and nothing more is read.
    EXPECT_FALSE(scene_read_tag(s, &tag));
    EXPECT_EQ(s->failed, 1);
    scene_line line;
    EXPECT_FALSE(scene_read_line(s, &line));
    EXPECT_EQ(line.blend, 0);

    // A rewind forgets the failed read so that the scene can be drawn again.
    scene_rewind(s);
    EXPECT_EQ(s->failed, 0);
    ASSERT_TRUE(scene_read_frame_header(s, &h));
    EXPECT_TRUE(scene_read_tag(s, &tag) && scene_skip_primitive(s, tag));
    EXPECT_TRUE(threadstream_eos(s));
    EXPECT_EQ(s->failed, 0);
    threadstream_free(s);
}

// ---- top-level and in-pass tag rules ----

TEST_F(SceneTest, TagsOutsideTheTopLevelTableEndTheScene)
{
    for (Sint32 stop : {1, 2, 3, 4, 5, 9, 18, 32, 40, -1, SDL_MAX_SINT32}) {
        SCOPED_TRACE(testing::Message() << "tag " << stop);
        threadstream *s = threadstream_allocate();
        scene_write_frame_header(s);
        scene_fullscreen f = {1};
        scene_write_fullscreen(s, &f);
        threadstream_pack_int(s, stop);
        scene_write_raise_window(s);   // never reached
        decoded d(s);
        EXPECT_TRUE(d.ok);
        EXPECT_EQ(d.list.end, SCENE_END_UNKNOWN_TAG);
        EXPECT_EQ(d.list.stop_tag, stop);
        ASSERT_EQ(d.list.count, 1);
        EXPECT_EQ(d.list.records[0].tag, SCENE_TAG_FULLSCREEN);
        threadstream_free(s);
    }
    for (Sint32 t = -2; t < 64; t++) {
        bool top = t == 0 || t == 6 || t == 7 || t == 8 || (t >= 10 && t <= 31 && t != 18);
        bool prim = (t >= 1 && t <= 5) || t == 18;
        EXPECT_EQ(scene_tag_is_top_level(t), top) << t;
        EXPECT_EQ(scene_tag_is_primitive(t), prim) << t;
    }
}

TEST_F(SceneTest, PassWithCountZeroCarriesOnlyItsHeader)
{
    threadstream *s = threadstream_allocate();
    scene_write_frame_header(s);
    scene_passes none = {0, 1};
    scene_write_passes(s, &none);
    EXPECT_EQ(s->length, 20u);
    scene_write_maximize_window(s);
    decoded d(s);
    ASSERT_TRUE(d.ok);
    ASSERT_EQ(d.list.count, 2);
    EXPECT_EQ(d.list.records[0].passes.count, 0);
    EXPECT_EQ(d.list.records[0].passes.capture, 1);
    EXPECT_EQ(d.list.records[1].tag, SCENE_TAG_MAXIMIZE_WINDOW);
    threadstream_free(s);
}

// ---- truncated and hostile streams ----

TEST_F(SceneTest, TruncationAtEveryOffsetFailsCleanlyUnlessItEndsARecord)
{
    scene_build b = build_full_scene();
    exact_stream whole(b.bytes);
    decoded full(&whole.s);
    ASSERT_TRUE(full.ok);

    for (size_t cut = 0; cut < b.bytes.size(); cut++) {
        SCOPED_TRACE(testing::Message() << "cut at " << cut << " of " << b.bytes.size());
        exact_stream in(b.bytes, cut);
        decoded d(&in.s);
        EXPECT_LE(in.s.read_pos, cut);
        bool boundary = false;
        for (size_t end : b.top_ends)
            boundary |= end == cut;
        EXPECT_EQ(d.ok, boundary ? 1 : 0);
        EXPECT_EQ(d.list.end, boundary ? SCENE_END_STREAM : SCENE_END_FAILED);
        // What was read before the cut is what the whole scene starts with.
        ASSERT_LE(d.list.count, full.list.count);
        for (int i = 0; i < d.list.count; i++) {
            ASSERT_EQ(d.list.records[i].kind, full.list.records[i].kind) << i;
            ASSERT_EQ(d.list.records[i].tag, full.list.records[i].tag) << i;
        }
        if (!boundary) {
            EXPECT_EQ(in.s.failed, 1);
        }
    }
}

struct hostile_case {
    const char *name;
    bytes_t body;   // after the frame header
};

TEST_F(SceneTest, MalformedRecordsStopTheScene)
{
    const Uint32 neg2 = 0xFFFFFFFE, min = 0x80000000, max = 0x7FFFFFFF;
    hostile_case cases[] = {
        {"string length -2", words({10, neg2, 0, 0})},
        {"string length INT_MIN", words({20, min, 0, 0})},
        {"string longer than the stream", words({20, 100, 0x00636261})},
        {"string without its NUL", words({20, 4, 0x64636261})},
        {"string cut inside its padding", bytes_t{20, 0, 0, 0, 2, 0, 0, 0, 'a', 'b', 0}},
        {"more passes than bytes", words({8, 1000, 0, 0, 0, 0, 0, 0xFFFFFFFF, 0, 0, 0, 0, 9})},
        {"negative pass count", words({8, 0xFFFFFFFF, 0})},
        {"pass without its end tag", words({8, 1, 0, 0, 0, 0, 0, 0xFFFFFFFF, 0, 0, 0, 0, 4})},
        {"huge accessibility count", words({21, max, 0xFFFFFFFF})},
        {"negative accessibility count", words({21, 0xFFFFFFFF})},
        {"pixel array of zero width", words({14, 0xFFFFFFFF, 0, 1, 0})},
        {"pixel array of negative height", words({14, 0xFFFFFFFF, 1, 0xFFFFFFFF, 0})},
        {"pixel array whose size wraps 32 bits", words({14, 0xFFFFFFFF, 65536, 16384, 0})},
        {"pixel array larger than a string can be", words({14, 0xFFFFFFFF, 32768, 16384, 0})},
        {"pixel array without pixels", words({14, 0xFFFFFFFF, 1, 1, 0xFFFFFFFF})},
        {"pixel array with too few pixels", words({14, 0xFFFFFFFF, 2, 1, 4, 0x01020304, 0})},
        {"pixel array with too many pixels", words({14, 0xFFFFFFFF, 1, 1, 8, 1, 2, 0})},
        {"sprite cut short", words({8, 1, 0, 0, 0, 0, 0, 0xFFFFFFFF, 0, 0, 0, 0, 2, 0xFFFFFFFF, 0, 0, 0})},
        {"tag cut short", bytes_t{7, 0}},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        bytes_t bytes = words({0, 1});
        bytes.insert(bytes.end(), c.body.begin(), c.body.end());
        exact_stream in(bytes);
        decoded d(&in.s);
        EXPECT_EQ(d.ok, 0);
        EXPECT_EQ(d.list.end, SCENE_END_FAILED);
        EXPECT_EQ(in.s.failed, 1);
        EXPECT_LE(in.s.read_pos, in.s.length);
    }
}

// Reads a scene the way the render thread does, skipping what it would
// draw; used to check that the skipping readers agree with the decoder.
size_t walk_scene(threadstream *s)
{
    scene_rewind(s);
    scene_frame_header h;
    if (!scene_read_frame_header(s, &h))
        return s->read_pos;
    while (!threadstream_eos(s)) {
        Sint32 tag;
        if (!scene_read_tag(s, &tag) || !scene_tag_is_top_level(tag))
            break;
        scene_record r;
        int ok = 1;
        switch (tag) {
        case SCENE_TAG_PASSES: {
            scene_passes passes;
            scene_pass pass;
            ok = scene_read_passes(s, &passes);
            for (Sint32 i = 0; ok && i < passes.count; i++) {
                ok = scene_read_pass(s, &pass);
                Sint32 t = 0;
                while (ok && (ok = scene_read_tag(s, &t)) && t != SCENE_TAG_PASS_END)
                    ok = scene_skip_primitive(s, t);
            }
            break;
        }
        case SCENE_TAG_A11Y_NODES: ok = scene_skip_a11y_nodes(s); break;
        case SCENE_TAG_SCREENSHOT: ok = scene_read_screenshot(s, &r.screenshot); break;
        case SCENE_TAG_GRID: ok = scene_read_grid(s, &r.grid); break;
        case SCENE_TAG_UNLOAD_SPRITE: ok = scene_read_unload_sprite(s, &r.unload_sprite); break;
        case SCENE_TAG_CURSOR_VISIBILITY: ok = scene_read_cursor_visibility(s, &r.cursor_visibility); break;
        case SCENE_TAG_FULLSCREEN: ok = scene_read_fullscreen(s, &r.fullscreen); break;
        case SCENE_TAG_WINDOW_SCALE: ok = scene_read_window_scale(s, &r.window_scale); break;
        case SCENE_TAG_PIXEL_ARRAY: ok = scene_read_pixel_array(s, &r.pixel_array); break;
        case SCENE_TAG_OPEN_URL: ok = scene_read_open_url(s, &r.open_url); break;
        case SCENE_TAG_CURSOR_IMAGE: ok = scene_read_cursor_image(s, &r.cursor_image); break;
        case SCENE_TAG_SYSTEM_CURSOR: ok = scene_read_system_cursor(s, &r.system_cursor); break;
        case SCENE_TAG_MOUSE_GRAB: ok = scene_read_mouse_grab(s, &r.mouse_grab); break;
        case SCENE_TAG_WINDOW_TITLE: ok = scene_read_window_title(s, &r.window_title); break;
        case SCENE_TAG_SCALE_QUALITY: ok = scene_read_scale_quality(s, &r.scale_quality); break;
        case SCENE_TAG_HD_MAX_SCALE: ok = scene_read_hd_max_scale(s, &r.hd_max_scale); break;
        case SCENE_TAG_WINDOW_SIZE: ok = scene_read_window_size(s, &r.window_size); break;
        case SCENE_TAG_WINDOW_POSITION: ok = scene_read_window_position(s, &r.window_position); break;
        default: break;
        }
        if (!ok)
            break;
    }
    return s->read_pos;
}

TEST_F(SceneTest, MutatedScenesNeverReadPastTheirEnd)
{
    scene_build full = build_full_scene();
    // A second, small scene so that mutations also hit short streams.
    threadstream *small = threadstream_allocate();
    scene_write_frame_header(small);
    scene_passes one = {1, 0};
    scene_write_passes(small, &one);
    scene_pass pass = {0, 0, 0, 255, scene_text(nullptr), 1280, 720, 0, 0};
    scene_write_pass(small, &pass);
    scene_solid solid = {0, 0, 10, 10, 255, 0, 0, 255, 1, 0, 0};
    scene_write_solid(small, &solid);
    scene_write_pass_end(small);
    scene_pixel_array px = {scene_text("p"), 1, 1, four_pixels};
    scene_write_pixel_array(small, &px);
    const bytes_t bases[] = {full.bytes, contents(small)};
    threadstream_free(small);

    std::mt19937 rng(20240611u);
    auto pick = [&](size_t n) { return n ? (size_t)(rng() % n) : 0; };
    const Uint32 specials[] = {0xFFFFFFFF, 0xFFFFFFFE, 0x80000000, 0x7FFFFFFF, 0, 1, 2, 4, 7, 8, 9, 14, 21,
                               40, 0x7FFFFFF0, 0x00010000, 0x40000000};
    int failures = 0, clean = 0, stopped = 0;
    for (int iter = 0; iter < 20000; iter++) {
        bytes_t b = bases[iter % 2];
        int mutations = 1 + (int)pick(3);
        for (int m = 0; m < mutations; m++) {
            size_t words_n = b.size() / 4;
            Uint32 v;
            switch (pick(6)) {
            case 0:   // flip one bit
                if (!b.empty())
                    b[pick(b.size())] ^= (Uint8)(1u << pick(8));
                break;
            case 1:   // a length, count or tag set to a hostile value
                if (words_n) {
                    v = specials[pick(sizeof specials / sizeof specials[0])];
                    memcpy(&b[4 * pick(words_n)], &v, 4);
                }
                break;
            case 2:   // a random word
                if (words_n) {
                    v = (Uint32)rng();
                    memcpy(&b[4 * pick(words_n)], &v, 4);
                }
                break;
            case 3:   // truncate
                b.resize(pick(b.size() + 1));
                break;
            case 4:   // drop one word
                if (words_n) {
                    size_t at = 4 * pick(words_n);
                    b.erase(b.begin() + (long)at, b.begin() + (long)at + 4);
                }
                break;
            default:   // duplicate one word
                if (words_n) {
                    size_t at = 4 * pick(words_n);
                    bytes_t w(b.begin() + (long)at, b.begin() + (long)at + 4);
                    b.insert(b.begin() + (long)at, w.begin(), w.end());
                }
                break;
            }
        }
        exact_stream in(b);
        decoded d(&in.s);
        size_t decoded_end = in.s.read_pos;
        int decoded_failed = in.s.failed;
        ASSERT_LE(decoded_end, b.size()) << "iteration " << iter;
        ASSERT_LE((size_t)d.list.count, b.size() / 4) << "iteration " << iter;
        ASSERT_EQ(d.ok, !decoded_failed) << "iteration " << iter;

        size_t walked_end = walk_scene(&in.s);
        ASSERT_EQ(walked_end, decoded_end) << "iteration " << iter;
        ASSERT_EQ(in.s.failed, decoded_failed) << "iteration " << iter;

        failures += !d.ok;
        clean += d.ok && d.list.end == SCENE_END_STREAM;
        stopped += d.ok && d.list.end == SCENE_END_UNKNOWN_TAG;
    }
    // The mutations exercise all three outcomes.
    EXPECT_GT(failures, 1000);
    EXPECT_GT(clean, 100);
    EXPECT_GT(stopped, 100);
}

// ---- refused writes ----

TEST_F(SceneTest, RefusedRecordsWriteNothing)
{
    static Uint8 one_pixel[4] = {1, 2, 3, 4};
    struct {
        const char *name;
        std::function<int(threadstream *)> write;
    } cases[] = {
        {"pixel array of zero width",
         [](threadstream *s) {
             scene_pixel_array r = {scene_text("p"), 0, 1, one_pixel};
             return scene_write_pixel_array(s, &r);
         }},
        {"pixel array of negative height",
         [](threadstream *s) {
             scene_pixel_array r = {scene_text("p"), 1, -1, one_pixel};
             return scene_write_pixel_array(s, &r);
         }},
        {"pixel array whose size wraps 32 bits",
         [](threadstream *s) {
             scene_pixel_array r = {scene_text("p"), 65536, 65536, one_pixel};
             return scene_write_pixel_array(s, &r);
         }},
        {"pixel array larger than a string can be",
         [](threadstream *s) {
             scene_pixel_array r = {scene_text("p"), 32768, 16384, one_pixel};
             return scene_write_pixel_array_space(s, &r) != nullptr;
         }},
        {"pixel array without pixels",
         [](threadstream *s) {
             scene_pixel_array r = {scene_text("p"), 1, 1, nullptr};
             return scene_write_pixel_array(s, &r);
         }},
        {"negative string length",
         [](threadstream *s) {
             scene_sprite r = {};
             r.path.bytes = "pixel";
             r.path.length = -5;
             return scene_write_sprite(s, &r);
         }},
        {"negative string length in the second string",
         [](threadstream *s) {
             scene_label r = {};
             r.text = scene_text("ok");
             r.font.bytes = "f";
             r.font.length = -1;
             return scene_write_label(s, &r);
         }},
        {"negative string length in a later node",
         [](threadstream *s) {
             scene_a11y_node nodes[2] = {};
             nodes[1].a11y_text.bytes = "t";
             nodes[1].a11y_text.length = -3;
             scene_a11y_nodes r = {2, nodes};
             return scene_write_a11y_nodes(s, &r);
         }},
        {"negative pass count",
         [](threadstream *s) {
             scene_passes r = {-1, 0};
             return scene_write_passes(s, &r);
         }},
        {"negative node count",
         [](threadstream *s) {
             scene_a11y_nodes r = {-2, nullptr};
             return scene_write_a11y_nodes(s, &r);
         }},
        {"no record", [](threadstream *s) { return scene_write_solid(s, nullptr); }},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        threadstream *s = threadstream_allocate();
        scene_write_frame_header(s);
        SDL_ClearError();
        EXPECT_FALSE(c.write(s));
        EXPECT_STRNE(SDL_GetError(), "");
        EXPECT_EQ(s->length, 8u);
        EXPECT_EQ(s->failed, 0);
        threadstream_free(s);
    }
}

TEST_F(SceneTest, WritersDoNothingWithoutAStreamOrOnAFailedOne)
{
    scene_solid solid = {};
    EXPECT_FALSE(scene_write_solid(nullptr, &solid));
    EXPECT_FALSE(scene_write_raise_window(nullptr));
    EXPECT_FALSE(scene_write_frame_header(nullptr));

    threadstream *s = threadstream_allocate();
    scene_write_frame_header(s);
    s->failed = 1;
    EXPECT_FALSE(scene_write_solid(s, &solid));
    EXPECT_FALSE(scene_write_pass_end(s));
    scene_window_title title = {scene_text("t")};
    EXPECT_FALSE(scene_write_window_title(s, &title));
    EXPECT_EQ(s->length, 8u);
    threadstream_free(s);
}

TEST_F(SceneTest, PixelArraySpaceIsZeroedAndReadBack)
{
    threadstream *s = threadstream_allocate();
    scene_write_frame_header(s);
    memset(s->data + 8, 0xAB, s->capacity - 8);
    scene_pixel_array r = {scene_text(nullptr), 3, 2, nullptr};
    Uint8 *p = scene_write_pixel_array_space(s, &r);
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 24; i++)
        EXPECT_EQ(p[i], 0) << i;
    p[23] = 0x7F;

    scene_rewind(s);
    scene_frame_header h;
    Sint32 tag;
    scene_pixel_array back;
    ASSERT_TRUE(scene_read_frame_header(s, &h) && scene_read_tag(s, &tag));
    ASSERT_TRUE(scene_read_pixel_array(s, &back));
    EXPECT_EQ(back.name.bytes, nullptr);
    EXPECT_EQ(back.width, 3);
    EXPECT_EQ(back.height, 2);
    EXPECT_EQ(back.pixels, p);
    EXPECT_EQ(back.pixels[23], 0x7F);
    EXPECT_TRUE(threadstream_eos(s));
    threadstream_free(s);
}

}   // namespace
