// Scene stream records: writers, readers and a decoder for the byte format
// that carries every frame from the simulation thread to the render thread.
// A writer measures its record, claims the space once and fills it, so a
// refused or failed record leaves the stream as it was. Readers check the
// bytes left before taking a record's fields, bound every count by those
// bytes and mark the stream failed at the first bad item, so a truncated or
// hostile stream can neither loop nor be read past its length. Depends on
// the thread streams and SDL's allocator.
#include "render/scene.h"

#include <string.h>

// ---- writing ----

struct scene_out {
    threadstream *s;
    Uint8 *p;
};

// Upper bound of a string item: length word, bytes, NUL and padding.
static size_t string_space(const scene_string *str)
{
    return str->bytes ? 8 + (size_t)str->length : 4;
}

static int string_valid(const scene_string *str)
{
    if (str->bytes && str->length < 0) {
        SDL_SetError("Scene string with negative length %d", (int)str->length);
        return 0;
    }
    return 1;
}

static int out_begin(scene_out *o, threadstream *s, const void *in, size_t most)
{
    if (!s) {
        SDL_InvalidParamError("stream");
        return 0;
    }
    if (!in) {
        SDL_InvalidParamError("record");
        return 0;
    }
    if (s->failed) {
        SDL_SetError("Scene stream has failed");
        return 0;
    }
    if (!threadstream_claim_space(s, most))
        return 0;
    o->s = s;
    o->p = s->data + s->length;
    return 1;
}

static void out_int(scene_out *o, Sint32 v)
{
    memcpy(o->p, &v, 4);
    o->p += 4;
}

static void out_float(scene_out *o, float v)
{
    memcpy(o->p, &v, 4);
    o->p += 4;
}

// Padding is counted from the stream start and zeroed, so equal scenes are
// equal bytes.
static void out_string(scene_out *o, const scene_string *str)
{
    if (!str->bytes) {
        out_int(o, -1);
        return;
    }
    size_t n = (size_t)str->length;
    out_int(o, str->length);
    if (n)
        memcpy(o->p, str->bytes, n);
    size_t at = (size_t)(o->p - o->s->data) + n;
    size_t end = (at + 4) & ~(size_t)3;
    memset(o->p + n, 0, end - at);
    o->p = o->s->data + end;
}

static int out_end(scene_out *o)
{
    o->s->length = (size_t)(o->p - o->s->data);
    return 1;
}

static int write_tag_only(threadstream *s, Sint32 tag)
{
    scene_out o;
    if (!out_begin(&o, s, s, 4))
        return 0;
    out_int(&o, tag);
    return out_end(&o);
}

static int write_two_ints(threadstream *s, const void *in, Sint32 tag, Sint32 a, Sint32 b)
{
    scene_out o;
    if (!out_begin(&o, s, in, 12))
        return 0;
    out_int(&o, tag);
    out_int(&o, a);
    out_int(&o, b);
    return out_end(&o);
}

static int write_one_int(threadstream *s, const void *in, Sint32 tag, Sint32 v)
{
    scene_out o;
    if (!out_begin(&o, s, in, 8))
        return 0;
    out_int(&o, tag);
    out_int(&o, v);
    return out_end(&o);
}

static int write_one_string(threadstream *s, Sint32 tag, const scene_string *str)
{
    scene_out o;
    if (!string_valid(str) || !out_begin(&o, s, str, 4 + string_space(str)))
        return 0;
    out_int(&o, tag);
    out_string(&o, str);
    return out_end(&o);
}

int scene_write_frame_header(threadstream *s)
{
    scene_out o;
    if (!out_begin(&o, s, s, 8))
        return 0;
    out_int(&o, 0);
    out_int(&o, 1);
    return out_end(&o);
}

int scene_write_frame_stamp(threadstream *s, Sint32 ms)
{
    if (!s || s->length < 8) {
        SDL_SetError("Scene stream has no frame header");
        return 0;
    }
    memcpy(s->data, &ms, 4);
    return 1;
}

static int write_rect(threadstream *s, Sint32 tag, const scene_solid *in)
{
    scene_out o;
    if (!out_begin(&o, s, in, 52))
        return 0;
    out_int(&o, tag);
    out_float(&o, in->x);
    out_float(&o, in->y);
    out_int(&o, 0);
    out_float(&o, in->w);
    out_float(&o, in->h);
    out_int(&o, in->r);
    out_int(&o, in->g);
    out_int(&o, in->b);
    out_int(&o, in->a);
    out_int(&o, in->blend);
    out_float(&o, in->anchor_x);
    out_float(&o, in->anchor_y);
    return out_end(&o);
}

int scene_write_solid(threadstream *s, const scene_solid *in)
{
    return write_rect(s, SCENE_TAG_SOLID, in);
}

int scene_write_border(threadstream *s, const scene_border *in)
{
    return write_rect(s, SCENE_TAG_BORDER, in);
}

int scene_write_sprite(threadstream *s, const scene_sprite *in)
{
    scene_out o;
    if (!in) {
        SDL_InvalidParamError("record");
        return 0;
    }
    if (!string_valid(&in->path) || !out_begin(&o, s, in, 4 + string_space(&in->path) + 116))
        return 0;
    out_int(&o, SCENE_TAG_SPRITE);
    out_string(&o, &in->path);
    out_float(&o, in->x);
    out_float(&o, in->y);
    out_int(&o, 0);
    out_float(&o, in->w);
    out_float(&o, in->h);
    out_int(&o, 0);
    out_int(&o, 0);
    out_float(&o, in->angle);
    out_int(&o, in->r);
    out_int(&o, in->g);
    out_int(&o, in->b);
    out_int(&o, in->a);
    out_float(&o, in->tile_x);
    out_float(&o, in->tile_y);
    out_float(&o, in->tile_w);
    out_float(&o, in->tile_h);
    out_float(&o, in->source_x);
    out_float(&o, in->source_y);
    out_float(&o, in->source_w);
    out_float(&o, in->source_h);
    out_int(&o, in->flip_horizontally);
    out_int(&o, in->flip_vertically);
    out_float(&o, in->angle_anchor_x);
    out_float(&o, in->angle_anchor_y);
    out_int(&o, in->blend);
    out_int(&o, in->scale_percent);
    out_float(&o, in->anchor_x);
    out_float(&o, in->anchor_y);
    out_int(&o, in->scale_quality);
    return out_end(&o);
}

int scene_write_label(threadstream *s, const scene_label *in)
{
    scene_out o;
    if (!in) {
        SDL_InvalidParamError("record");
        return 0;
    }
    if (!string_valid(&in->text) || !string_valid(&in->font))
        return 0;
    if (!out_begin(&o, s, in, 16 + string_space(&in->text) + string_space(&in->font) + 52))
        return 0;
    out_int(&o, SCENE_TAG_LABEL);
    out_float(&o, in->x);
    out_float(&o, in->y);
    out_int(&o, 0);
    out_string(&o, &in->text);
    out_string(&o, &in->font);
    out_float(&o, in->size_enum);
    out_int(&o, in->alignment);
    out_int(&o, in->r);
    out_int(&o, in->g);
    out_int(&o, in->b);
    out_int(&o, in->a);
    out_int(&o, in->vertical_alignment);
    out_int(&o, in->blend);
    out_float(&o, in->size_px);
    out_int(&o, in->anchor_x_given);
    out_float(&o, in->anchor_x);
    out_int(&o, in->anchor_y_given);
    out_float(&o, in->anchor_y);
    return out_end(&o);
}

int scene_write_line(threadstream *s, const scene_line *in)
{
    scene_out o;
    if (!out_begin(&o, s, in, 44))
        return 0;
    out_int(&o, SCENE_TAG_LINE);
    out_float(&o, in->x);
    out_float(&o, in->y);
    out_int(&o, 0);
    out_float(&o, in->x2);
    out_float(&o, in->y2);
    out_int(&o, in->r);
    out_int(&o, in->g);
    out_int(&o, in->b);
    out_int(&o, in->a);
    out_int(&o, in->blend);
    return out_end(&o);
}

int scene_write_triangle(threadstream *s, const scene_triangle *in)
{
    scene_out o;
    if (!in) {
        SDL_InvalidParamError("record");
        return 0;
    }
    if (!string_valid(&in->path) || !out_begin(&o, s, in, 4 + 52 + string_space(&in->path) + 64))
        return 0;
    out_int(&o, SCENE_TAG_TRIANGLE);
    out_float(&o, in->x);
    out_float(&o, in->y);
    out_int(&o, 0);
    out_float(&o, in->x2);
    out_float(&o, in->y2);
    out_int(&o, 0);
    out_float(&o, in->x3);
    out_float(&o, in->y3);
    out_int(&o, 0);
    out_int(&o, in->r);
    out_int(&o, in->g);
    out_int(&o, in->b);
    out_int(&o, in->a);
    out_string(&o, &in->path);
    out_float(&o, in->source_x);
    out_float(&o, in->source_y);
    out_float(&o, in->source_x2);
    out_float(&o, in->source_y2);
    out_float(&o, in->source_x3);
    out_float(&o, in->source_y3);
    out_int(&o, in->blend);
    out_int(&o, in->scale_percent);
    out_int(&o, in->r2);
    out_int(&o, in->g2);
    out_int(&o, in->b2);
    out_int(&o, in->a2);
    out_int(&o, in->r3);
    out_int(&o, in->g3);
    out_int(&o, in->b3);
    out_int(&o, in->a3);
    return out_end(&o);
}

int scene_write_passes(threadstream *s, const scene_passes *in)
{
    if (in && in->count < 0) {
        SDL_SetError("Scene passes record with %d passes", (int)in->count);
        return 0;
    }
    return write_two_ints(s, in, SCENE_TAG_PASSES, in ? in->count : 0, in ? in->capture : 0);
}

int scene_write_pass(threadstream *s, const scene_pass *in)
{
    scene_out o;
    if (!in) {
        SDL_InvalidParamError("record");
        return 0;
    }
    if (!string_valid(&in->target) || !out_begin(&o, s, in, 32 + string_space(&in->target)))
        return 0;
    out_int(&o, in->r);
    out_int(&o, in->g);
    out_int(&o, in->b);
    out_int(&o, in->a);
    out_string(&o, &in->target);
    out_int(&o, in->width);
    out_int(&o, in->height);
    out_int(&o, in->transient);
    out_int(&o, in->clear);
    return out_end(&o);
}

int scene_write_pass_end(threadstream *s)
{
    return write_tag_only(s, SCENE_TAG_PASS_END);
}

int scene_write_padding(threadstream *s)
{
    return write_tag_only(s, SCENE_TAG_PADDING);
}

int scene_write_screenshot(threadstream *s, const scene_screenshot *in)
{
    scene_out o;
    if (!in) {
        SDL_InvalidParamError("record");
        return 0;
    }
    if (!string_valid(&in->path) || !out_begin(&o, s, in, 4 + string_space(&in->path) + 36))
        return 0;
    out_int(&o, SCENE_TAG_SCREENSHOT);
    out_string(&o, &in->path);
    out_float(&o, in->x);
    out_float(&o, in->y);
    out_float(&o, in->w);
    out_float(&o, in->h);
    out_int(&o, in->tolerance);
    out_int(&o, in->key_r);
    out_int(&o, in->key_g);
    out_int(&o, in->key_b);
    out_int(&o, in->alpha);
    return out_end(&o);
}

int scene_write_grid(threadstream *s, const scene_grid *in)
{
    scene_out o;
    if (!out_begin(&o, s, in, 16))
        return 0;
    out_int(&o, SCENE_TAG_GRID);
    out_float(&o, in->origin_x);
    out_float(&o, in->origin_y);
    out_int(&o, in->direction);
    return out_end(&o);
}

int scene_write_unload_sprite(threadstream *s, const scene_unload_sprite *in)
{
    if (!in) {
        SDL_InvalidParamError("record");
        return 0;
    }
    return write_one_string(s, SCENE_TAG_UNLOAD_SPRITE, &in->path);
}

int scene_write_cursor_visibility(threadstream *s, const scene_cursor_visibility *in)
{
    return write_one_int(s, in, SCENE_TAG_CURSOR_VISIBILITY, in ? in->visible : 0);
}

int scene_write_fullscreen(threadstream *s, const scene_fullscreen *in)
{
    return write_one_int(s, in, SCENE_TAG_FULLSCREEN, in ? in->on : 0);
}

int scene_write_window_scale(threadstream *s, const scene_window_scale *in)
{
    scene_out o;
    if (!out_begin(&o, s, in, 16))
        return 0;
    out_int(&o, SCENE_TAG_WINDOW_SCALE);
    out_float(&o, in->scale);
    out_int(&o, in->aspect_width);
    out_int(&o, in->aspect_height);
    return out_end(&o);
}

static int pixel_size(Sint32 width, Sint32 height, size_t *bytes)
{
    if (width <= 0 || height <= 0) {
        SDL_SetError("Pixel array of %d x %d pixels", (int)width, (int)height);
        return 0;
    }
    Uint64 n = (Uint64)width * (Uint64)height * 4;
    if (n > SCENE_PIXELS_MAX_BYTES) {
        SDL_SetError("Pixel array of %d x %d pixels is too large", (int)width, (int)height);
        return 0;
    }
    *bytes = (size_t)n;
    return 1;
}

// Writes the record with its payload left for the caller; returns the
// payload's place in the stream.
static Uint8 *write_pixel_array(threadstream *s, const scene_pixel_array *in)
{
    scene_out o;
    size_t n;
    if (!in) {
        SDL_InvalidParamError("record");
        return NULL;
    }
    if (!string_valid(&in->name) || !pixel_size(in->width, in->height, &n))
        return NULL;
    if (!out_begin(&o, s, in, 4 + string_space(&in->name) + 8 + 8 + n))
        return NULL;
    out_int(&o, SCENE_TAG_PIXEL_ARRAY);
    out_string(&o, &in->name);
    out_int(&o, in->width);
    out_int(&o, in->height);
    out_int(&o, (Sint32)n);
    Uint8 *pixels = o.p;
    size_t at = (size_t)(pixels - s->data) + n;
    size_t end = (at + 4) & ~(size_t)3;
    memset(pixels + n, 0, end - at);
    o.p = s->data + end;
    out_end(&o);
    return pixels;
}

int scene_write_pixel_array(threadstream *s, const scene_pixel_array *in)
{
    if (in && !in->pixels) {
        SDL_SetError("Pixel array without pixels");
        return 0;
    }
    Uint8 *pixels = write_pixel_array(s, in);
    if (!pixels)
        return 0;
    memcpy(pixels, in->pixels, (size_t)in->width * (size_t)in->height * 4);
    return 1;
}

Uint8 *scene_write_pixel_array_space(threadstream *s, const scene_pixel_array *in)
{
    Uint8 *pixels = write_pixel_array(s, in);
    if (pixels)
        memset(pixels, 0, (size_t)in->width * (size_t)in->height * 4);
    return pixels;
}

int scene_write_open_url(threadstream *s, const scene_open_url *in)
{
    if (!in) {
        SDL_InvalidParamError("record");
        return 0;
    }
    return write_one_string(s, SCENE_TAG_OPEN_URL, &in->url);
}

int scene_write_cursor_image(threadstream *s, const scene_cursor_image *in)
{
    scene_out o;
    if (!in) {
        SDL_InvalidParamError("record");
        return 0;
    }
    if (!string_valid(&in->path) || !out_begin(&o, s, in, 4 + string_space(&in->path) + 8))
        return 0;
    out_int(&o, SCENE_TAG_CURSOR_IMAGE);
    out_string(&o, &in->path);
    out_int(&o, in->hot_x);
    out_int(&o, in->hot_y);
    return out_end(&o);
}

int scene_write_system_cursor(threadstream *s, const scene_system_cursor *in)
{
    if (!in) {
        SDL_InvalidParamError("record");
        return 0;
    }
    return write_one_string(s, SCENE_TAG_SYSTEM_CURSOR, &in->name);
}

int scene_write_mouse_grab(threadstream *s, const scene_mouse_grab *in)
{
    return write_one_int(s, in, SCENE_TAG_MOUSE_GRAB, in ? in->mode : 0);
}

int scene_write_window_title(threadstream *s, const scene_window_title *in)
{
    if (!in) {
        SDL_InvalidParamError("record");
        return 0;
    }
    return write_one_string(s, SCENE_TAG_WINDOW_TITLE, &in->title);
}

static int a11y_node_valid(const scene_a11y_node *in)
{
    return string_valid(&in->a11y_id) && string_valid(&in->a11y_text) && string_valid(&in->a11y_trait) &&
           string_valid(&in->a11y_notification_target);
}

static size_t a11y_node_space(const scene_a11y_node *in)
{
    return string_space(&in->a11y_id) + string_space(&in->a11y_text) + string_space(&in->a11y_trait) +
           string_space(&in->a11y_notification_target) + 16;
}

static void out_a11y_node(scene_out *o, const scene_a11y_node *in)
{
    out_string(o, &in->a11y_id);
    out_string(o, &in->a11y_text);
    out_string(o, &in->a11y_trait);
    out_string(o, &in->a11y_notification_target);
    out_float(o, in->x);
    out_float(o, in->y);
    out_float(o, in->w);
    out_float(o, in->h);
}

int scene_write_a11y_nodes(threadstream *s, const scene_a11y_nodes *in)
{
    scene_out o;
    if (!in) {
        SDL_InvalidParamError("record");
        return 0;
    }
    if (in->count < 0) {
        SDL_SetError("Accessibility record with %d nodes", (int)in->count);
        return 0;
    }
    size_t space = 8;
    if (in->nodes) {
        for (Sint32 i = 0; i < in->count; i++) {
            if (!a11y_node_valid(&in->nodes[i]))
                return 0;
            space += a11y_node_space(&in->nodes[i]);
        }
    }
    if (!out_begin(&o, s, in, space))
        return 0;
    out_int(&o, SCENE_TAG_A11Y_NODES);
    out_int(&o, in->count);
    if (in->nodes) {
        for (Sint32 i = 0; i < in->count; i++)
            out_a11y_node(&o, &in->nodes[i]);
    }
    return out_end(&o);
}

int scene_write_a11y_node(threadstream *s, const scene_a11y_node *in)
{
    scene_out o;
    if (!in) {
        SDL_InvalidParamError("record");
        return 0;
    }
    if (!a11y_node_valid(in) || !out_begin(&o, s, in, a11y_node_space(in)))
        return 0;
    out_a11y_node(&o, in);
    return out_end(&o);
}

int scene_write_move_to_next_display(threadstream *s)
{
    return write_tag_only(s, SCENE_TAG_MOVE_TO_NEXT_DISPLAY);
}

int scene_write_maximize_window(threadstream *s)
{
    return write_tag_only(s, SCENE_TAG_MAXIMIZE_WINDOW);
}

int scene_write_toggle_orientation(threadstream *s)
{
    return write_tag_only(s, SCENE_TAG_TOGGLE_ORIENTATION);
}

int scene_write_scale_quality(threadstream *s, const scene_scale_quality *in)
{
    return write_one_int(s, in, SCENE_TAG_SCALE_QUALITY, in ? in->quality : 0);
}

int scene_write_hd_max_scale(threadstream *s, const scene_hd_max_scale *in)
{
    return write_one_int(s, in, SCENE_TAG_HD_MAX_SCALE, in ? in->max_scale : 0);
}

int scene_write_toggle_hd_letterbox(threadstream *s)
{
    return write_tag_only(s, SCENE_TAG_TOGGLE_HD_LETTERBOX);
}

int scene_write_toggle_orientation_no_resize(threadstream *s)
{
    return write_tag_only(s, SCENE_TAG_TOGGLE_ORIENTATION_NO_RESIZE);
}

int scene_write_window_size(threadstream *s, const scene_window_size *in)
{
    return write_two_ints(s, in, SCENE_TAG_WINDOW_SIZE, in ? in->width : 0, in ? in->height : 0);
}

int scene_write_window_position(threadstream *s, const scene_window_position *in)
{
    return write_two_ints(s, in, SCENE_TAG_WINDOW_POSITION, in ? in->x : 0, in ? in->y : 0);
}

int scene_write_raise_window(threadstream *s)
{
    return write_tag_only(s, SCENE_TAG_RAISE_WINDOW);
}

// ---- reading ----

int scene_tag_is_top_level(Sint32 tag)
{
    return tag == SCENE_TAG_PADDING || tag == SCENE_TAG_SCREENSHOT || tag == SCENE_TAG_GRID ||
           tag == SCENE_TAG_PASSES || (tag >= SCENE_TAG_UNLOAD_SPRITE && tag <= SCENE_TAG_RAISE_WINDOW &&
                                       tag != SCENE_TAG_TRIANGLE);
}

int scene_tag_is_primitive(Sint32 tag)
{
    return (tag >= SCENE_TAG_SOLID && tag <= SCENE_TAG_BORDER) || tag == SCENE_TAG_TRIANGLE;
}

struct scene_in {
    const Uint8 *p;
};

static size_t bytes_left(const threadstream *s)
{
    return s->read_pos < s->length ? s->length - s->read_pos : 0;
}

static int read_fail(threadstream *s, const char *why)
{
    s->failed = 1;
    SDL_SetError("Scene stream: %s", why);
    return 0;
}

static int in_ok(threadstream *s)
{
    if (!s) {
        SDL_InvalidParamError("stream");
        return 0;
    }
    if (s->failed) {
        SDL_SetError("Scene stream has failed");
        return 0;
    }
    return 1;
}

static int in_take(threadstream *s, size_t n, scene_in *in)
{
    if (!in_ok(s))
        return 0;
    if (bytes_left(s) < n)
        return read_fail(s, "ends inside a record");
    in->p = s->data + s->read_pos;
    s->read_pos += n;
    return 1;
}

static Sint32 in_int(scene_in *in)
{
    Sint32 v;
    memcpy(&v, in->p, 4);
    in->p += 4;
    return v;
}

static float in_float(scene_in *in)
{
    float v;
    memcpy(&v, in->p, 4);
    in->p += 4;
    return v;
}

static void in_skip(scene_in *in)
{
    in->p += 4;
}

// The stream's own unpacking rejects negative lengths other than -1 and
// strings whose bytes and NUL do not fit; the padding must fit as well, so
// that a stream cut inside a string's padding counts as truncated.
static int in_string(threadstream *s, scene_string *out)
{
    if (!in_ok(s))
        return 0;
    size_t start = s->read_pos;
    Sint32 len = 0;
    const char *bytes = (const char *)threadstream_unpack_buffer(s, &len);
    if (s->failed)
        return read_fail(s, "malformed string");
    if (bytes && (((start + 4 + (size_t)len + 4) & ~(size_t)3) > s->length))
        return read_fail(s, "ends inside a string's padding");
    out->bytes = bytes;
    out->length = bytes ? len : 0;
    return 1;
}

void scene_rewind(threadstream *s)
{
    if (s) {
        s->read_pos = 0;
        s->failed = 0;
    }
}

int scene_read_frame_header(threadstream *s, scene_frame_header *out)
{
    scene_in in;
    SDL_zerop(out);
    if (!in_take(s, 8, &in))
        return 0;
    out->time_stamp = in_int(&in);
    out->marker = in_int(&in);
    return 1;
}

int scene_read_tag(threadstream *s, Sint32 *tag)
{
    scene_in in;
    *tag = 0;
    if (!in_take(s, 4, &in))
        return 0;
    *tag = in_int(&in);
    return 1;
}

static int read_rect(threadstream *s, scene_solid *out)
{
    scene_in in;
    SDL_zerop(out);
    if (!in_take(s, 48, &in))
        return 0;
    out->x = in_float(&in);
    out->y = in_float(&in);
    in_skip(&in);
    out->w = in_float(&in);
    out->h = in_float(&in);
    out->r = in_int(&in);
    out->g = in_int(&in);
    out->b = in_int(&in);
    out->a = in_int(&in);
    out->blend = in_int(&in);
    out->anchor_x = in_float(&in);
    out->anchor_y = in_float(&in);
    return 1;
}

int scene_read_solid(threadstream *s, scene_solid *out)
{
    return read_rect(s, out);
}

int scene_read_border(threadstream *s, scene_border *out)
{
    return read_rect(s, out);
}

int scene_read_sprite(threadstream *s, scene_sprite *out)
{
    scene_in in;
    SDL_zerop(out);
    if (!in_string(s, &out->path) || !in_take(s, 116, &in)) {
        SDL_zerop(out);
        return 0;
    }
    out->x = in_float(&in);
    out->y = in_float(&in);
    in_skip(&in);
    out->w = in_float(&in);
    out->h = in_float(&in);
    in_skip(&in);
    in_skip(&in);
    out->angle = in_float(&in);
    out->r = in_int(&in);
    out->g = in_int(&in);
    out->b = in_int(&in);
    out->a = in_int(&in);
    out->tile_x = in_float(&in);
    out->tile_y = in_float(&in);
    out->tile_w = in_float(&in);
    out->tile_h = in_float(&in);
    out->source_x = in_float(&in);
    out->source_y = in_float(&in);
    out->source_w = in_float(&in);
    out->source_h = in_float(&in);
    out->flip_horizontally = in_int(&in);
    out->flip_vertically = in_int(&in);
    out->angle_anchor_x = in_float(&in);
    out->angle_anchor_y = in_float(&in);
    out->blend = in_int(&in);
    out->scale_percent = in_int(&in);
    out->anchor_x = in_float(&in);
    out->anchor_y = in_float(&in);
    out->scale_quality = in_int(&in);
    return 1;
}

int scene_read_label(threadstream *s, scene_label *out)
{
    scene_in in;
    SDL_zerop(out);
    if (!in_take(s, 12, &in))
        return 0;
    out->x = in_float(&in);
    out->y = in_float(&in);
    if (!in_string(s, &out->text) || !in_string(s, &out->font) || !in_take(s, 52, &in)) {
        SDL_zerop(out);
        return 0;
    }
    out->size_enum = in_float(&in);
    out->alignment = in_int(&in);
    out->r = in_int(&in);
    out->g = in_int(&in);
    out->b = in_int(&in);
    out->a = in_int(&in);
    out->vertical_alignment = in_int(&in);
    out->blend = in_int(&in);
    out->size_px = in_float(&in);
    out->anchor_x_given = in_int(&in);
    out->anchor_x = in_float(&in);
    out->anchor_y_given = in_int(&in);
    out->anchor_y = in_float(&in);
    return 1;
}

int scene_read_line(threadstream *s, scene_line *out)
{
    scene_in in;
    SDL_zerop(out);
    if (!in_take(s, 40, &in))
        return 0;
    out->x = in_float(&in);
    out->y = in_float(&in);
    in_skip(&in);
    out->x2 = in_float(&in);
    out->y2 = in_float(&in);
    out->r = in_int(&in);
    out->g = in_int(&in);
    out->b = in_int(&in);
    out->a = in_int(&in);
    out->blend = in_int(&in);
    return 1;
}

int scene_read_triangle(threadstream *s, scene_triangle *out)
{
    scene_in in;
    SDL_zerop(out);
    if (!in_take(s, 52, &in))
        return 0;
    out->x = in_float(&in);
    out->y = in_float(&in);
    in_skip(&in);
    out->x2 = in_float(&in);
    out->y2 = in_float(&in);
    in_skip(&in);
    out->x3 = in_float(&in);
    out->y3 = in_float(&in);
    in_skip(&in);
    out->r = in_int(&in);
    out->g = in_int(&in);
    out->b = in_int(&in);
    out->a = in_int(&in);
    if (!in_string(s, &out->path) || !in_take(s, 64, &in)) {
        SDL_zerop(out);
        return 0;
    }
    out->source_x = in_float(&in);
    out->source_y = in_float(&in);
    out->source_x2 = in_float(&in);
    out->source_y2 = in_float(&in);
    out->source_x3 = in_float(&in);
    out->source_y3 = in_float(&in);
    out->blend = in_int(&in);
    out->scale_percent = in_int(&in);
    out->r2 = in_int(&in);
    out->g2 = in_int(&in);
    out->b2 = in_int(&in);
    out->a2 = in_int(&in);
    out->r3 = in_int(&in);
    out->g3 = in_int(&in);
    out->b3 = in_int(&in);
    out->a3 = in_int(&in);
    return 1;
}

int scene_skip_primitive(threadstream *s, Sint32 tag)
{
    switch (tag) {
    case SCENE_TAG_SOLID:
    case SCENE_TAG_BORDER: {
        scene_solid r;
        return read_rect(s, &r);
    }
    case SCENE_TAG_SPRITE: {
        scene_sprite r;
        return scene_read_sprite(s, &r);
    }
    case SCENE_TAG_LABEL: {
        scene_label r;
        return scene_read_label(s, &r);
    }
    case SCENE_TAG_LINE: {
        scene_line r;
        return scene_read_line(s, &r);
    }
    case SCENE_TAG_TRIANGLE: {
        scene_triangle r;
        return scene_read_triangle(s, &r);
    }
    default:
        return in_ok(s);
    }
}

int scene_read_passes(threadstream *s, scene_passes *out)
{
    scene_in in;
    SDL_zerop(out);
    if (!in_take(s, 8, &in))
        return 0;
    Sint32 count = in_int(&in);
    Sint32 capture = in_int(&in);
    if (count < 0 || (size_t)count > bytes_left(s) / SCENE_PASS_MIN_BYTES)
        return read_fail(s, "more passes than bytes");
    out->count = count;
    out->capture = capture;
    return 1;
}

int scene_read_pass(threadstream *s, scene_pass *out)
{
    scene_in in;
    SDL_zerop(out);
    if (!in_take(s, 16, &in))
        return 0;
    out->r = in_int(&in);
    out->g = in_int(&in);
    out->b = in_int(&in);
    out->a = in_int(&in);
    if (!in_string(s, &out->target) || !in_take(s, 16, &in)) {
        SDL_zerop(out);
        return 0;
    }
    out->width = in_int(&in);
    out->height = in_int(&in);
    out->transient = in_int(&in);
    out->clear = in_int(&in);
    return 1;
}

int scene_read_screenshot(threadstream *s, scene_screenshot *out)
{
    scene_in in;
    SDL_zerop(out);
    if (!in_string(s, &out->path) || !in_take(s, 36, &in)) {
        SDL_zerop(out);
        return 0;
    }
    out->x = in_float(&in);
    out->y = in_float(&in);
    out->w = in_float(&in);
    out->h = in_float(&in);
    out->tolerance = in_int(&in);
    out->key_r = in_int(&in);
    out->key_g = in_int(&in);
    out->key_b = in_int(&in);
    out->alpha = in_int(&in);
    return 1;
}

int scene_read_grid(threadstream *s, scene_grid *out)
{
    scene_in in;
    SDL_zerop(out);
    if (!in_take(s, 12, &in))
        return 0;
    out->origin_x = in_float(&in);
    out->origin_y = in_float(&in);
    out->direction = in_int(&in);
    return 1;
}

static int read_one_string(threadstream *s, scene_string *out)
{
    SDL_zerop(out);
    if (!in_string(s, out)) {
        SDL_zerop(out);
        return 0;
    }
    return 1;
}

static int read_ints(threadstream *s, Sint32 *out, int n)
{
    scene_in in;
    for (int i = 0; i < n; i++)
        out[i] = 0;
    if (!in_take(s, (size_t)n * 4, &in))
        return 0;
    for (int i = 0; i < n; i++)
        out[i] = in_int(&in);
    return 1;
}

int scene_read_unload_sprite(threadstream *s, scene_unload_sprite *out)
{
    return read_one_string(s, &out->path);
}

int scene_read_cursor_visibility(threadstream *s, scene_cursor_visibility *out)
{
    return read_ints(s, &out->visible, 1);
}

int scene_read_fullscreen(threadstream *s, scene_fullscreen *out)
{
    return read_ints(s, &out->on, 1);
}

int scene_read_window_scale(threadstream *s, scene_window_scale *out)
{
    scene_in in;
    SDL_zerop(out);
    if (!in_take(s, 12, &in))
        return 0;
    out->scale = in_float(&in);
    out->aspect_width = in_int(&in);
    out->aspect_height = in_int(&in);
    return 1;
}

int scene_read_pixel_array(threadstream *s, scene_pixel_array *out)
{
    scene_in in;
    scene_string pixels;
    size_t n;
    SDL_zerop(out);
    if (!in_string(s, &out->name) || !in_take(s, 8, &in)) {
        SDL_zerop(out);
        return 0;
    }
    Sint32 width = in_int(&in);
    Sint32 height = in_int(&in);
    if (!pixel_size(width, height, &n)) {
        SDL_zerop(out);
        s->failed = 1;
        return 0;
    }
    if (!in_string(s, &pixels)) {
        SDL_zerop(out);
        return 0;
    }
    if (!pixels.bytes || (size_t)pixels.length != n) {
        SDL_zerop(out);
        return read_fail(s, "pixel array size does not match its pixels");
    }
    out->width = width;
    out->height = height;
    out->pixels = (const Uint8 *)pixels.bytes;
    return 1;
}

int scene_read_open_url(threadstream *s, scene_open_url *out)
{
    return read_one_string(s, &out->url);
}

int scene_read_cursor_image(threadstream *s, scene_cursor_image *out)
{
    scene_in in;
    SDL_zerop(out);
    if (!in_string(s, &out->path) || !in_take(s, 8, &in)) {
        SDL_zerop(out);
        return 0;
    }
    out->hot_x = in_int(&in);
    out->hot_y = in_int(&in);
    return 1;
}

int scene_read_system_cursor(threadstream *s, scene_system_cursor *out)
{
    return read_one_string(s, &out->name);
}

int scene_read_mouse_grab(threadstream *s, scene_mouse_grab *out)
{
    return read_ints(s, &out->mode, 1);
}

int scene_read_window_title(threadstream *s, scene_window_title *out)
{
    return read_one_string(s, &out->title);
}

int scene_read_a11y_nodes(threadstream *s, scene_a11y_nodes *out)
{
    scene_in in;
    SDL_zerop(out);
    if (!in_take(s, 4, &in))
        return 0;
    Sint32 count = in_int(&in);
    if (count < 0 || (size_t)count > bytes_left(s) / SCENE_A11Y_NODE_MIN_BYTES)
        return read_fail(s, "more accessibility nodes than bytes");
    out->count = count;
    return 1;
}

int scene_read_a11y_node(threadstream *s, scene_a11y_node *out)
{
    scene_in in;
    SDL_zerop(out);
    if (!in_string(s, &out->a11y_id) || !in_string(s, &out->a11y_text) || !in_string(s, &out->a11y_trait) ||
        !in_string(s, &out->a11y_notification_target) || !in_take(s, 16, &in)) {
        SDL_zerop(out);
        return 0;
    }
    out->x = in_float(&in);
    out->y = in_float(&in);
    out->w = in_float(&in);
    out->h = in_float(&in);
    return 1;
}

int scene_skip_a11y_nodes(threadstream *s)
{
    scene_a11y_nodes list;
    scene_a11y_node node;
    if (!scene_read_a11y_nodes(s, &list))
        return 0;
    for (Sint32 i = 0; i < list.count; i++) {
        if (!scene_read_a11y_node(s, &node))
            return 0;
    }
    return 1;
}

int scene_read_scale_quality(threadstream *s, scene_scale_quality *out)
{
    return read_ints(s, &out->quality, 1);
}

int scene_read_hd_max_scale(threadstream *s, scene_hd_max_scale *out)
{
    return read_ints(s, &out->max_scale, 1);
}

int scene_read_window_size(threadstream *s, scene_window_size *out)
{
    scene_in in;
    SDL_zerop(out);
    if (!in_take(s, 8, &in))
        return 0;
    out->width = in_int(&in);
    out->height = in_int(&in);
    return 1;
}

int scene_read_window_position(threadstream *s, scene_window_position *out)
{
    scene_in in;
    SDL_zerop(out);
    if (!in_take(s, 8, &in))
        return 0;
    out->x = in_int(&in);
    out->y = in_int(&in);
    return 1;
}

// ---- decoding ----

// The string fields of a record, for copying and freeing.
static int record_strings(scene_record *r, scene_string **out)
{
    int n = 0;
    if (r->kind == SCENE_RECORD_PASS) {
        out[n++] = &r->pass.target;
    } else if (r->kind == SCENE_RECORD_PRIMITIVE) {
        switch (r->tag) {
        case SCENE_TAG_SPRITE:
            out[n++] = &r->sprite.path;
            break;
        case SCENE_TAG_LABEL:
            out[n++] = &r->label.text;
            out[n++] = &r->label.font;
            break;
        case SCENE_TAG_TRIANGLE:
            out[n++] = &r->triangle.path;
            break;
        default:
            break;
        }
    } else if (r->kind == SCENE_RECORD_TOP) {
        switch (r->tag) {
        case SCENE_TAG_SCREENSHOT:
            out[n++] = &r->screenshot.path;
            break;
        case SCENE_TAG_UNLOAD_SPRITE:
            out[n++] = &r->unload_sprite.path;
            break;
        case SCENE_TAG_PIXEL_ARRAY:
            out[n++] = &r->pixel_array.name;
            break;
        case SCENE_TAG_OPEN_URL:
            out[n++] = &r->open_url.url;
            break;
        case SCENE_TAG_CURSOR_IMAGE:
            out[n++] = &r->cursor_image.path;
            break;
        case SCENE_TAG_SYSTEM_CURSOR:
            out[n++] = &r->system_cursor.name;
            break;
        case SCENE_TAG_WINDOW_TITLE:
            out[n++] = &r->window_title.title;
            break;
        default:
            break;
        }
    }
    return n;
}

static void string_free(scene_string *str)
{
    SDL_free((void *)str->bytes);
    str->bytes = NULL;
}

// Replaces a string that points into the stream by an owned copy; on
// failure the string becomes absent.
static int string_own(scene_string *str)
{
    if (!str->bytes)
        return 1;
    char *copy = (char *)SDL_malloc((size_t)str->length + 1);
    if (!copy) {
        str->bytes = NULL;
        SDL_OutOfMemory();
        return 0;
    }
    memcpy(copy, str->bytes, (size_t)str->length);
    copy[str->length] = 0;
    str->bytes = copy;
    return 1;
}

static void a11y_node_free(scene_a11y_node *node)
{
    string_free(&node->a11y_id);
    string_free(&node->a11y_text);
    string_free(&node->a11y_trait);
    string_free(&node->a11y_notification_target);
}

static int a11y_node_own(scene_a11y_node *node)
{
    // Each copy is attempted so that a failure leaves only owned or absent
    // strings behind.
    int ok = string_own(&node->a11y_id);
    ok &= string_own(&node->a11y_text);
    ok &= string_own(&node->a11y_trait);
    ok &= string_own(&node->a11y_notification_target);
    return ok;
}

static void record_free(scene_record *r)
{
    scene_string *strings[4];
    int n = record_strings(r, strings);
    for (int i = 0; i < n; i++)
        string_free(strings[i]);
    if (r->kind == SCENE_RECORD_TOP && r->tag == SCENE_TAG_PIXEL_ARRAY) {
        SDL_free((void *)r->pixel_array.pixels);
        r->pixel_array.pixels = NULL;
    }
    if (r->kind == SCENE_RECORD_TOP && r->tag == SCENE_TAG_A11Y_NODES && r->a11y_nodes.nodes) {
        for (Sint32 i = 0; i < r->a11y_nodes.count; i++)
            a11y_node_free(&r->a11y_nodes.nodes[i]);
        SDL_free(r->a11y_nodes.nodes);
        r->a11y_nodes.nodes = NULL;
    }
}

// Copies what the record points at in the stream (its node list is owned
// already) and appends it; on failure the record is released.
static int list_append(scene_record_list *list, scene_record *r)
{
    scene_string *strings[4];
    int n = record_strings(r, strings);
    int ok = 1;
    for (int i = 0; i < n; i++)
        ok &= string_own(strings[i]);
    if (ok && r->kind == SCENE_RECORD_TOP && r->tag == SCENE_TAG_PIXEL_ARRAY) {
        size_t bytes = (size_t)r->pixel_array.width * (size_t)r->pixel_array.height * 4;
        Uint8 *copy = (Uint8 *)SDL_malloc(bytes);
        if (copy)
            memcpy(copy, r->pixel_array.pixels, bytes);
        else
            SDL_OutOfMemory();
        r->pixel_array.pixels = copy;
        ok = copy != NULL;
    } else if (r->kind == SCENE_RECORD_TOP && r->tag == SCENE_TAG_PIXEL_ARRAY) {
        r->pixel_array.pixels = NULL;
    }
    if (ok && list->count == list->capacity) {
        int capacity = list->capacity ? list->capacity * 2 : 64;
        scene_record *grown = (scene_record *)SDL_realloc(list->records, (size_t)capacity * sizeof(*grown));
        if (grown) {
            list->records = grown;
            list->capacity = capacity;
        } else {
            SDL_OutOfMemory();
            ok = 0;
        }
    }
    if (!ok) {
        record_free(r);
        return 0;
    }
    list->records[list->count++] = *r;
    return 1;
}

// -1: a read failed; 0: out of memory; 1: appended.
static int decode_a11y(threadstream *s, scene_record *r)
{
    if (!scene_read_a11y_nodes(s, &r->a11y_nodes))
        return -1;
    Sint32 count = r->a11y_nodes.count;
    r->a11y_nodes.count = 0;
    if (count == 0)
        return 1;
    // The count is bounded by the bytes left, so this is at most a few
    // times the stream's size.
    r->a11y_nodes.nodes = (scene_a11y_node *)SDL_calloc((size_t)count, sizeof(scene_a11y_node));
    if (!r->a11y_nodes.nodes) {
        SDL_OutOfMemory();
        return 0;
    }
    for (Sint32 i = 0; i < count; i++) {
        scene_a11y_node *node = &r->a11y_nodes.nodes[i];
        if (!scene_read_a11y_node(s, node)) {
            record_free(r);
            return -1;
        }
        r->a11y_nodes.count = i + 1;
        if (!a11y_node_own(node)) {
            record_free(r);
            return 0;
        }
    }
    return 1;
}

static int decode_primitive(threadstream *s, scene_record *r)
{
    switch (r->tag) {
    case SCENE_TAG_SOLID:
        return scene_read_solid(s, &r->solid);
    case SCENE_TAG_BORDER:
        return scene_read_border(s, &r->border);
    case SCENE_TAG_SPRITE:
        return scene_read_sprite(s, &r->sprite);
    case SCENE_TAG_LABEL:
        return scene_read_label(s, &r->label);
    case SCENE_TAG_LINE:
        return scene_read_line(s, &r->line);
    case SCENE_TAG_TRIANGLE:
        return scene_read_triangle(s, &r->triangle);
    default:
        return 0;
    }
}

static int decode_top(threadstream *s, scene_record *r)
{
    switch (r->tag) {
    case SCENE_TAG_SCREENSHOT:
        return scene_read_screenshot(s, &r->screenshot);
    case SCENE_TAG_GRID:
        return scene_read_grid(s, &r->grid);
    case SCENE_TAG_UNLOAD_SPRITE:
        return scene_read_unload_sprite(s, &r->unload_sprite);
    case SCENE_TAG_CURSOR_VISIBILITY:
        return scene_read_cursor_visibility(s, &r->cursor_visibility);
    case SCENE_TAG_FULLSCREEN:
        return scene_read_fullscreen(s, &r->fullscreen);
    case SCENE_TAG_WINDOW_SCALE:
        return scene_read_window_scale(s, &r->window_scale);
    case SCENE_TAG_PIXEL_ARRAY:
        return scene_read_pixel_array(s, &r->pixel_array);
    case SCENE_TAG_OPEN_URL:
        return scene_read_open_url(s, &r->open_url);
    case SCENE_TAG_CURSOR_IMAGE:
        return scene_read_cursor_image(s, &r->cursor_image);
    case SCENE_TAG_SYSTEM_CURSOR:
        return scene_read_system_cursor(s, &r->system_cursor);
    case SCENE_TAG_MOUSE_GRAB:
        return scene_read_mouse_grab(s, &r->mouse_grab);
    case SCENE_TAG_WINDOW_TITLE:
        return scene_read_window_title(s, &r->window_title);
    case SCENE_TAG_SCALE_QUALITY:
        return scene_read_scale_quality(s, &r->scale_quality);
    case SCENE_TAG_HD_MAX_SCALE:
        return scene_read_hd_max_scale(s, &r->hd_max_scale);
    case SCENE_TAG_WINDOW_SIZE:
        return scene_read_window_size(s, &r->window_size);
    case SCENE_TAG_WINDOW_POSITION:
        return scene_read_window_position(s, &r->window_position);
    default:
        // Records without fields.
        return 1;
    }
}

// -1: a read failed; 0: out of memory; 1: the passes and their blocks were
// appended.
static int decode_passes(threadstream *s, scene_record_list *list, scene_record *r)
{
    if (!scene_read_passes(s, &r->passes))
        return -1;
    Sint32 count = r->passes.count;
    if (!list_append(list, r))
        return 0;
    for (Sint32 i = 0; i < count; i++) {
        scene_record pass;
        SDL_zero(pass);
        pass.kind = SCENE_RECORD_PASS;
        if (!scene_read_pass(s, &pass.pass))
            return -1;
        if (!list_append(list, &pass))
            return 0;
        for (;;) {
            scene_record prim;
            SDL_zero(prim);
            if (!scene_read_tag(s, &prim.tag))
                return -1;
            if (prim.tag == SCENE_TAG_PASS_END) {
                prim.kind = SCENE_RECORD_PASS_END;
            } else if (scene_tag_is_primitive(prim.tag)) {
                prim.kind = SCENE_RECORD_PRIMITIVE;
                if (!decode_primitive(s, &prim))
                    return -1;
            } else {
                prim.kind = SCENE_RECORD_LONE_TAG;
            }
            if (!list_append(list, &prim))
                return 0;
            if (prim.kind == SCENE_RECORD_PASS_END)
                break;
        }
    }
    return 1;
}

int scene_decode(threadstream *s, scene_record_list *out)
{
    SDL_zerop(out);
    out->end = SCENE_END_FAILED;
    if (!s) {
        SDL_InvalidParamError("stream");
        return 0;
    }
    scene_rewind(s);
    if (!scene_read_frame_header(s, &out->header))
        return 0;
    while (!threadstream_eos(s)) {
        scene_record r;
        SDL_zero(r);
        r.kind = SCENE_RECORD_TOP;
        if (!scene_read_tag(s, &r.tag))
            break;
        if (!scene_tag_is_top_level(r.tag)) {
            out->end = SCENE_END_UNKNOWN_TAG;
            out->stop_tag = r.tag;
            return 1;
        }
        int got;
        if (r.tag == SCENE_TAG_PASSES) {
            got = decode_passes(s, out, &r);
        } else if (r.tag == SCENE_TAG_A11Y_NODES) {
            got = decode_a11y(s, &r);
            if (got == 1)
                got = list_append(out, &r);
        } else {
            got = decode_top(s, &r) ? list_append(out, &r) : -1;
        }
        if (got == 0)
            return 0;
        if (got < 0)
            break;
    }
    if (s->failed)
        return 0;
    out->end = SCENE_END_STREAM;
    return 1;
}

void scene_record_list_free(scene_record_list *list)
{
    if (!list)
        return;
    for (int i = 0; i < list->count; i++)
        record_free(&list->records[i]);
    SDL_free(list->records);
    list->records = NULL;
    list->count = 0;
    list->capacity = 0;
}
