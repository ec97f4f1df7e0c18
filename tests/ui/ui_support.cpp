#include "ui_support.hpp"

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <gtkmm/init.h>

#include <string>
#include <string_view>

#include "support/main_loop.hpp"

namespace irvelo::test {

namespace {

[[maybe_unused]] auto* const gtk_environment = ::testing::AddGlobalTestEnvironment(new GtkEnvironment);

}  // namespace

std::uint32_t rendered_pixel(Gtk::Widget& widget, int x, int y) {
  // Let pending style changes reach the widget first: they are applied in the
  // layout phase of the next frame, which ends before its "after-paint".
  if (GdkFrameClock* clock = gtk_widget_get_frame_clock(widget.gobj())) {
    bool painted = false;
    const gulong handler =
        g_signal_connect_swapped(clock, "after-paint", G_CALLBACK(+[](bool* flag) { *flag = true; }), &painted);
    gtk_widget_queue_draw(widget.gobj());
    EXPECT_TRUE(run_until([&] { return painted; })) << "no frame was drawn";
    g_signal_handler_disconnect(clock, handler);
  }
  const int w = widget.get_width(), h = widget.get_height();
  if (w <= 0 || h <= 0 || x >= w || y >= h) return 0;
  GdkPaintable* paintable = gtk_widget_paintable_new(widget.gobj());
  GtkSnapshot* snapshot = gtk_snapshot_new();
  gdk_paintable_snapshot(paintable, snapshot, w, h);
  g_object_unref(paintable);
  GskRenderNode* node = gtk_snapshot_free_to_node(snapshot);
  if (!node) return 0;
  GskRenderer* renderer = gtk_native_get_renderer(gtk_widget_get_native(widget.gobj()));
  GdkTexture* texture = gsk_renderer_render_texture(renderer, node, nullptr);
  gsk_render_node_unref(node);
  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(w) * h);
  gdk_texture_download(texture, reinterpret_cast<guchar*>(pixels.data()), static_cast<gsize>(w) * 4);
  g_object_unref(texture);
  return pixels[static_cast<std::size_t>(y) * w + x];
}

ShownWindow::ShownWindow(Gtk::Widget& child) {
  window_.set_child(child);
  window_.set_default_size(360, 200);
  window_.present();
  EXPECT_TRUE(run_until([this] { return window_.get_mapped(); })) << "window never mapped";
}

ShownWindow::~ShownWindow() {
  window_.unset_child();
  window_.hide();
  drain_events();
}

}  // namespace irvelo::test
