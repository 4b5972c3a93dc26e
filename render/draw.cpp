// The render thread's frame (draw_iteration) and the scene reader
// (draw_scene). Polls window-system events into one event stream per frame,
// consumes the queued scene streams (older ones with commands only), draws
// the newest one's passes into the window and named render targets, runs
// its cursor and window commands, writes screenshots, presents and measures
// the render frame rate. Canvas coordinates (y up from the active origin)
// are mapped to output pixels with the render scale and letterbox offsets.
// Depends on SDL2, the thread streams, the scene records, the render
// context, the texture and glyph caches, the PNG encoder and the loop's
// atomics.
#include "render/draw.h"

#include <math.h>

#include "config/cvar.h"
#include "config/metadata.h"
#include "engine/engine.h"
#include "engine/util.h"
#include "image/image.h"
#include "log/log.h"
#include "render/render_context.h"
#include "render/scene.h"
#include "render/texture_cache.h"
#include "stream/threadstream.h"
#include "text/fontatlas.h"

static_assert(sizeof(SDL_Event) == 56, "event streams carry 56-byte events");

// No output is anywhere near this many pixels across; coordinates beyond it
// are clamped (rectangles, lines) or the primitive is dropped (sprites,
// triangles, labels), so that no renderer converts an absurd float to int.
#define DRAW_COORD_LIMIT 1048576.0f
// Render targets wider or taller than this (256 MiB of pixels) are refused
// before any memory is asked for.
#define DRAW_TARGET_MAX_SIDE 8192
// Labels of up to this many code points are laid out once and drawn from
// the layout; longer ones are walked twice.
#define LABEL_LAYOUT_GLYPHS 256

static SDL_atomic_t mouse_grab_log_counter;

// The state of one scene being read. The active origin and the grid live in
// the render context; everything that only matters while one scene is
// drawn lives here.
struct draw_state {
    render_context *rc;
    SDL_Renderer *renderer;      // none: records are read, nothing is drawn
    SDL_Texture *target;         // the render target in use
    int commands_only;
    int replay;
    int grid_set;
    int named;                   // the pass draws into a named target: no letterbox offsets
    int into_window;             // the pass draws into the default target
    // Labels draw in output pixels with the renderer's logical size off;
    // consecutive labels share one switch, undone before anything else draws.
    int text_mode;
    float text_scale_x, text_scale_y;
    float text_vx, text_vy;
};

// Float to int, truncated toward zero; NaN gives 0, out-of-range values
// saturate.
static int to_int(double v)
{
    if (!(v == v))
        return 0;
    if (v >= 2147483647.0)
        return SDL_MAX_SINT32;
    if (v <= -2147483648.0)
        return SDL_MIN_SINT32;
    return (int)v;
}

static Uint8 clamp_colour(Sint32 v)
{
    return (Uint8)(v > 254 ? 255 : v < 0 ? 0 : v);
}

static SDL_BlendMode blend_mode(Sint32 v)
{
    switch (v) {
    case 0: return SDL_BLENDMODE_NONE;
    case 2: return SDL_BLENDMODE_ADD;
    case 3: return SDL_BLENDMODE_MOD;
    case 4: return SDL_BLENDMODE_MUL;
    default: return SDL_BLENDMODE_BLEND;
    }
}

static SDL_ScaleMode scale_mode(Sint32 quality)
{
    return quality == 1 ? SDL_ScaleModeLinear : quality == 2 ? SDL_ScaleModeBest : SDL_ScaleModeNearest;
}

static int within_limit(float v)
{
    return v >= -DRAW_COORD_LIMIT && v <= DRAW_COORD_LIMIT;   // false for NaN
}

static float clamp_coord(float v)
{
    return v < -DRAW_COORD_LIMIT ? -DRAW_COORD_LIMIT : v > DRAW_COORD_LIMIT ? DRAW_COORD_LIMIT : v;
}

// ---------------------------------------------------------------------------
// Events

static void automatic_orientation(render_context *rc)
{
    if (!cvar_game_metadata_orientation_both || !rc->window)
        return;
    int w = 0, h = 0;
    SDL_GetWindowSize(rc->window, &w, &h);
    if (h <= 0)
        return;
    float aspect = (float)w / h;
    if (rc->landscape && aspect < 0.8f)
        cvar_force_set("game_metadata.orientation_current", "portrait");
    else if (!rc->landscape && aspect > 0.8f)
        cvar_force_set("game_metadata.orientation_current", "landscape");
    else
        return;
    render_context_update_orientation(rc);
}

static int append_raw(threadstream *s, const void *bytes, size_t n)
{
    if (!threadstream_claim_space(s, n))
        return 0;
    SDL_memcpy(s->data + s->length, bytes, n);
    s->length += n;
    return 1;
}

// Every polled event goes to the simulation as its raw 56 bytes, behind a
// size_t count; a frame with no events queues nothing.
static void poll_events(render_context *rc)
{
    threadstream *s = threadstream_allocate();
    size_t count = 0;
    if (s)
        threadstream_pack_size_t(s, 0);
    SDL_Event e;
    while (SDL_PollEvent(&e)) {
        switch (e.type) {
        case SDL_APP_WILLENTERBACKGROUND:
            SDL_AtomicSet(&sleep_occurred_flag, 1);
            SDL_AtomicSet(&wake_occurred_flag, 0);
            break;
        case SDL_APP_DIDENTERFOREGROUND:
            SDL_AtomicSet(&sleep_occurred_flag, 0);
            SDL_AtomicSet(&wake_occurred_flag, 1);
            break;
        case SDL_WINDOWEVENT:
            if (e.window.windowID == rc->window_id && e.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) {
                SDL_AtomicSet(&atomic_resize_occurred, 1);
                automatic_orientation(rc);
                render_context_update_sizes(rc);
            }
            break;
        // The renderer lost its textures: drop ours so they are made
        // again on their next use. The game still sees the event.
        case SDL_RENDER_TARGETS_RESET:
            render_context_recover_render_targets(rc);
            break;
        case SDL_RENDER_DEVICE_RESET:
            render_context_recover_textures(rc);
            render_context_recover_render_targets(rc);
            break;
        default:
            break;
        }
        if (s && append_raw(s, &e, sizeof e))
            count++;
    }
    if (!s)
        return;
    if (count == 0 || s->failed) {
        threadstream_free(s);
        return;
    }
    SDL_memcpy(s->data, &count, sizeof count);
    threadstreamqueue_putitem(rc->event_queue, s);
}

// ---------------------------------------------------------------------------
// Coordinate mapping

// A canvas rectangle (y up from the active origin) in output pixels, y down.
static SDL_FRect map_rect(const draw_state *st, float x, float y, float w, float h, float anchor_x, float anchor_y)
{
    SDL_FRect out = {0.0f, 0.0f, 0.0f, 0.0f};
    if (!st->grid_set)
        return out;
    const render_context *rc = st->rc;
    const float s = rc->render_scale;
    float left = x + (float)rc->active_origin_x;
    if (w < 0)
        left += w;
    const float oy = (float)rc->active_origin_y;
    float top = h > 0 ? (oy - y) - h : oy - y;
    float width = SDL_fabsf(w) * s, height = SDL_fabsf(h) * s;
    left *= s;
    top *= s;
    if (!st->named) {
        left += (float)rc->offset_x;
        top += (float)rc->offset_y;
    }
    out.x = left - anchor_x * width;
    out.y = top + anchor_y * height;
    out.w = width;
    out.h = height;
    return out;
}

// A canvas point in output pixels; (0, 0) before the grid is set.
static SDL_FPoint map_point(const draw_state *st, float x, float y)
{
    SDL_FPoint p = {0.0f, 0.0f};
    if (!st->grid_set)
        return p;
    const render_context *rc = st->rc;
    const float s = rc->render_scale;
    p.x = x * s + s * (float)rc->active_origin_x;
    p.y = s * ((float)rc->active_origin_y - y);
    if (!st->named) {
        p.x += (float)rc->offset_x;
        p.y += (float)rc->offset_y;
    }
    return p;
}

// Clamps the edges of a filled or outlined rectangle into the coordinate
// limit (what lies beyond is off every output anyway); 0 for NaN.
static int clamp_rect(SDL_FRect *r)
{
    if (!(r->x == r->x && r->y == r->y && r->w == r->w && r->h == r->h))
        return 0;
    const float x0 = clamp_coord(r->x), y0 = clamp_coord(r->y);
    const float x1 = clamp_coord(r->x + r->w), y1 = clamp_coord(r->y + r->h);
    r->x = x0;
    r->y = y0;
    r->w = x1 - x0;
    r->h = y1 - y0;
    return 1;
}

static int rect_within_limit(const SDL_FRect *r)
{
    return within_limit(r->x) && within_limit(r->y) && within_limit(r->w) && within_limit(r->h);
}

static int outcode(double x, double y)
{
    const double lim = DRAW_COORD_LIMIT;
    return (x < -lim ? 1 : x > lim ? 2 : 0) | (y < -lim ? 4 : y > lim ? 8 : 0);
}

// Cuts a segment to the coordinate limit (Cohen-Sutherland, which keeps a
// horizontal or vertical line exactly on its row or column); 0 when nothing
// of it remains or an end point is not finite.
static int clip_segment(double *x0, double *y0, double *x1, double *y1)
{
    if (!(isfinite(*x0) && isfinite(*y0) && isfinite(*x1) && isfinite(*y1)))
        return 0;
    const double lim = DRAW_COORD_LIMIT;
    for (int round = 0; round < 8; round++) {
        const int c0 = outcode(*x0, *y0), c1 = outcode(*x1, *y1);
        if (!(c0 | c1))
            return 1;
        if (c0 & c1)
            return 0;
        const int c = c0 ? c0 : c1;
        const double dx = *x1 - *x0, dy = *y1 - *y0;
        double x, y;
        if (c & 3) {
            x = (c & 1) ? -lim : lim;
            y = *y0 + dy * ((x - *x0) / dx);
        } else {
            y = (c & 4) ? -lim : lim;
            x = *x0 + dx * ((y - *y0) / dy);
        }
        if (c == c0)
            *x0 = x, *y0 = y;
        else
            *x1 = x, *y1 = y;
    }
    return 0;
}

// ---------------------------------------------------------------------------
// Text mode

static void text_mode_enter(draw_state *st)
{
    if (st->text_mode)
        return;
    SDL_Renderer *r = st->renderer;
    float sx = 1.0f, sy = 1.0f;
    SDL_Rect vp;
    SDL_RenderGetScale(r, &sx, &sy);
    SDL_RenderGetViewport(r, &vp);
    SDL_RenderSetLogicalSize(r, 0, 0);
    SDL_Rect clip = {to_int(vp.x * sx), to_int(vp.y * sy), to_int(vp.w * sx), to_int(vp.h * sy)};
    SDL_RenderSetClipRect(r, &clip);
    st->text_scale_x = sx;
    st->text_scale_y = sy;
    st->text_vx = (float)vp.x * sx;
    st->text_vy = (float)vp.y * sy;
    st->text_mode = 1;
}

static void text_mode_leave(draw_state *st)
{
    if (!st->text_mode)
        return;
    st->text_mode = 0;
    if (!st->into_window)
        return;
    const render_context *rc = st->rc;
    SDL_RenderSetClipRect(st->renderer, nullptr);
    if (rc->output_w > 0 && rc->output_h > 0)
        SDL_RenderSetLogicalSize(st->renderer, rc->output_w, rc->output_h);
}

// ---------------------------------------------------------------------------
// Primitives

static void draw_rect(draw_state *st, const scene_solid *in, int filled)
{
    SDL_FRect rect = map_rect(st, in->x, in->y, in->w, in->h, in->anchor_x, in->anchor_y);
    if (!clamp_rect(&rect) || !(rect.w > 0.0f && rect.h > 0.0f))
        return;   // the software renderer would still paint an empty rectangle's edge
    SDL_Renderer *r = st->renderer;
    SDL_SetRenderDrawColor(r, clamp_colour(in->r), clamp_colour(in->g), clamp_colour(in->b), clamp_colour(in->a));
    SDL_SetRenderDrawBlendMode(r, blend_mode(in->blend));
    if (filled)
        SDL_RenderFillRectF(r, &rect);
    else
        SDL_RenderDrawRectF(r, &rect);
}

static void draw_line(draw_state *st, const scene_line *in)
{
    if (!st->grid_set)
        return;   // every point would be the corner pixel
    const SDL_FPoint a = map_point(st, in->x, in->y), b = map_point(st, in->x2, in->y2);
    double x0 = a.x, y0 = a.y, x1 = b.x, y1 = b.y;
    if (!clip_segment(&x0, &y0, &x1, &y1))
        return;
    SDL_Renderer *r = st->renderer;
    SDL_SetRenderDrawColor(r, clamp_colour(in->r), clamp_colour(in->g), clamp_colour(in->b), clamp_colour(in->a));
    SDL_SetRenderDrawBlendMode(r, blend_mode(in->blend));
    SDL_RenderDrawLine(r, (int)x0, (int)y0, (int)x1, (int)y1);
}

// Scale of the texture's pixels against canvas units: a render target's own
// scale, else the resolution of the image variant the path names.
static float source_scale(const render_context *rc, const texture_lookup *t, Sint32 percent)
{
    if (t->render_target)
        return t->scale;
    switch (percent) {
    case 100: return 1.0f;
    case 125: return 1.25f;
    case 150: return 1.5f;
    case 175: return 1.75f;
    case 200: return 2.0f;
    case 250: return 2.5f;
    case 300: return 3.0f;
    case 400: return 4.0f;
    default: return rc->render_scale;
    }
}

static void draw_sprite(draw_state *st, const scene_sprite *in)
{
    render_context *rc = st->rc;
    const SDL_FRect dst = map_rect(st, in->x, in->y, in->w, in->h, in->anchor_x, in->anchor_y);
    if (!rect_within_limit(&dst) || dst.w == 0.0f || dst.h == 0.0f)
        return;
    const texture_lookup t = lookup_texture(rc, in->path.bytes);
    if (!t.texture || t.width <= 0 || t.height <= 0)
        return;

    // Source coordinates have their origin at the image's bottom; tiles
    // count from its top.
    const float k = source_scale(rc, &t, in->scale_percent);
    const float tw = (float)t.width, th = (float)t.height;
    float sx, sy, sw, sh;
    if (in->tile_x == 0.0f && in->tile_y == 0.0f && in->tile_w == -1.0f && in->tile_h == -1.0f) {
        sw = in->source_w == -1.0f ? -1.0f : in->source_w * k;
        sy = in->source_y * k;
        sh = sw == -1.0f ? in->source_h : in->source_h * k;
        if (!(sy == 0.0f && sh == -1.0f)) {
            if (sw < 0.0f)
                sw = tw;
            if (sh < 0.0f)
                sh = th;
            sy = th - sy - sh;
        }
        sx = k * in->source_x;
    } else {
        sy = in->tile_y * k;
        sw = in->tile_w == -1.0f ? -1.0f : in->tile_w * k;
        sh = sw != -1.0f ? in->tile_h * k : in->tile_h;
        sx = k * in->tile_x;
    }
    if (sw < 0.0f)
        sw = tw;
    if (sh < 0.0f)
        sh = th;
    if (!(within_limit(sx) && within_limit(sy) && within_limit(sw) && within_limit(sh)))
        return;
    if (sx >= tw || sy >= th || sw == 0.0f || sh == 0.0f)
        return;

    if ((sy + sh > th || sx + sw > tw) && t.entry && !t.entry->warned) {
        log_warn("Render",
                 "* WARNING: You are rendering passed the boundaries of the =%s=.\n"
                 "This will cause stretching of the sprite.\n"
                 "=%s='s ~w~ and ~h~ are: ~w: %d, h: %d~.\n"
                 "The ~rect~ you requested was: ~x: %f, y: %f, w: %f, h: %f]~.",
                 in->path.bytes, in->path.bytes, t.width, t.height, (double)sx, (double)sy, (double)sw, (double)sh);
        t.entry->warned = 1;
    }

    // The scale mode is set to what this sprite asks for whenever the
    // texture holds another, so an earlier sprite's choice does not leak
    // into this one.
    const SDL_ScaleMode mode = scale_mode(in->scale_quality);
    SDL_ScaleMode current;
    if (SDL_GetTextureScaleMode(t.texture, &current) != 0 || current != mode)
        SDL_SetTextureScaleMode(t.texture, mode);

    const SDL_Rect src = {(int)sx, (int)sy, (int)sw, (int)sh};
    float aax = in->angle_anchor_x, aay = in->angle_anchor_y;
    if (!within_limit(aax) || !within_limit(aay))
        aax = aay = 0.5f;
    const SDL_FPoint centre = {aax * dst.w, (1.0f - aay) * dst.h};
    const double angle = isfinite(in->angle) ? 360.0 - (double)in->angle : 360.0;
    int flip = SDL_FLIP_NONE;
    if (in->flip_horizontally)
        flip |= SDL_FLIP_HORIZONTAL;
    if (in->flip_vertically)
        flip |= SDL_FLIP_VERTICAL;

    SDL_SetTextureColorMod(t.texture, clamp_colour(in->r), clamp_colour(in->g), clamp_colour(in->b));
    SDL_SetTextureAlphaMod(t.texture, clamp_colour(in->a));
    SDL_SetTextureBlendMode(t.texture, blend_mode(in->blend));
    SDL_RenderCopyExF(st->renderer, t.texture, &src, &dst, angle, &centre, (SDL_RendererFlip)flip);
}

static void draw_triangle(draw_state *st, const scene_triangle *in)
{
    render_context *rc = st->rc;
    if (!st->grid_set)
        return;
    const texture_lookup t = lookup_texture(rc, in->path.bytes);
    if (!t.texture || t.width <= 0 || t.height <= 0)
        return;
    const float k = source_scale(rc, &t, in->scale_percent);
    const float tw = (float)t.width, th = (float)t.height;
    const float xs[3] = {in->x, in->x2, in->x3}, ys[3] = {in->y, in->y2, in->y3};
    const float us[3] = {in->source_x, in->source_x2, in->source_x3};
    const float vs[3] = {in->source_y, in->source_y2, in->source_y3};
    const Sint32 colours[3][4] = {
        {in->r, in->g, in->b, in->a}, {in->r2, in->g2, in->b2, in->a2}, {in->r3, in->g3, in->b3, in->a3}};
    SDL_Vertex v[3];
    for (int i = 0; i < 3; i++) {
        v[i].position = map_point(st, xs[i], ys[i]);
        float u = us[i] * k / tw, tv = 1.0f - vs[i] * k / th;
        if (!within_limit(v[i].position.x) || !within_limit(v[i].position.y) || !within_limit(u) || !within_limit(tv))
            return;
        // Texture coordinates stay on the outermost texel centres: renderers
        // clamp to the edge anyway, and the software rasteriser reads past
        // the texture at exactly 1.0 (the bottom row that source y 0 names).
        v[i].tex_coord.x = SDL_clamp(u, 0.5f / tw, 1.0f - 0.5f / tw);
        v[i].tex_coord.y = SDL_clamp(tv, 0.5f / th, 1.0f - 0.5f / th);
        v[i].color.r = clamp_colour(colours[i][0]);
        v[i].color.g = clamp_colour(colours[i][1]);
        v[i].color.b = clamp_colour(colours[i][2]);
        v[i].color.a = clamp_colour(colours[i][3]);
    }
    // The vertex colours alone tint the triangle, whatever a sprite left on
    // the texture.
    SDL_SetTextureColorMod(t.texture, 255, 255, 255);
    SDL_SetTextureAlphaMod(t.texture, 255);
    SDL_SetTextureBlendMode(t.texture, blend_mode(in->blend));
    SDL_RenderGeometry(st->renderer, t.texture, v, 3, nullptr, 0);
}

static FontAtlas *label_font(render_context *rc, const char *path)
{
    FontAtlas *atlas = nullptr;
    if (path && rc->fonts && SDL_strcmp(path, FONTATLAS_FALLBACK_PATH) != 0)
        atlas = lookup_font(rc->fonts, path);
    if (!atlas && rc->fonts)
        atlas = lookup_font(rc->fonts, nullptr);
    return atlas;
}

struct label_glyph {
    const CachedGlyph *glyph;   // none when the font lacks the code point
    float advance;              // pen advance, kerning with the next code point included
};

struct label_walk {
    FontAtlas *atlas;
    const char *p;
    Uint32 codepoint;           // 0 at the end
    float pixel_size, kerning_scale;
};

static void label_walk_start(label_walk *w, FontAtlas *atlas, const char *text, float pixel_size)
{
    w->atlas = atlas;
    w->p = text;
    w->codepoint = utf8codepoint(&w->p);
    w->pixel_size = pixel_size;
    w->kerning_scale = fontatlas_get_scale(atlas, pixel_size);
}

static int label_walk_next(label_walk *w, label_glyph *out)
{
    if (w->codepoint == 0)
        return 0;
    const Uint32 next = utf8codepoint(&w->p);
    out->glyph = fontatlas_getglyph(w->atlas, w->codepoint, w->pixel_size);
    out->advance = (out->glyph ? out->glyph->advance : 0.0f) +
                   fontatlas_get_kerningadvance(w->atlas, w->codepoint, next, w->kerning_scale);
    w->codepoint = next;
    return 1;
}

// Labels are measured and drawn at the device pixel size (the size in
// output pixels), so the aligned edge lands exactly where it is asked to at
// every scale.
static void draw_label(draw_state *st, const scene_label *in)
{
    render_context *rc = st->rc;
    if (!st->grid_set || !in->text.bytes || in->text.length <= 0)
        return;   // before the grid every label would pile up in the corner
    if (!isfinite(in->size_px) || !isfinite(in->size_enum))
        return;
    const float pixel_size = in->size_px > 0.0f ? in->size_px : 22.0f + (float)to_int(2.0 * in->size_enum);
    if (!fontatlas_pixel_size_valid(pixel_size))
        return;
    const SDL_FPoint anchor = map_point(st, in->x, in->y);
    if (!within_limit(anchor.x) || !within_limit(anchor.y))
        return;
    FontAtlas *atlas = label_font(rc, in->font.bytes);
    if (!atlas)
        return;

    float hf = in->alignment == 1 ? 0.5f : in->alignment == 2 ? 1.0f : 0.0f;
    if (in->anchor_x_given)
        hf = in->anchor_x;
    float vf = in->vertical_alignment == 0 ? 1.0f : in->vertical_alignment == 1 ? 0.5f : 0.0f;
    if (in->anchor_y_given)
        vf = 1.0f - in->anchor_y;
    if (!within_limit(hf) || !within_limit(vf))
        return;

    text_mode_enter(st);
    const float rs = rc->render_scale;
    const float device_size = pixel_size * st->text_scale_y * rs;
    if (!fontatlas_pixel_size_valid(device_size))
        return;
    float line_height = 0.0f;
    fontatlas_calcstringrect(atlas, "W", nullptr, &line_height, device_size);
    const float ascent = (float)to_int(fontatlas_get_ascent(atlas, fontatlas_get_scale(atlas, pixel_size)));

    label_glyph layout[LABEL_LAYOUT_GLYPHS];
    label_walk walk;
    label_glyph g;
    int count = 0;
    float width = 0.0f;
    label_walk_start(&walk, atlas, in->text.bytes, device_size);
    while (label_walk_next(&walk, &g)) {
        if (count < LABEL_LAYOUT_GLYPHS)
            layout[count] = g;
        count++;
        width += g.advance;
    }
    if (count == 0)
        return;

    float pen = anchor.x * st->text_scale_x + st->text_vx - hf * width;
    const float baseline = st->text_scale_y * (anchor.y + rs * ascent) + st->text_vy +
                           (float)to_int(vf * -(float)to_int(line_height));
    if (!within_limit(pen) || !within_limit(baseline) || !within_limit(width))
        return;

    const Uint8 r = clamp_colour(in->r), gr = clamp_colour(in->g), b = clamp_colour(in->b), a = clamp_colour(in->a);
    const SDL_BlendMode blend = blend_mode(in->blend);
    SDL_Texture *prepared = nullptr;
    if (count > LABEL_LAYOUT_GLYPHS)
        label_walk_start(&walk, atlas, in->text.bytes, device_size);
    for (int i = 0; i < count; i++) {
        if (count > LABEL_LAYOUT_GLYPHS)
            label_walk_next(&walk, &g);
        else
            g = layout[i];
        const CachedGlyph *cg = g.glyph;
        if (cg && cg->texture && cg->w > 0 && cg->h > 0) {
            if (cg->texture != prepared) {
                SDL_SetTextureColorMod(cg->texture, r, gr, b);
                SDL_SetTextureAlphaMod(cg->texture, a);
                SDL_SetTextureBlendMode(cg->texture, blend);
                prepared = cg->texture;
            }
            const SDL_Rect src = {cg->x, cg->y, cg->w, cg->h};
            const SDL_FRect dst = {pen + cg->x0, baseline + cg->y0, (float)cg->w, (float)cg->h};
            SDL_RenderCopyF(st->renderer, cg->texture, &src, &dst);
        }
        pen += g.advance;
    }
}

// ---------------------------------------------------------------------------
// Passes

static SDL_Texture *capture_target(render_context *rc)
{
    const int w = rc->output_w, h = rc->output_h;
    if (rc->capture_target) {
        int tw = 0, th = 0;
        if (SDL_QueryTexture(rc->capture_target, nullptr, nullptr, &tw, &th) == 0 && tw == w && th == h)
            return rc->capture_target;
        SDL_DestroyTexture(rc->capture_target);
        rc->capture_target = nullptr;
    }
    if (w <= 0 || h <= 0)
        return nullptr;
    rc->capture_target = SDL_CreateTexture(rc->renderer, SDL_PIXELFORMAT_ABGR8888, SDL_TEXTUREACCESS_TARGET, w, h);
    return rc->capture_target;
}

static SDL_Texture *named_target(render_context *rc, const scene_pass *pass)
{
    texture_entry *e = lookup_texture_no_fallback(rc, pass->target.bytes);
    if (!e)
        return nullptr;
    const double s = rc->render_scale;
    const int w = to_int(s * pass->width), h = to_int(s * pass->height);
    if (w <= 0 || h <= 0 || w > DRAW_TARGET_MAX_SIDE || h > DRAW_TARGET_MAX_SIDE) {
        SDL_SetError("Render target '%s' cannot be %dx%d pixels", pass->target.bytes, w, h);
        return nullptr;
    }
    return texture_entry_make_render_target(rc, e, w, h, rc->render_scale);
}

static void set_target(draw_state *st, SDL_Texture *target)
{
    if (target == st->target)
        return;
    text_mode_leave(st);
    SDL_SetRenderTarget(st->renderer, target);
    st->target = target;
}

static int draw_primitives(draw_state *st, threadstream *s, int drawing)
{
    for (;;) {
        Sint32 tag;
        if (!scene_read_tag(s, &tag))
            return 0;
        if (tag == SCENE_TAG_PASS_END)
            return 1;
        if (!drawing) {
            if (!scene_skip_primitive(s, tag))
                return 0;
            continue;
        }
        if (tag != SCENE_TAG_LABEL && scene_tag_is_primitive(tag))
            text_mode_leave(st);
        switch (tag) {
        case SCENE_TAG_SOLID:
        case SCENE_TAG_BORDER: {
            scene_solid rec;
            if (!scene_read_solid(s, &rec))
                return 0;
            draw_rect(st, &rec, tag == SCENE_TAG_SOLID);
            break;
        }
        case SCENE_TAG_SPRITE: {
            scene_sprite rec;
            if (!scene_read_sprite(s, &rec))
                return 0;
            draw_sprite(st, &rec);
            break;
        }
        case SCENE_TAG_LABEL: {
            scene_label rec;
            if (!scene_read_label(s, &rec))
                return 0;
            draw_label(st, &rec);
            break;
        }
        case SCENE_TAG_LINE: {
            scene_line rec;
            if (!scene_read_line(s, &rec))
                return 0;
            draw_line(st, &rec);
            break;
        }
        case SCENE_TAG_TRIANGLE: {
            scene_triangle rec;
            if (!scene_read_triangle(s, &rec))
                return 0;
            draw_triangle(st, &rec);
            break;
        }
        default:
            break;   // a lone tag: nothing follows it
        }
    }
}

// One pass block, into the capture target or into its own target.
static int draw_pass(draw_state *st, threadstream *s, int into_capture)
{
    render_context *rc = st->rc;
    scene_pass pass;
    if (!scene_read_pass(s, &pass))
        return 0;
    rc->active_origin_x = rc->grid_origin_x;
    rc->active_origin_y = rc->grid_origin_y;

    SDL_Texture *target = nullptr;
    const int named = !into_capture && pass.target.bytes;
    int usable = st->renderer != nullptr;
    if (usable) {
        if (into_capture)
            target = capture_target(rc);
        else if (named)
            target = named_target(rc, &pass);
        else
            target = rc->default_target;
        usable = target != nullptr || (!into_capture && !named);
    }
    const int into_window = !into_capture && !named;
    const int drawing = usable && !(st->commands_only && into_window);

    if (drawing) {
        set_target(st, target);
        st->named = named;
        st->into_window = into_window;
        // A pass into a render target counts from that target's own
        // bottom-left (or centre); one into the window or the capture
        // target from the grid origin, as the window shows it.
        if (pass.target.bytes) {
            if (rc->grid_centred) {
                rc->active_origin_x = pass.width / 2;
                rc->active_origin_y = pass.height / 2;
            } else {
                rc->active_origin_x = rc->grid_origin_x;
                rc->active_origin_y = pass.height;
            }
        }
        SDL_Renderer *r = st->renderer;
        const Uint8 br = clamp_colour(pass.r), bg = clamp_colour(pass.g), bb = clamp_colour(pass.b);
        const Uint8 ba = clamp_colour(pass.a);
        // The capture target stands for the window, so a pass that goes to
        // the window is captured onto a cleared target as well.
        if (into_window || (into_capture && !pass.target.bytes) || pass.clear) {
            SDL_SetRenderDrawColor(r, br, bg, bb, ba);
            SDL_RenderClear(r);
        }
        if (into_window) {
            rc->clear_pending = 0;
            rc->clear_r = br;
            rc->clear_g = bg;
            rc->clear_b = bb;
        }
    }
    const int ok = draw_primitives(st, s, drawing);
    text_mode_leave(st);
    return ok;
}

static int draw_passes(draw_state *st, threadstream *s)
{
    render_context *rc = st->rc;
    scene_passes passes;
    if (!scene_read_passes(s, &passes))
        return 0;
    for (Sint32 i = 0; i < passes.count; i++) {
        const size_t start = s->read_pos;
        if (passes.capture && i == passes.count - 1) {
            if (!draw_pass(st, s, 1))
                return 0;
            s->read_pos = start;
        }
        if (!draw_pass(st, s, 0))
            return 0;
    }
    if (st->renderer)
        set_target(st, rc->default_target);
    st->named = 0;
    st->into_window = 1;
    rc->active_origin_x = rc->grid_origin_x;
    rc->active_origin_y = rc->grid_centred ? rc->canvas_h / 2 : rc->canvas_h;
    return 1;
}

// ---------------------------------------------------------------------------
// Top-level records

static int read_grid(draw_state *st, threadstream *s)
{
    render_context *rc = st->rc;
    scene_grid grid;
    if (!scene_read_grid(s, &grid))
        return 0;
    rc->grid_origin_x = to_int(grid.origin_x);
    rc->grid_origin_y = to_int(grid.origin_y);
    SDL_AtomicSet(&rc->size_change_pending, 1);
    SDL_AtomicSet(&rc->grid_set, 1);
    st->grid_set = 1;
    rc->grid_centred = rc->grid_origin_y == (rc->landscape ? 360 : 640);
    render_context_publish(rc);
    return 1;
}

// A relative path that stays inside the game directory: no leading "/", no
// ".." component, no backslash.
static int screenshot_path_ok(const char *path)
{
    if (!path || !*path || path[0] == '/' || SDL_strchr(path, '\\'))
        return 0;
    for (const char *part = path; part;) {
        const char *end = SDL_strchr(part, '/');
        const size_t n = end ? (size_t)(end - part) : SDL_strlen(part);
        if (n == 2 && part[0] == '.' && part[1] == '.')
            return 0;
        part = end ? end + 1 : nullptr;
    }
    return 1;
}

static void take_screenshot(draw_state *st, const scene_screenshot *in)
{
    render_context *rc = st->rc;
    SDL_Texture *capture = rc->capture_target;
    int cw = 0, ch = 0;
    if (!st->renderer || !capture || SDL_QueryTexture(capture, nullptr, nullptr, &cw, &ch) != 0)
        return;
    const SDL_FRect mapped = map_rect(st, in->x, in->y, in->w, in->h, 0.0f, 0.0f);
    SDL_Rect rect;
    if (!image_clip_rect(cw, ch, mapped.x, mapped.y, mapped.w, mapped.h, &rect))
        return;
    const char *path = in->path.bytes;
    const char *dir = rc->game_dir ? rc->game_dir : "";
    if (!screenshot_path_ok(path) || !*dir) {
        log_error("Render", "* ERROR: Screenshot path =%s= must be a relative path inside the game directory.",
                  path ? path : "");
        return;
    }
    Uint8 *pixels = image_allocate(rect.w, rect.h);
    if (!pixels) {
        log_sdl_error("Render", LOG_LEVEL_ERROR, "Screenshot =%s= skipped", path);
        return;
    }
    set_target(st, capture);
    const int read = SDL_RenderReadPixels(st->renderer, &rect, SDL_PIXELFORMAT_ABGR8888, pixels, rect.w * 4);
    set_target(st, rc->default_target);
    if (read != 0) {
        log_sdl_error("Render", LOG_LEVEL_ERROR, "Screenshot =%s= could not be read", path);
        SDL_free(pixels);
        return;
    }
    image_key_alpha(pixels, rect.w, rect.h, in->tolerance, in->key_r, in->key_g, in->key_b, in->alpha);
    size_t size = 0;
    Uint8 *png = encode_png(pixels, rect.w, rect.h, 0, 0, &size);
    SDL_free(pixels);
    if (!png) {
        log_sdl_error("Render", LOG_LEVEL_ERROR, "Screenshot =%s= could not be encoded", path);
        return;
    }
    if (!storefile_write_override_atomic(dir, path, png, size))
        log_sdl_error("Render", LOG_LEVEL_ERROR, "Screenshot =%s= could not be written", path);
    SDL_free(png);
}

static const char *const system_cursor_names[] = {"arrow", "ibeam", "wait", "hand"};
static const SDL_SystemCursor system_cursor_ids[] = {SDL_SYSTEM_CURSOR_ARROW, SDL_SYSTEM_CURSOR_IBEAM,
                                                     SDL_SYSTEM_CURSOR_WAIT, SDL_SYSTEM_CURSOR_HAND};

static void set_mouse_grab(render_context *rc, Sint32 mode)
{
    switch (mode) {
    case 0:
        SDL_SetRelativeMouseMode(SDL_FALSE);
        SDL_SetWindowGrab(rc->window, SDL_FALSE);
        break;
    case 1:
        SDL_SetRelativeMouseMode(SDL_FALSE);
        SDL_SetWindowGrab(rc->window, SDL_TRUE);
        break;
    case 2:
        SDL_SetWindowGrab(rc->window, SDL_FALSE);
        SDL_SetRelativeMouseMode(SDL_TRUE);
        break;
    default:
        log_limited(&mouse_grab_log_counter, "Engine", LOG_LEVEL_ERROR,
                    "App tried to set an invalid mouse grab value of %d, ignoring", mode);
        break;
    }
}

// ---------------------------------------------------------------------------
// Window commands

// Window scales snap down to these steps; below the first, 0.1.
static float window_scale_step(float scale)
{
    static const float steps[] = {0.25f, 0.5f, 0.75f, 1.0f, 1.25f, 1.5f, 1.75f, 2.0f, 2.5f, 3.0f, 4.0f};
    if (!(scale == scale))
        scale = 1.0f;   // not a number
    float step = 0.1f;
    for (float candidate : steps)
        if (scale >= candidate)
            step = candidate;
    return step;
}

static void centre_window(render_context *rc)
{
    const int display = SDL_GetWindowDisplayIndex(rc->window);
    const int where = (int)SDL_WINDOWPOS_CENTERED_DISPLAY(display < 0 ? 0 : display);
    SDL_SetWindowPosition(rc->window, where, where);
}

static void resize(render_context *rc)
{
    SDL_AtomicSet(&atomic_resize_occurred, 1);
    render_context_update_sizes(rc);
}

// The engine's own change of a locked cvar (unlocked, set, locked again).
static void force_set_int(const char *name, Sint32 value)
{
    char text[16];
    SDL_snprintf(text, sizeof text, "%d", (int)value);
    cvar_force_set(name, text);
}

static void toggle_orientation(render_context *rc)
{
    char current[32];
    cvar_string_read(&cvar_game_metadata_orientation_current, current, sizeof current);
    cvar_force_set("game_metadata.orientation_current", SDL_strcmp(current, "portrait") == 0 ? "landscape" : "portrait");
    render_context_update_orientation(rc);
}

static void move_to_next_display(render_context *rc)
{
    const int count = SDL_GetNumVideoDisplays();
    int next = SDL_GetWindowDisplayIndex(rc->window) + 1;
    if (count <= 0)
        return;
    if (next >= count || next < 0)
        next = 0;
    SDL_DisplayMode mode;
    if (SDL_GetCurrentDisplayMode(next, &mode) == 0) {
        int w = 0, h = 0;
        SDL_GetWindowSize(rc->window, &w, &h);
        if (w > mode.w || h > mode.h)
            SDL_SetWindowSize(rc->window, mode.w, mode.h);
    }
    const int where = (int)SDL_WINDOWPOS_CENTERED_DISPLAY(next);
    SDL_SetWindowPosition(rc->window, where, where);
    resize(rc);
}

// Commands with side effects run once: not while a scene is replayed (the
// window title excepted), and window operations only when there is a window.
static int run_command(draw_state *st, threadstream *s, Sint32 tag)
{
    render_context *rc = st->rc;
    const int once = !st->replay;
    switch (tag) {
    case SCENE_TAG_UNLOAD_SPRITE: {
        scene_unload_sprite c;
        if (!scene_read_unload_sprite(s, &c))
            return 0;
        if (once)
            texture_map_unload(rc, c.path.bytes);
        return 1;
    }
    case SCENE_TAG_CURSOR_VISIBILITY: {
        scene_cursor_visibility c;
        if (!scene_read_cursor_visibility(s, &c))
            return 0;
        if (once)
            SDL_ShowCursor(c.visible ? SDL_ENABLE : SDL_DISABLE);
        return 1;
    }
    case SCENE_TAG_PIXEL_ARRAY: {
        scene_pixel_array c;
        if (!scene_read_pixel_array(s, &c))
            return 0;
        if (once && !texture_map_upload_pixels(rc, c.name.bytes, c.width, c.height, c.pixels,
                                               (size_t)c.width * (size_t)c.height * 4))
            log_sdl_error("Render", LOG_LEVEL_ERROR, "Pixel array =%s= was not uploaded",
                          c.name.bytes ? c.name.bytes : "");
        return 1;
    }
    case SCENE_TAG_CURSOR_IMAGE: {
        scene_cursor_image c;
        if (!scene_read_cursor_image(s, &c))
            return 0;
        if (once)
            SDL_SetCursor(lookup_cursor(rc, c.path.bytes, c.hot_x, c.hot_y));
        return 1;
    }
    case SCENE_TAG_SYSTEM_CURSOR: {
        scene_system_cursor c;
        if (!scene_read_system_cursor(s, &c))
            return 0;
        if (once && c.name.bytes)
            for (size_t i = 0; i < SDL_arraysize(system_cursor_names); i++)
                if (SDL_strcmp(c.name.bytes, system_cursor_names[i]) == 0)
                    SDL_SetCursor(lookup_system_cursor(rc, system_cursor_ids[i]));
        return 1;
    }
    case SCENE_TAG_MOUSE_GRAB: {
        scene_mouse_grab c;
        if (!scene_read_mouse_grab(s, &c))
            return 0;
        if (once && rc->window)
            set_mouse_grab(rc, c.mode);
        return 1;
    }
    case SCENE_TAG_WINDOW_TITLE: {
        scene_window_title c;
        if (!scene_read_window_title(s, &c))
            return 0;
        // Also while replaying; setting an unchanged title costs nothing.
        const char *title = c.title.bytes ? c.title.bytes : "";
        if (rc->window && SDL_strcmp(SDL_GetWindowTitle(rc->window), title) != 0)
            SDL_SetWindowTitle(rc->window, title);
        return 1;
    }
    case SCENE_TAG_FULLSCREEN: {
        scene_fullscreen c;
        if (!scene_read_fullscreen(s, &c))
            return 0;
        if (once && rc->window)
            SDL_SetWindowFullscreen(rc->window, c.on ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0);
        return 1;
    }
    case SCENE_TAG_WINDOW_SCALE: {
        scene_window_scale c;
        if (!scene_read_window_scale(s, &c))
            return 0;
        if (once && rc->window) {
            const float step = window_scale_step(c.scale);
            const int aspect_w = c.aspect_width > 0 ? c.aspect_width : 16;
            const int aspect_h = c.aspect_height > 0 ? c.aspect_height : 9;
            SDL_SetWindowSize(rc->window, (int)(step * 1280), (int)(step * (float)((1280 / aspect_w) * aspect_h)));
            centre_window(rc);
            resize(rc);
        }
        return 1;
    }
    case SCENE_TAG_OPEN_URL: {
        scene_open_url c;
        if (!scene_read_open_url(s, &c))
            return 0;
        if (once && c.url.bytes && *c.url.bytes)
            SDL_OpenURL(c.url.bytes);
        return 1;
    }
    case SCENE_TAG_SCALE_QUALITY: {
        scene_scale_quality c;
        if (!scene_read_scale_quality(s, &c))
            return 0;
        if (once) {
            force_set_int("game_metadata.scale_quality", c.quality);
            SDL_AtomicSet(&atomic_resize_occurred, 1);
            render_context_update_scale_quality();
        }
        return 1;
    }
    case SCENE_TAG_HD_MAX_SCALE: {
        scene_hd_max_scale c;
        if (!scene_read_hd_max_scale(s, &c))
            return 0;
        if (once) {
            force_set_int("game_metadata.hd_max_scale", c.max_scale);
            resize(rc);
        }
        return 1;
    }
    case SCENE_TAG_WINDOW_SIZE: {
        scene_window_size c;
        if (!scene_read_window_size(s, &c))
            return 0;
        if (once && rc->window) {
            SDL_SetWindowSize(rc->window, c.width, c.height);
            centre_window(rc);
            resize(rc);
        }
        return 1;
    }
    case SCENE_TAG_WINDOW_POSITION: {
        scene_window_position c;
        if (!scene_read_window_position(s, &c))
            return 0;
        if (once && rc->window) {
            SDL_SetWindowPosition(rc->window, c.x, c.y);
            resize(rc);
        }
        return 1;
    }
    case SCENE_TAG_MOVE_TO_NEXT_DISPLAY:
        if (once && rc->window)
            move_to_next_display(rc);
        return 1;
    case SCENE_TAG_MAXIMIZE_WINDOW:
        if (once && rc->window) {
            SDL_MaximizeWindow(rc->window);
            resize(rc);
        }
        return 1;
    case SCENE_TAG_TOGGLE_ORIENTATION:
        if (once) {
            toggle_orientation(rc);
            if (rc->window) {
                SDL_SetWindowSize(rc->window, rc->logical_w, rc->logical_h);
                centre_window(rc);
            }
            resize(rc);
        }
        return 1;
    case SCENE_TAG_TOGGLE_HD_LETTERBOX:
        if (once) {
            cvar_force_set("game_metadata.hd_letterbox", cvar_game_metadata_hd_letterbox ? "false" : "true");
            resize(rc);
        }
        return 1;
    case SCENE_TAG_TOGGLE_ORIENTATION_NO_RESIZE:
        if (once) {
            toggle_orientation(rc);
            resize(rc);
        }
        return 1;
    case SCENE_TAG_RAISE_WINDOW:
        if (once && rc->window)
            SDL_RaiseWindow(rc->window);
        return 1;
    default:
        return 1;
    }
}

// Opaque black over whatever lies outside the scaled canvas.
static void draw_letterbox(draw_state *st)
{
    const render_context *rc = st->rc;
    SDL_Renderer *r = st->renderer;
    const int ow = rc->output_w, oh = rc->output_h, ox = rc->offset_x, oy = rc->offset_y;
    const float s = rc->render_scale;
    const int dx = ow - to_int(s * rc->logical_w + 2.0f * ox);
    const int dy = oh - to_int(s * rc->logical_h + 2.0f * oy);
    const int l = dx == 0 ? ox : SDL_abs(dx) / 2 + ox;
    const int t = dy == 0 ? oy : SDL_abs(dy) / 2 + oy;
    if (l <= 0 && t <= 0)
        return;   // the canvas fills the output; empty rectangles would still paint an edge
    const SDL_Rect bars[4] = {{0, 0, l, oh}, {0, oh - t, ow, t}, {ow - l, 0, l, oh}, {0, 0, ow, t}};
    SDL_SetRenderDrawColor(r, 0, 0, 0, 255);
    SDL_SetRenderDrawBlendMode(r, SDL_BLENDMODE_NONE);
    for (const SDL_Rect &bar : bars)
        if (bar.w > 0 && bar.h > 0)
            SDL_RenderFillRect(r, &bar);
}

void draw_scene(render_context *rc, threadstream *scene, int commands_only, int replay)
{
    if (!rc || !scene)
        return;
    scene_rewind(scene);
    scene_frame_header header;
    if (!scene_read_frame_header(scene, &header))
        return;

    draw_state st;
    SDL_zero(st);
    st.rc = rc;
    st.renderer = rc->renderer;
    st.commands_only = commands_only;
    st.replay = replay;
    st.grid_set = SDL_AtomicGet(&rc->grid_set);
    st.into_window = 1;
    if (st.renderer) {
        SDL_SetRenderTarget(st.renderer, rc->default_target);
        st.target = rc->default_target;
    }

    int stopped = 0;
    Sint32 tag;
    while (!threadstream_eos(scene) && scene_read_tag(scene, &tag)) {
        int ok = 1;
        switch (tag) {
        case SCENE_TAG_PADDING:
            break;
        case SCENE_TAG_GRID:
            ok = read_grid(&st, scene);
            break;
        case SCENE_TAG_PASSES:
            ok = draw_passes(&st, scene);
            break;
        case SCENE_TAG_SCREENSHOT: {
            scene_screenshot shot;
            ok = scene_read_screenshot(scene, &shot);
            if (ok && !replay)
                take_screenshot(&st, &shot);
            break;
        }
        case SCENE_TAG_A11Y_NODES:
            ok = scene_skip_a11y_nodes(scene);   // no platform accessibility layer here
            break;
        default:
            if (!scene_tag_is_top_level(tag)) {
                stopped = 1;   // the format has no lengths: nothing after an unknown record can be found
                break;
            }
            ok = run_command(&st, scene, tag);
            break;
        }
        if (stopped || !ok)
            break;
    }
    if (!stopped && !commands_only && st.renderer && cvar_game_metadata_hd_letterbox)
        draw_letterbox(&st);
}

// ---------------------------------------------------------------------------
// The frame

static void measure_frame_rate(render_context *rc)
{
    rc->frames_drawn++;
    SDL_AtomicSet(&rc->render_fps_published, (int)fps_iteration(&rc->render_fps));
}

int draw_iteration(render_context *rc)
{
    int last = SDL_AtomicGet(&atomic_last_completed_global_tick_count);
    if (last >= 0 && last == rc->last_drawn_global_tick && !SDL_AtomicGet(&sleep_occurred_flag)) {
        SDL_Delay(1);
        return 0;
    }

    poll_events(rc);
    SDL_SetRenderTarget(rc->renderer, rc->default_target);

    int waiting = threadstreamqueue_getcount(rc->scene_queue);
    threadstream *scene = nullptr;
    int replay = 0, superseded = 0;
    if (waiting > 0) {
        renderstream_queue_scene(rc->current_scene);
        rc->current_scene = nullptr;
        scene = threadstreamqueue_getitem(rc->scene_queue);
        threadstream *next;
        while (scene && (next = threadstreamqueue_getitem(rc->scene_queue)) != nullptr) {
            draw_scene(rc, scene, 1, 0);
            renderstream_queue_scene(scene);
            scene = next;
            superseded++;
        }
    } else {
        scene = rc->current_scene;
        replay = 1;
    }

    if (scene) {
        rc->clear_pending = 1;
        draw_scene(rc, scene, 0, replay);
        if (rc->clear_pending) {
            SDL_SetRenderDrawColor(rc->renderer, rc->clear_r, rc->clear_g, rc->clear_b, 255);
            SDL_RenderClear(rc->renderer);
        }
        scene_rewind(scene);
        rc->current_scene = scene;
    } else {
        SDL_SetRenderDrawColor(rc->renderer, 0, 0, 0, 255);
        SDL_RenderClear(rc->renderer);
    }

    SDL_RenderPresent(rc->renderer);
    if (!rc->keyboard_focus && cvar_renderer_background_sleep)
        SDL_Delay(cvar_renderer_background_sleep);

    measure_frame_rate(rc);
    rc->last_drawn_global_tick = last;
    return superseded;
}
