#include <gtest/gtest.h>

#include "ui/memory_surfaces.h"

namespace corvane::ui {
namespace {

TEST(TableList, AddKeepsCaseInsensitiveOrder) {
  MemoryTableList list;
  for (const char* n : {"orders", "Customer", "ITEMS", "alpha", "Orders"}) list.Add(n);
  EXPECT_EQ(list.Names(),
            (std::vector<std::string>{"alpha", "Customer", "ITEMS", "orders", "Orders"}));
}

TEST(TableList, ContainsIgnoresCaseAndRemoveIsExact) {
  MemoryTableList list;
  list.Add("Orders");
  list.Add("orders");
  EXPECT_TRUE(ListContains(list, "ORDERS"));
  RemoveFromList(list, "orders");
  EXPECT_EQ(list.Names(), (std::vector<std::string>{"Orders"}));
  MemoryTableList empty;
  EXPECT_FALSE(ListContains(empty, ""));
}

TEST(TableList, RemoveTakesEveryExactDuplicate) {
  MemoryTableList list;
  for (const char* n : {"ORDERS", "A", "ORDERS", "Z"}) list.Add(n);
  RemoveFromList(list, "ORDERS");
  EXPECT_EQ(list.Names(), (std::vector<std::string>{"A", "Z"}));
}

TEST(TableList, SelectAllAndCurrentIndex) {
  MemoryTableList list;
  EXPECT_EQ(list.CurrentIndex(), -1);
  SelectAll(list);  // empty: nothing happens
  for (const char* n : {"b", "a", "c"}) list.Add(n);
  SelectAll(list);
  EXPECT_EQ(list.SelectedCount(), 3);
  DeselectAll(list);
  EXPECT_EQ(list.SelectedCount(), 0);
  list.SetCurrentIndex(0);
  EXPECT_EQ(list.CurrentIndex(), 0);
  EXPECT_FALSE(list.Selected(0));  // current is not selected
  list.RemoveAt(0);
  EXPECT_EQ(list.CurrentIndex(), -1);
}

}  // namespace
}  // namespace corvane::ui

namespace corvane::ui {
namespace {

TEST(TableList, CaseRulesCoverNonAsciiLetters) {
  EXPECT_EQ(LowerCase("ÜBERWEISUNG Ölß"), "überweisung ölß");
  EXPECT_EQ(LowerCase("ЗАКАЗЫ"), "заказы");
  EXPECT_EQ(LowerCase(std::string("A\xff"
                                  "B")),
            std::string("a\xff"
                        "b"));
  MemoryTableList list;
  list.Add("Zebra");
  list.Add("überweisung");
  list.Add("Apfel");
  EXPECT_TRUE(ListContains(list, "ÜBERWEISUNG"));
  list.Add("with space");
  list.Add("Ünïcödé");
  list.Add("épée");
  list.Add("Eve");
  EXPECT_EQ(list.Names(), (std::vector<std::string>{"Apfel", "épée", "Eve", "überweisung",
                                                    "Ünïcödé", "with space", "Zebra"}));
}

}  // namespace
}  // namespace corvane::ui
