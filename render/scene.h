// Scene stream records: the byte format of the stream that every simulation
// step hands to the render thread. A scene is an 8-byte frame header
// followed by tagged records; a passes record carries pass blocks, each a
// header, primitive records and an end tag. Writers append one whole record
// (tag included) or nothing; readers take the fields that follow a tag the
// caller has already read, with strings pointing into the stream.
#pragma once

#include <SDL.h>

#include "stream/threadstream.h"

enum scene_tag {
    SCENE_TAG_PADDING = 0,
    SCENE_TAG_SOLID = 1,
    SCENE_TAG_SPRITE = 2,
    SCENE_TAG_LABEL = 3,
    SCENE_TAG_LINE = 4,
    SCENE_TAG_BORDER = 5,
    SCENE_TAG_SCREENSHOT = 6,
    SCENE_TAG_GRID = 7,
    SCENE_TAG_PASSES = 8,
    SCENE_TAG_PASS_END = 9,
    SCENE_TAG_UNLOAD_SPRITE = 10,
    SCENE_TAG_CURSOR_VISIBILITY = 11,
    SCENE_TAG_FULLSCREEN = 12,
    SCENE_TAG_WINDOW_SCALE = 13,
    SCENE_TAG_PIXEL_ARRAY = 14,
    SCENE_TAG_OPEN_URL = 15,
    SCENE_TAG_CURSOR_IMAGE = 16,
    SCENE_TAG_SYSTEM_CURSOR = 17,
    SCENE_TAG_TRIANGLE = 18,
    SCENE_TAG_MOUSE_GRAB = 19,
    SCENE_TAG_WINDOW_TITLE = 20,
    SCENE_TAG_A11Y_NODES = 21,
    SCENE_TAG_MOVE_TO_NEXT_DISPLAY = 22,
    SCENE_TAG_MAXIMIZE_WINDOW = 23,
    SCENE_TAG_TOGGLE_ORIENTATION = 24,
    SCENE_TAG_SCALE_QUALITY = 25,
    SCENE_TAG_HD_MAX_SCALE = 26,
    SCENE_TAG_TOGGLE_HD_LETTERBOX = 27,
    SCENE_TAG_TOGGLE_ORIENTATION_NO_RESIZE = 28,
    SCENE_TAG_WINDOW_SIZE = 29,
    SCENE_TAG_WINDOW_POSITION = 30,
    SCENE_TAG_RAISE_WINDOW = 31,
};

// Fewest bytes a pass block (header with an absent name, plus its end tag)
// and an accessibility node (four absent strings, four floats) can take;
// readers refuse counts that the bytes left cannot hold.
#define SCENE_PASS_MIN_BYTES 40
#define SCENE_A11Y_NODE_MIN_BYTES 32
// Largest pixel payload: a string's length word is a signed 32-bit int.
#define SCENE_PIXELS_MAX_BYTES ((Uint64)SDL_MAX_SINT32)

// A string item. bytes none is the absent string (-1 on the wire, length
// 0). Read strings point into the stream and are NUL-terminated there.
struct scene_string {
    const char *bytes;
    Sint32 length;
};

static inline scene_string scene_text(const char *text)
{
    scene_string str = {text, text ? (Sint32)SDL_strlen(text) : 0};
    return str;
}

struct scene_frame_header {
    Sint32 time_stamp;   // ms since the first hand-off
    Sint32 marker;       // always 1
};

// Reserved fields are not part of the structs: writers put int 0 in their
// slots and readers skip them.

// Solid (tag 1) and border (tag 5).
struct scene_solid {
    float x, y;
    float w, h;
    Sint32 r, g, b, a;
    Sint32 blend;
    float anchor_x, anchor_y;
};
typedef scene_solid scene_border;

struct scene_sprite {
    scene_string path;
    float x, y;
    float w, h;
    float angle;
    Sint32 r, g, b, a;
    float tile_x, tile_y, tile_w, tile_h;
    float source_x, source_y, source_w, source_h;
    Sint32 flip_horizontally, flip_vertically;
    float angle_anchor_x, angle_anchor_y;
    Sint32 blend;
    Sint32 scale_percent;   // the image variant's resolution: 100, 125, ... 400
    float anchor_x, anchor_y;
    Sint32 scale_quality;
};

struct scene_label {
    float x, y;
    scene_string text;
    scene_string font;   // absent: the fallback font
    float size_enum;
    Sint32 alignment;
    Sint32 r, g, b, a;
    Sint32 vertical_alignment;
    Sint32 blend;
    float size_px;       // used when greater than 0
    Sint32 anchor_x_given;
    float anchor_x;
    Sint32 anchor_y_given;
    float anchor_y;
};

struct scene_line {
    float x, y;
    float x2, y2;
    Sint32 r, g, b, a;
    Sint32 blend;
};

struct scene_triangle {
    float x, y;
    float x2, y2;
    float x3, y3;
    Sint32 r, g, b, a;
    scene_string path;
    float source_x, source_y, source_x2, source_y2, source_x3, source_y3;
    Sint32 blend;
    Sint32 scale_percent;
    Sint32 r2, g2, b2, a2;
    Sint32 r3, g3, b3, a3;
};

struct scene_screenshot {
    scene_string path;
    float x, y, w, h;
    Sint32 tolerance;
    Sint32 key_r, key_g, key_b;
    Sint32 alpha;
};

struct scene_grid {
    float origin_x, origin_y;
    Sint32 direction;   // carried for the script side; the reader ignores it
};

struct scene_passes {
    Sint32 count;
    Sint32 capture;   // the last pass is also drawn into the capture target
};

// The header of one pass block.
struct scene_pass {
    Sint32 r, g, b, a;     // background
    scene_string target;   // absent: the default target
    Sint32 width, height;  // canvas units
    Sint32 transient;
    Sint32 clear;
};

struct scene_unload_sprite {
    scene_string path;
};

struct scene_cursor_visibility {
    Sint32 visible;
};

struct scene_fullscreen {
    Sint32 on;
};

struct scene_window_scale {
    float scale;
    Sint32 aspect_width, aspect_height;
};

// width x height pixels, rows from the top, bytes R, G, B, A.
struct scene_pixel_array {
    scene_string name;
    Sint32 width, height;
    const Uint8 *pixels;   // width x height x 4 bytes
};

struct scene_open_url {
    scene_string url;
};

struct scene_cursor_image {
    scene_string path;
    Sint32 hot_x, hot_y;
};

struct scene_system_cursor {
    scene_string name;
};

struct scene_mouse_grab {
    Sint32 mode;   // 0 free, 1 grab window, 2 relative mode
};

struct scene_window_title {
    scene_string title;
};

struct scene_a11y_node {
    scene_string a11y_id;
    scene_string a11y_text;
    scene_string a11y_trait;
    scene_string a11y_notification_target;
    float x, y, w, h;
};

// nodes: the count nodes, or none when they are written or read one by one.
struct scene_a11y_nodes {
    Sint32 count;
    scene_a11y_node *nodes;
};

struct scene_scale_quality {
    Sint32 quality;
};

struct scene_hd_max_scale {
    Sint32 max_scale;
};

struct scene_window_size {
    Sint32 width, height;
};

struct scene_window_position {
    Sint32 x, y;
};

// Writers: append the whole record and return 1, or return 0 and append
// nothing: for a none or failed stream, a string whose length is negative,
// a refused record, or when growing the stream fails (which also marks it
// failed). The reason is in SDL_GetError().
int scene_write_frame_header(threadstream *s);
// Overwrites the time stamp of a stream that holds a frame header.
int scene_write_frame_stamp(threadstream *s, Sint32 ms);

int scene_write_solid(threadstream *s, const scene_solid *in);
int scene_write_border(threadstream *s, const scene_border *in);
int scene_write_sprite(threadstream *s, const scene_sprite *in);
int scene_write_label(threadstream *s, const scene_label *in);
int scene_write_line(threadstream *s, const scene_line *in);
int scene_write_triangle(threadstream *s, const scene_triangle *in);

int scene_write_passes(threadstream *s, const scene_passes *in);   // count >= 0
int scene_write_pass(threadstream *s, const scene_pass *in);
int scene_write_pass_end(threadstream *s);

int scene_write_padding(threadstream *s);
int scene_write_screenshot(threadstream *s, const scene_screenshot *in);
int scene_write_grid(threadstream *s, const scene_grid *in);
int scene_write_unload_sprite(threadstream *s, const scene_unload_sprite *in);
int scene_write_cursor_visibility(threadstream *s, const scene_cursor_visibility *in);
int scene_write_fullscreen(threadstream *s, const scene_fullscreen *in);
int scene_write_window_scale(threadstream *s, const scene_window_scale *in);
// Refused unless width and height are positive, width x height x 4 is at
// most SCENE_PIXELS_MAX_BYTES and pixels is given.
int scene_write_pixel_array(threadstream *s, const scene_pixel_array *in);
// As scene_write_pixel_array (in->pixels is not used), but returns the
// record's zeroed pixel bytes inside the stream for the caller to fill,
// valid until the stream is next written; none when refused.
Uint8 *scene_write_pixel_array_space(threadstream *s, const scene_pixel_array *in);
int scene_write_open_url(threadstream *s, const scene_open_url *in);
int scene_write_cursor_image(threadstream *s, const scene_cursor_image *in);
int scene_write_system_cursor(threadstream *s, const scene_system_cursor *in);
int scene_write_mouse_grab(threadstream *s, const scene_mouse_grab *in);
int scene_write_window_title(threadstream *s, const scene_window_title *in);
// Writes the tag and the count, then the count nodes of in->nodes when it
// is given; otherwise the caller follows with count scene_write_a11y_node.
int scene_write_a11y_nodes(threadstream *s, const scene_a11y_nodes *in);   // count >= 0
int scene_write_a11y_node(threadstream *s, const scene_a11y_node *in);
int scene_write_move_to_next_display(threadstream *s);
int scene_write_maximize_window(threadstream *s);
int scene_write_toggle_orientation(threadstream *s);
int scene_write_scale_quality(threadstream *s, const scene_scale_quality *in);
int scene_write_hd_max_scale(threadstream *s, const scene_hd_max_scale *in);
int scene_write_toggle_hd_letterbox(threadstream *s);
int scene_write_toggle_orientation_no_resize(threadstream *s);
int scene_write_window_size(threadstream *s, const scene_window_size *in);
int scene_write_window_position(threadstream *s, const scene_window_position *in);
int scene_write_raise_window(threadstream *s);

// Tags that may start a top-level record (0, 6, 7, 8, 10 to 17, 19 to 31);
// any other tag ends the scene.
int scene_tag_is_top_level(Sint32 tag);
// Tags read with fields inside a pass block (1 to 5 and 18); other tags
// there, except the end tag, stand alone.
int scene_tag_is_primitive(Sint32 tag);

// Readers. Each returns 1 with *out filled, or 0 with *out zeroed and the
// stream's failed flag set (reason in SDL_GetError()); a stream that has
// already failed reads nothing. Nothing is read past the stream's length.

// Rewinds to the header and forgets an earlier failed read (a stream that
// reaches the reader has never failed while being written).
void scene_rewind(threadstream *s);
int scene_read_frame_header(threadstream *s, scene_frame_header *out);
int scene_read_tag(threadstream *s, Sint32 *tag);

// Fields after the tag.
int scene_read_solid(threadstream *s, scene_solid *out);
int scene_read_border(threadstream *s, scene_border *out);
int scene_read_sprite(threadstream *s, scene_sprite *out);
int scene_read_label(threadstream *s, scene_label *out);
int scene_read_line(threadstream *s, scene_line *out);
int scene_read_triangle(threadstream *s, scene_triangle *out);
// Consumes the fields of a primitive tag (none for a lone tag): for pass
// blocks that are read but not drawn.
int scene_skip_primitive(threadstream *s, Sint32 tag);

// Refuses a count below 0 or above what the bytes left can hold.
int scene_read_passes(threadstream *s, scene_passes *out);
int scene_read_pass(threadstream *s, scene_pass *out);

int scene_read_screenshot(threadstream *s, scene_screenshot *out);
int scene_read_grid(threadstream *s, scene_grid *out);
int scene_read_unload_sprite(threadstream *s, scene_unload_sprite *out);
int scene_read_cursor_visibility(threadstream *s, scene_cursor_visibility *out);
int scene_read_fullscreen(threadstream *s, scene_fullscreen *out);
int scene_read_window_scale(threadstream *s, scene_window_scale *out);
// Refuses what the writer refuses, and a pixel string that is absent or
// not exactly width x height x 4 bytes long.
int scene_read_pixel_array(threadstream *s, scene_pixel_array *out);
int scene_read_open_url(threadstream *s, scene_open_url *out);
int scene_read_cursor_image(threadstream *s, scene_cursor_image *out);
int scene_read_system_cursor(threadstream *s, scene_system_cursor *out);
int scene_read_mouse_grab(threadstream *s, scene_mouse_grab *out);
int scene_read_window_title(threadstream *s, scene_window_title *out);
// Reads the count only (out->nodes stays none); refuses a count below 0 or
// above what the bytes left can hold. The nodes follow.
int scene_read_a11y_nodes(threadstream *s, scene_a11y_nodes *out);
int scene_read_a11y_node(threadstream *s, scene_a11y_node *out);
// Reads the count and the nodes and discards them.
int scene_skip_a11y_nodes(threadstream *s);
int scene_read_scale_quality(threadstream *s, scene_scale_quality *out);
int scene_read_hd_max_scale(threadstream *s, scene_hd_max_scale *out);
int scene_read_window_size(threadstream *s, scene_window_size *out);
int scene_read_window_position(threadstream *s, scene_window_position *out);

// Decoding a whole scene into records with owned copies of every string,
// pixel payload and node list (for tests).
enum scene_record_kind {
    SCENE_RECORD_TOP,         // a top-level record, fields per tag
    SCENE_RECORD_PASS,        // a pass block header (no tag on the wire)
    SCENE_RECORD_PRIMITIVE,   // a primitive inside a pass, fields per tag
    SCENE_RECORD_LONE_TAG,    // a tag inside a pass consumed without fields
    SCENE_RECORD_PASS_END,    // tag 9
};

struct scene_record {
    scene_record_kind kind;
    Sint32 tag;   // the wire tag; 0 for SCENE_RECORD_PASS
    union {
        scene_solid solid;
        scene_border border;
        scene_sprite sprite;
        scene_label label;
        scene_line line;
        scene_triangle triangle;
        scene_pass pass;
        scene_screenshot screenshot;
        scene_grid grid;
        scene_passes passes;
        scene_unload_sprite unload_sprite;
        scene_cursor_visibility cursor_visibility;
        scene_fullscreen fullscreen;
        scene_window_scale window_scale;
        scene_pixel_array pixel_array;
        scene_open_url open_url;
        scene_cursor_image cursor_image;
        scene_system_cursor system_cursor;
        scene_mouse_grab mouse_grab;
        scene_window_title window_title;
        scene_a11y_nodes a11y_nodes;
        scene_scale_quality scale_quality;
        scene_hd_max_scale hd_max_scale;
        scene_window_size window_size;
        scene_window_position window_position;
    };
};

enum scene_end {
    SCENE_END_STREAM,        // read to the end of the stream
    SCENE_END_UNKNOWN_TAG,   // a top-level tag outside the table ended it
    SCENE_END_FAILED,        // a read failed (truncated or malformed)
};

struct scene_record_list {
    scene_frame_header header;
    scene_record *records;
    int count;
    int capacity;
    scene_end end;
    Sint32 stop_tag;   // the tag that ended the scene (SCENE_END_UNKNOWN_TAG)
};

// Decodes the whole stream from its start, as the render thread reads it.
// Returns 0 when a read failed or memory ran out (out holds the records
// before the failure); always release out with scene_record_list_free.
int scene_decode(threadstream *s, scene_record_list *out);
void scene_record_list_free(scene_record_list *list);
