// Drawing targets and drawing passes: one pass open at a time, on the current
// window, the current image or a target some other service makes.
#include "image/drawing.h"

#include "drawing_pass.h"
#include "image/image.h"
#include "window/window.h"

#ifndef _WIN64
static_assert(sizeof(DrawingTarget) == 48, "twelve 32-bit fields");
#endif

static struct DrawingService {
    DrawingState pass;
    DrawingTarget window_target;
    DrawingTarget image_target;
    HDC image_dc; // the one memory context an image may be selected into
    HBRUSH default_brush;
    HPEN default_pen;
} drawing;

void drawing_init()
{
    drawing = DrawingService{};
    drawing.window_target.kind = TARGET_WINDOW;
    drawing.default_brush = ::CreateSolidBrush(0);
    drawing.default_pen = ::CreatePen(PS_SOLID, 0, 0);
}

DrawingState* drawing_pass()
{
    return drawing.pass.dc ? &drawing.pass : nullptr;
}

DrawingTarget* window_output()
{
    drawing.window_target.window = window_current();
    return &drawing.window_target;
}

bool image_dc_holds(HGDIOBJ bitmap)
{
    return drawing.image_dc && bitmap && ::GetCurrentObject(drawing.image_dc, OBJ_BITMAP) == bitmap;
}

void image_dc_release()
{
    if (!drawing.image_dc) return;
    // A pass still drawing into the image DC ends first, so nothing draws
    // into the context after it is gone; its release brings us back here.
    if (drawing.pass.dc == drawing.image_dc) {
        drawing_end();
        if (!drawing.image_dc) return;
    }
    ::DeleteDC(drawing.image_dc);
    drawing.image_dc = nullptr;
    // A target handed out earlier must not open a pass on the deleted context.
    drawing.image_target.dc = nullptr;
}

DrawingTarget* image_output()
{
    HGDIOBJ bitmap = image_handle();
    if (!bitmap) return nullptr;
    image_dc_release();
    drawing.image_dc = ::CreateCompatibleDC(nullptr);
    if (!drawing.image_dc) return nullptr;
    if (!::SelectObject(drawing.image_dc, bitmap)) return nullptr;
    drawing.image_target.kind = TARGET_IMAGE;
    drawing.image_target.dc = drawing.image_dc;
    drawing.image_target.release = image_dc_release;
    return &drawing.image_target;
}

HDC drawing_begin(DrawingTarget* target)
{
    drawing_end();
    if (!target) return nullptr;
    DrawingState& pass = drawing.pass;
    pass.kind = target->kind;
    pass.window = target->window;
    pass.release = target->release;
    pass.mode = 0;
    if (target->kind == TARGET_WINDOW) {
        // No window yet, or the screen would be drawn on through GetDC(0).
        pass.dc = target->window ? ::GetDC(target->window) : nullptr;
    } else {
        pass.dc = target->dc;
    }
    pass.surface = SurfaceFields{};
    if (target->kind == TARGET_SURFACE) {
        pass.surface = SurfaceFields{target->pixels,         target->pitch,    target->width,  target->height,
                                     target->bits_per_pixel, target->reserved, target->get_dc, target->get_pixels};
    }
    pass.access = ACCESS_DC;
    if (!pass.dc) return nullptr;
    ::SetTextAlign(pass.dc, TA_UPDATECP);
    pass.saved_brush = ::SelectObject(pass.dc, drawing.default_brush);
    pass.saved_pen = ::SelectObject(pass.dc, drawing.default_pen);
    pass.colour = 0;
    pass.brush = ::CreateSolidBrush(0);
    ::SetTextColor(pass.dc, 0);
    return pass.dc;
}

void drawing_end()
{
    DrawingState& pass = drawing.pass;
    if (!pass.dc) return;
    HDC dc = pass.dc;
    ::SelectObject(dc, pass.saved_brush);
    ::SelectObject(dc, pass.saved_pen);
    if (pass.brush) ::DeleteObject(pass.brush);
    pass.brush = nullptr;
    // Closed before the release runs, so a release that comes back here
    // (image_dc_release does) finds nothing left to end.
    pass.dc = nullptr;
    switch (pass.kind) {
    case TARGET_WINDOW: ::ReleaseDC(pass.window, dc); break;
    case TARGET_IMAGE:
    case TARGET_DIB_DEVICE:
    case TARGET_SURFACE:
        if (pass.release) pass.release();
        break;
    default: ::DeleteDC(dc); break;
    }
}

void drawing_use_dc()
{
    DrawingState& pass = drawing.pass;
    if (!pass.dc || pass.kind != TARGET_SURFACE || pass.access != ACCESS_PIXELS) return;
    pass.access = ACCESS_DC;
    HDC dc = pass.surface.get_dc ? pass.surface.get_dc() : nullptr;
    if (!dc) return; // keep the context the pass began with rather than none
    pass.dc = dc;
    ::SetTextColor(dc, pass.colour);
    ::SetTextAlign(dc, TA_UPDATECP);
    // The brush first: outline mode then selects the null brush over it
    // rather than losing it to the current brush.
    ::SelectObject(dc, pass.brush);
    if (pass.mode) drawing_mode(pass.mode);
}
