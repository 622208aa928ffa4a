#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "BalTree.h"

namespace {

// Checks the AA invariants below t and returns the number of nodes on the longest path to a leaf.
int CheckAA(const TqvBalTree& tree, PqvBalNode t) {
  const PqvBalNode s = tree.Sentinel();
  if (t == s) return 0;
  if (t->left == s && t->right == s) {
    EXPECT_EQ(t->level, 1) << "leaf level";
  }
  if (t->left != s) {
    EXPECT_EQ(t->left->level + 1, t->level) << "left child one level down";
    EXPECT_LT(CompareNames(t->left->nm, t->nm), 0);
  } else {
    EXPECT_EQ(t->level, 1) << "a node without left child is at level 1";
  }
  if (t->right != s) {
    EXPECT_TRUE(t->right->level == t->level || t->right->level + 1 == t->level);
    EXPECT_LT(t->right->right->level, t->level) << "right grandchild below";
    EXPECT_GT(CompareNames(t->right->nm, t->nm), 0);
  }
  return 1 + std::max(CheckAA(tree, t->left), CheckAA(tree, t->right));
}

TEST(BalTree, ThreeNamesGiveRootWithTwoLeaves) {
  TqvBalTree tree;
  EXPECT_TRUE(tree.Insert(u"b", 0));
  EXPECT_TRUE(tree.Insert(u"a", 1));
  EXPECT_TRUE(tree.Insert(u"c", 2));
  const PqvBalNode root = tree.Root();
  EXPECT_EQ(root->nm, u"b");
  EXPECT_EQ(root->level, 2);
  EXPECT_EQ(root->left->nm, u"a");
  EXPECT_EQ(root->left->level, 1);
  EXPECT_EQ(root->right->nm, u"c");
  EXPECT_EQ(root->right->level, 1);
  EXPECT_EQ(tree.IndexOf(u"a"), 1);
  EXPECT_EQ(tree.counters(), u"Balanced tree root node level is 2");
}

TEST(BalTree, AscendingAlphabetStaysBalanced) {
  TqvBalTree tree;
  for (int i = 0; i < 26; ++i) {
    EXPECT_TRUE(tree.Insert(std::u16string(1, static_cast<char16_t>(u'a' + i)), i));
  }
  EXPECT_EQ(tree.Root()->nm, u"h");
  EXPECT_EQ(tree.Root()->level, 4);
  EXPECT_EQ(CheckAA(tree, tree.Root()), 7);
  for (int i = 0; i < 26; ++i) {
    EXPECT_EQ(tree.IndexOf(std::u16string(1, static_cast<char16_t>(u'a' + i))), i);
  }
}

TEST(BalTree, RepeatedNameKeepsFirstKey) {
  TqvBalTree tree;
  EXPECT_TRUE(tree.Insert(u"x", 3));
  EXPECT_FALSE(tree.Insert(u"x", 9));
  EXPECT_EQ(tree.IndexOf(u"x"), 3);
}

TEST(BalTree, EmptyTree) {
  TqvBalTree tree;
  EXPECT_EQ(tree.IndexOf(u"a"), -1);
  EXPECT_EQ(tree.IndexOf(u""), -1);
  EXPECT_EQ(tree.Root(), tree.Sentinel());
  EXPECT_EQ(tree.Sentinel()->left, tree.Sentinel());
  EXPECT_EQ(tree.Sentinel()->right, tree.Sentinel());
  EXPECT_EQ(tree.counters(), u"Balanced tree root node level is 0");
}

TEST(BalTree, NamesCompareByCodeUnits) {
  struct Case {
    std::u16string a, b;
    int expected;
  };
  const std::vector<Case> cases = {
      {u"B", u"b", -1},           {u"ab", u"abc", -1},        {u"", u"a", -1},
      {u"abc", u"abc", 0},        {u"\uFFFF", u"a", 1},  // unsigned: U+FFFF is the greatest
      {u"\u00e9", u"e\u0301", 1}, {u"\xD800", u"\uE000", -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CompareNames(c.a, c.b), c.expected);
    EXPECT_EQ(CompareNames(c.b, c.a), -c.expected);
  }

  TqvBalTree tree;
  const std::vector<std::u16string> names = {u"B", u"b", u"ab", u"abc", u"", u"\uFFFF", u"a"};
  for (std::size_t i = 0; i < names.size(); ++i) {
    EXPECT_TRUE(tree.Insert(names[i], static_cast<std::int32_t>(i)));
  }
  for (std::size_t i = 0; i < names.size(); ++i) EXPECT_EQ(tree.IndexOf(names[i]), int(i));
  EXPECT_EQ(tree.IndexOf(u"A"), -1);
  EXPECT_EQ(tree.IndexOf(u"abcd"), -1);
  CheckAA(tree, tree.Root());
}

TEST(BalTree, ClearThenReuse) {
  TqvBalTree tree;
  for (int i = 0; i < 100; ++i) tree.Insert(std::u16string{u'n', char16_t(i)}, i);
  tree.Clear();
  EXPECT_EQ(tree.Root(), tree.Sentinel());
  EXPECT_EQ(tree.IndexOf(u"n\x05"), -1);
  EXPECT_TRUE(tree.Insert(u"b", 0));
  EXPECT_TRUE(tree.Insert(u"a", 1));
  EXPECT_TRUE(tree.Insert(u"c", 2));
  EXPECT_EQ(tree.Root()->nm, u"b");
  EXPECT_EQ(tree.IndexOf(u"c"), 2);
}

TEST(BalTree, RandomInsertionsKeepInvariants) {
  std::mt19937 rng(12345);
  TqvBalTree tree;
  std::map<std::u16string, int> firstKey;
  for (int i = 0; i < 3000; ++i) {
    std::u16string name;
    const int len = static_cast<int>(rng() % 4);
    for (int k = 0; k < len; ++k) name.push_back(static_cast<char16_t>(u'a' + rng() % 6));
    const bool isNew = firstKey.emplace(name, i).second;
    EXPECT_EQ(tree.Insert(name, i), isNew);
  }
  const int height = CheckAA(tree, tree.Root());
  EXPECT_LE(height, 2 * tree.Root()->level);
  for (const auto& [name, key] : firstKey) EXPECT_EQ(tree.IndexOf(name), key);
}

}  // namespace
