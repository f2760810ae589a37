#include <gtest/gtest.h>

#include "platform/List.h"

namespace {

int a, b, c, d;

TEST(ListTest, KeepsOrderThroughAddsAndRemoves) {
  BList list(2);
  EXPECT_TRUE(list.IsEmpty());
  EXPECT_EQ(list.FirstItem(), nullptr);
  list.AddItem(&a);
  list.AddItem(&c);
  list.AddItem(&b, 1);
  ASSERT_EQ(list.CountItems(), 3);
  EXPECT_EQ(list.ItemAt(0), &a);
  EXPECT_EQ(list.ItemAt(1), &b);
  EXPECT_EQ(list.ItemAt(2), &c);
  EXPECT_EQ(list.ItemAt(3), nullptr);
  EXPECT_EQ(list.ItemAt(-1), nullptr);
  EXPECT_FALSE(list.AddItem(&d, 5));

  EXPECT_EQ(list.RemoveItem(int32(0)), &a);
  EXPECT_EQ(list.RemoveItem(int32(7)), nullptr);
  EXPECT_TRUE(list.RemoveItem(static_cast<void*>(&c)));
  EXPECT_FALSE(list.RemoveItem(static_cast<void*>(&c)));
  EXPECT_TRUE(list.HasItem(&b));
  EXPECT_FALSE(list.HasItem(&a));
  EXPECT_EQ(list.FirstItem(), &b);
  list.MakeEmpty();
  EXPECT_EQ(list.CountItems(), 0);
}

TEST(ListTest, AddListAppendsInOrderAndRemoveItemsTakesARange) {
  BList list, other;
  list.AddItem(&a);
  other.AddItem(&b);
  other.AddItem(&c);
  list.AddList(&other);
  list.AddList(&list);
  ASSERT_EQ(list.CountItems(), 6);
  EXPECT_EQ(list.ItemAt(2), &c);
  EXPECT_EQ(list.ItemAt(3), &a);
  EXPECT_FALSE(list.RemoveItems(4, 3));
  EXPECT_TRUE(list.RemoveItems(1, 3));
  ASSERT_EQ(list.CountItems(), 3);
  EXPECT_EQ(list.ItemAt(0), &a);
  EXPECT_EQ(list.ItemAt(1), &b);
}

}  // namespace
