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

// A batch lands exactly where Add one by one would put it, keeping each
// entry's folder and the current entry.
TEST(TableList, AddAllPlacesEntriesAsAddDoes) {
  const std::vector<ListEntry> batch = {
      {"orders", "a"}, {"Customer", ""}, {"ORDERS", "b"}, {"Zeta", "c"}, {"alpha", "d"},
      {"Über", "e"},   {"éclair", "f"},  {"ECLAIR", "g"}, {"eclair", "h"}, {"", "i"},
      {"ß", "j"},      {"Σ", "k"},       {"a_b", "l"},    {"a b", "m"},   {"AB", "n"}};
  for (const std::vector<std::string>& before :
       {std::vector<std::string>{}, {"Orders", "beta", "zz"}, {"ORDERs"}}) {
    MemoryTableList one_by_one, batched;
    for (const std::string& n : before) {
      one_by_one.Add(n);
      batched.Add(n);
    }
    if (!before.empty()) batched.SetCurrentIndex(0);
    const std::string current = before.empty() ? "" : batched.Text(0);
    for (const ListEntry& e : batch) one_by_one.Add(e.name);
    batched.AddAll(batch);
    EXPECT_EQ(batched.Names(), one_by_one.Names());
    for (int i = 0; i < batched.Count(); ++i) {
      std::string folder;
      for (const ListEntry& e : batch) {
        if (e.name == batched.Text(i)) folder = e.folder;
      }
      EXPECT_EQ(batched.Folder(i), folder) << batched.Text(i);
    }
    if (!before.empty()) {
      EXPECT_EQ(batched.Text(batched.CurrentIndex()), current);
    }
  }
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
