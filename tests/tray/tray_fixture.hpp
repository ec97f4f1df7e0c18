#pragma once

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "test_host.hpp"
#include "ui/tray.hpp"

namespace irvelo::test {

// Each test gets a session bus of its own, so that tests running in parallel
// never meet each other's watcher or items.
class TrayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bus_ = g_test_dbus_new(G_TEST_DBUS_NONE);
    g_test_dbus_up(bus_);
    address_ = g_test_dbus_get_bus_address(bus_);
    host_ = std::make_unique<TestHost>(address_);
  }

  void TearDown() override {
    tray_.reset();
    host_.reset();
    g_test_dbus_down(bus_);
    g_object_unref(bus_);
  }

  ui::Tray& make_tray() {
    tray_ = std::make_unique<ui::Tray>();
    tray_->signal_available().connect([this](bool value) { availability.push_back(value); });
    tray_->signal_activate().connect([this] { ++activations; });
    return *tray_;
  }

  GTestDBus* bus_ = nullptr;
  std::string address_;
  std::unique_ptr<TestHost> host_;
  std::unique_ptr<ui::Tray> tray_;
  std::vector<bool> availability;
  int activations = 0;
};

}  // namespace irvelo::test
