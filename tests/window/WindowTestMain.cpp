#include <QCoreApplication>
#include <QEventLoop>
#include <cstdlib>
#include <gtest/gtest.h>

#include "WindowFixture.h"
#include "platform/File.h"
#include "platform/Resources.h"

namespace {
TestApp* app = nullptr;
}

TestApp* test_app() { return app; }

BMessage window_archive() {
  BFile self("/proc/self/exe", B_READ_ONLY);
  BResources resources;
  EXPECT_EQ(resources.SetTo(&self), B_OK);
  size_t size = 0;
  const void* bytes = resources.FindResource(four_cc("ARCV"), "W_Tarnwickloft", &size);
  BMessage archive;
  EXPECT_NE(bytes, nullptr);
  if (bytes != nullptr) {
    EXPECT_EQ(archive.Unflatten(static_cast<const char*>(bytes), ssize_t(size)), B_OK);
  }
  return archive;
}

void drain() {
  for (int round = 0; round < 20; ++round) {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
}

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  testing::InitGoogleTest(&argc, argv);
  TestApp application;
  app = &application;
  return RUN_ALL_TESTS();
}
