// FFI::Draw: the 46 native methods the runtime library calls to draw and to
// command the window. At this stage only the grid record is written; the
// primitive and window methods accept their arguments and answer nil until
// the packers and window commands land. Depends on mruby, the thread streams
// and the simulation's current scene stream.
#include "render/ffi_draw.h"

#include <mruby.h>
#include <mruby/class.h>

#include "engine/engine.h"
#include "render/scene.h"
#include "stream/threadstream.h"

static mrb_value draw_pending(mrb_state *mrb, mrb_value self) { return mrb_nil_value(); }

static double number_arg(mrb_value v)
{
    if (mrb_float_p(v))
        return mrb_float(v);
    if (mrb_fixnum_p(v))
        return (double)mrb_fixnum(v);
    return 0.0;
}

// set_grid(origin x, origin y, n): the grid record of this step's scene.
static mrb_value draw_set_grid(mrb_state *mrb, mrb_value self)
{
    mrb_value ox, oy, n;
    mrb_get_args(mrb, "ooo", &ox, &oy, &n);
    double direction = number_arg(n);
    scene_grid grid = {(float)number_arg(ox), (float)number_arg(oy),
                       direction != direction ? 0 : (Sint32)SDL_clamp(direction, -2147483648.0, 2147483647.0)};
    scene_write_grid(simulation_current_stream(), &grid);
    return mrb_nil_value();
}

static const char *const pending_methods[] = {
    "draw_triangle", "draw_triangle_2", "draw_solid", "draw_solid_2", "draw_solid_3", "draw_sprite",
    "draw_sprite_2", "draw_sprite_3", "draw_sprite_4", "draw_sprite_5", "draw_sprite_6", "draw_label",
    "draw_label_2", "draw_label_3", "draw_label_4", "draw_label_5", "draw_line", "draw_line_2", "draw_border",
    "draw_border_2", "draw_border_3", "draw_screenshot",
    nullptr,   // set_grid
    "unload_sprite", "set_cursor", "set_system_cursor", "toggle_cursor", "raise_window", "set_mouse_grab",
    "toggle_fullscreen", "set_window_scale", "set_window_size", "set_window_position", "set_window_title",
    "move_window_to_next_display", "maximize_window", "toggle_orientation", "toggle_orientation_no_resize",
    "set_scale_quality", "set_hd_max_scale", "toggle_hd_letterbox", "upload_pixel_array", "openurl",
    "simulate_render_targets_reset", "simulate_render_device_reset", "draw_a11ys",
};

void ffi_draw_define(mrb_state *mrb)
{
    RClass *ffi = mrb_module_get(mrb, "FFI");
    RClass *draw = mrb_define_class_under(mrb, ffi, "Draw", mrb->object_class);
    for (const char *name : pending_methods) {
        if (name)
            mrb_define_method(mrb, draw, name, draw_pending, MRB_ARGS_ANY());
        else
            mrb_define_method(mrb, draw, "set_grid", draw_set_grid, MRB_ARGS_REQ(3));
    }
}
