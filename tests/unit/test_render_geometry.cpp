// Canvas geometry as pure functions: HD render-scale snapping and clamping,
// scale percent, letterbox offsets, standard mode, and the window size asked
// for on a given display.
#include <gtest/gtest.h>

#include "render/render_context.h"

TEST(RenderGeometry, HdScaleSnappingPercentAndOffsets)
{
    struct row {
        int lw, lh, ow, oh, max_scale;
        float scale;
        int percent, off_x, off_y;
    } rows[] = {
        {1280, 720, 2560, 1440, 0, 2.0f, 200, 0, 0},
        {1280, 720, 2560, 1600, 0, 2.0f, 200, 0, 80},
        {1280, 720, 1366, 768, 400, 1.0f, 100, 43, 24},       // snapped down to 1.0
        {1280, 720, 1366, 768, 0, 768.0f / 720, 100, 0, 0},   // unsnapped: the exact ratio
        {1280, 720, 7680, 4320, 400, 4.0f, 400, 1280, 720},
        {1280, 720, 7680, 4320, 300, 3.0f, 300, 1920, 1080},
        {1280, 720, 2240, 1260, 400, 1.75f, 175, 0, 0},
        {1280, 720, 1920, 1080, 125, 1.25f, 125, 160, 90},   // clamped by the maximum
        {1280, 720, 200, 100, 400, 0.1f, 100, 35, 13},        // below the smallest step (0.1f truncates down)
        {720, 1280, 1440, 2560, 400, 2.0f, 200, 0, 0},        // portrait
        {720, 1280, 1080, 1920, 400, 1.5f, 150, 0, 0},
    };
    for (const row &r : rows) {
        render_geometry g;
        render_geometry_compute(r.lw, r.lh, r.ow, r.oh, r.ow, r.oh, 1, r.max_scale, &g);
        SCOPED_TRACE(testing::Message() << r.ow << "x" << r.oh << " max " << r.max_scale);
        EXPECT_FLOAT_EQ(g.render_scale, r.scale);
        EXPECT_EQ(g.scale_percent, r.percent);
        EXPECT_EQ(g.offset_x, r.off_x);
        EXPECT_EQ(g.offset_y, r.off_y);
        EXPECT_FLOAT_EQ(g.pixel_density, 1.0f);
    }
}

TEST(RenderGeometry, UnsnappedValuesAndPixelDensityAreKeptBeside)
{
    render_geometry g;
    render_geometry_compute(1280, 720, 683, 384, 1366, 768, 1, 400, &g);
    EXPECT_FLOAT_EQ(g.unsnapped_scale, 768.0f / 720);
    EXPECT_EQ(g.unsnapped_offset_x, 0);
    EXPECT_EQ(g.unsnapped_offset_y, 0);
    EXPECT_FLOAT_EQ(g.pixel_density, 2.0f);
}

TEST(RenderGeometry, StandardModeIsTheIdentity)
{
    render_geometry g;
    render_geometry_compute(1280, 720, 1024, 576, 1024, 576, 0, 400, &g);
    EXPECT_FLOAT_EQ(g.render_scale, 1.0f);
    EXPECT_FLOAT_EQ(g.pixel_density, 1.0f);
    EXPECT_EQ(g.scale_percent, 100);
    EXPECT_EQ(g.offset_x, 0);
    EXPECT_EQ(g.offset_y, 0);
}

TEST(RenderGeometry, RequestedWindowFitsTheDisplayKeepingTheAspect)
{
    struct row {
        int lw, lh, dw, dh, w, h;
    } rows[] = {
        {1280, 720, 1920, 1080, 1280, 720},
        {1280, 720, 1024, 768, 1024, 576},   // narrower than the canvas
        {1280, 720, 1280, 1024, 1280, 720},  // as wide: still fitted
        {720, 1280, 1024, 768, 432, 768},    // portrait on a short display
        {1280, 720, 0, 0, 1280, 720},        // display unknown
    };
    for (const row &r : rows) {
        int w = 0, h = 0;
        render_requested_window_size(r.lw, r.lh, r.dw, r.dh, &w, &h);
        EXPECT_EQ(w, r.w) << r.dw << "x" << r.dh;
        EXPECT_EQ(h, r.h) << r.dw << "x" << r.dh;
    }
}
