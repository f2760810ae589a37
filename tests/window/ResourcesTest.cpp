#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <string>

#include "TempTree.h"
#include "WindowFixture.h"
#include "platform/File.h"
#include "platform/Resources.h"

namespace {

BResources own_resources() {
  BFile self("/proc/self/exe", B_READ_ONLY);
  BResources resources;
  EXPECT_EQ(resources.SetTo(&self), B_OK);
  return resources;
}

std::string resource(const BResources& resources, const char (&type)[5], const char* name) {
  size_t size = 0;
  const void* bytes = resources.FindResource(four_cc(type), name, &size);
  return bytes ? std::string(static_cast<const char*>(bytes), size) : "(missing)";
}

TEST(ResourcesTest, TheApplicationResourcesHoldTheirValues) {
  BResources resources = own_resources();
  EXPECT_EQ(resources.CountResources(), 5);
  EXPECT_EQ(resource(resources, "MIMS", "BEOS:TYPE"),
            std::string("application/x-vnd.Be-elfexecutable\0", 35));
  EXPECT_EQ(resource(resources, "MIMS", "BEOS:APP_SIG"),
            std::string("application/x-vnd.TaRnWiCkLoFt\0", 31));
  EXPECT_EQ(resource(resources, "APPF", "BEOS:APP_FLAGS"), std::string("\1\0\0\0", 4));
  std::string types = resource(resources, "MSGG", "BEOS:FILE_TYPES");
  BMessage message;
  ASSERT_EQ(message.Unflatten(types.data(), ssize_t(types.size())), B_OK);
  EXPECT_EQ(message.what, four_cc("MIME"));
  std::vector<std::string> listed;
  const char* type;
  for (int32 i = 0; message.FindString("types", i, &type) == B_OK; ++i) listed.push_back(type);
  EXPECT_EQ(listed, (std::vector<std::string>{"text", "message/x-Tarnwickloft",
                                              "application/x-vnd.Be-directory"}));
}

struct ArchivedView {
  std::string className, parent;
  BRect frame;
  int32 mode;
  BMessage archive;
};

void collect(const BMessage& archive, const std::string& parent,
             std::map<std::string, ArchivedView>* views, std::vector<std::string>* order) {
  BMessage child;
  for (int32 i = 0; archive.FindMessage("_views", i, &child) == B_OK; ++i) {
    const char *name = "", *className = "";
    child.FindString("_name", &name);
    child.FindString("class", &className);
    ArchivedView view{className, parent, BRect(), 0, child};
    child.FindRect("_frame", &view.frame);
    child.FindInt32("_resize_mode", &view.mode);
    std::string key = std::string(name) == "_input_" ? parent + "/_input_" : name;
    (*views)[key] = view;
    order->push_back(key);
    collect(child, name, views, order);
  }
}

TEST(ResourcesTest, TheWindowArchiveHoldsTheWindowAndEveryView) {
  BMessage archive = window_archive();
  const char* text;
  ASSERT_EQ(archive.FindString("class", &text), B_OK);
  EXPECT_STREQ(text, "BWindow");
  ASSERT_EQ(archive.FindString("_title", &text), B_OK);
  EXPECT_STREQ(text, "Tarnwickloft");
  BRect frame;
  ASSERT_EQ(archive.FindRect("_frame", &frame), B_OK);
  EXPECT_EQ(frame, BRect(157, 92, 430, 417));
  float limit;
  std::vector<float> limits;
  for (int32 i = 0; archive.FindFloat("_sizel", i, &limit) == B_OK; ++i) limits.push_back(limit);
  EXPECT_EQ(limits, (std::vector<float>{100, 150, 1000, 1000}));

  std::map<std::string, ArchivedView> views;
  std::vector<std::string> order;
  collect(archive, "window", &views, &order);
  struct Expected {
    const char* name;
    const char* className;
    const char* parent;
    BRect frame;
    int32 mode;
  } expected[] = {
      {"V_Background", "BView", "window", {0, -2, 277, 329}, 0x1234},
      {"TC_SearchFor", "BTextControl", "V_Background", {10, 69, 262, 89}, 0x1214},
      {"TC_SearchFor/_input_", "_BTextInput_", "TC_SearchFor", {63, 3, 249, 16}, 0x1214},
      {"TC_SearchDir", "BTextControl", "V_Background", {10, 47, 262, 65}, 0x1214},
      {"TC_SearchDir/_input_", "_BTextInput_", "TC_SearchDir", {63, 3, 249, 16}, 0x1214},
      {"B_Search", "BButton", "V_Background", {96, 98, 169, 128}, 0x1515},
      {"SV_Matches", "BScrollView", "V_Background", {11, 142, 262, 318}, 0x1234},
      {"LV_Matches", "BListView", "SV_Matches", {2, 2, 235, 160}, 0x1234},
      {"_VSB_", "BScrollBar", "SV_Matches", {236, 1, 250, 161}, 0x1434},
      {"_HSB_", "BScrollBar", "SV_Matches", {1, 161, 236, 175}, 0x3234},
      {"TC_File", "BTextControl", "V_Background", {67, 25, 262, 44}, 0x1214},
      {"TC_File/_input_", "_BTextInput_", "TC_File", {6, 3, 192, 16}, 0x1214},
      {"B_OpenFile", "BButton", "V_Background", {11, 24, 64, 43}, 0x1212},
  };
  std::vector<std::string> expectedOrder;
  for (const Expected& e : expected) {
    expectedOrder.push_back(e.name);
    ASSERT_TRUE(views.count(e.name)) << e.name;
    const ArchivedView& view = views[e.name];
    EXPECT_EQ(view.className, e.className) << e.name;
    EXPECT_EQ(view.parent, e.parent) << e.name;
    EXPECT_EQ(view.frame, e.frame) << e.name;
    EXPECT_EQ(view.mode, e.mode) << e.name;
  }
  EXPECT_EQ(order, expectedOrder);  // the stored order is the drawing and navigation order
}

uint32 message_code(const BMessage& archive, const char* field) {
  BMessage message;
  return archive.FindMessage(field, &message) == B_OK ? message.what : 0;
}

uint32 flattened_code(const BMessage& archive, const char* field) {
  const void* bytes;
  ssize_t size;
  BMessage message;
  if (archive.FindData(field, B_RAW_TYPE, &bytes, &size) != B_OK) return 0;
  return message.Unflatten(static_cast<const char*>(bytes), size) == B_OK ? message.what : 0;
}

TEST(ResourcesTest, LabelsTextsCodesAndTheDefaultButton) {
  std::map<std::string, ArchivedView> views;
  std::vector<std::string> order;
  collect(window_archive(), "window", &views, &order);
  auto string = [&](const char* view, const char* field) {
    const char* text = "(missing)";
    views[view].archive.FindString(field, &text);
    return std::string(text);
  };
  EXPECT_EQ(string("TC_SearchFor", "_label"), "Search For:");
  EXPECT_EQ(string("TC_SearchDir", "_label"), "Search Dir:");
  EXPECT_EQ(string("TC_File", "_label"), "(missing)");
  EXPECT_EQ(string("B_Search", "_label"), "Search");
  EXPECT_EQ(string("B_OpenFile", "_label"), "File:");
  EXPECT_EQ(string("TC_SearchDir/_input_", "_text"), "/boot/beos/documentation/Be Book");
  EXPECT_EQ(string("TC_SearchFor/_input_", "_text"), "");
  EXPECT_EQ(message_code(views["B_Search"].archive, "_msg"), four_cc("srcb"));
  EXPECT_EQ(message_code(views["B_OpenFile"].archive, "_msg"), four_cc("filb"));
  EXPECT_EQ(message_code(views["TC_File"].archive, "_msg"), four_cc("srcf"));
  EXPECT_EQ(message_code(views["TC_SearchDir"].archive, "_msg"), 24u);
  EXPECT_EQ(message_code(views["TC_SearchFor"].archive, "_msg"), 0u);
  EXPECT_EQ(flattened_code(views["TC_SearchFor"].archive, "_mod_msg"), four_cc("srcs"));
  EXPECT_EQ(flattened_code(views["TC_SearchDir"].archive, "_mod_msg"), four_cc("srcd"));
  EXPECT_EQ(flattened_code(views["TC_File"].archive, "_mod_msg"), 0u);
  bool isDefault = false;
  EXPECT_EQ(views["B_Search"].archive.FindBool("_default", &isDefault), B_OK);
  EXPECT_TRUE(isDefault);
  float divider = -1;
  views["TC_SearchFor"].archive.FindFloat("_divide", &divider);
  EXPECT_EQ(divider, 57);
}

TEST(ResourcesTest, TheResourceSectionSurvivesStrip) {
  TempTree tree;
  std::string copy = tree.path("stripped");
  std::filesystem::copy_file("/proc/self/exe", copy);
  ASSERT_EQ(system(("strip --strip-all '" + copy + "'").c_str()), 0);
  BFile file(copy.c_str(), B_READ_ONLY);
  BResources resources;
  ASSERT_EQ(resources.SetTo(&file), B_OK);
  EXPECT_NE(resources.FindResource(four_cc("ARCV"), "W_Tarnwickloft", nullptr), nullptr);
}

TEST(ResourcesTest, DamagedContainersAndFilesWithoutResourcesFail) {
  std::string good = BResources::Flatten({{four_cc("TEST"), 7, "name", "data"}});
  BResources resources;
  ASSERT_EQ(resources.SetTo(good.data(), good.size()), B_OK);
  size_t size = 0;
  const void* data = resources.FindResource(four_cc("TEST"), "name", &size);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(std::string(static_cast<const char*>(data), size), "data");
  EXPECT_EQ(resources.FindResource(four_cc("TEST"), "other", nullptr), nullptr);
  for (size_t cut = 0; cut < good.size(); ++cut)
    EXPECT_EQ(resources.SetTo(good.data(), cut), B_BAD_DATA) << cut;
  std::string huge = good;
  huge[8] = char(0xff);  // a count no container of this size can hold
  EXPECT_EQ(resources.SetTo(huge.data(), huge.size()), B_BAD_DATA);

  TempTree tree;
  std::string text = tree.file("plain.txt", "not an executable");
  BFile file(text.c_str(), B_READ_ONLY);
  EXPECT_EQ(resources.SetTo(&file), B_BAD_DATA);
  BFile tool("/bin/true", B_READ_ONLY);  // an executable without our section
  EXPECT_EQ(resources.SetTo(&tool), B_BAD_DATA);
  EXPECT_EQ(resources.CountResources(), 0);
}

}  // namespace
