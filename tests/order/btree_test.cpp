// The red-black tree against std::map in a long random run with its properties checked after every
// change, node reuse, the plain tree's modes and steps, and the printed form.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>

#include "runtime/order/btree.h"
#include "runtime/xar/xar.h"

namespace {

int by_key(int a, int b) { return (a > b) - (a < b); }

// Black height of the subtree, or -1 when a red-black or search-tree property fails.
int check(const btree_node* n, const btree_node* parent, long lo, long hi) {
  if (!n) return 1;
  const int colour = reinterpret_cast<const rbtree_node*>(n)->colour;
  if (n->parent != parent || n->key <= lo || n->key >= hi) return -1;
  if (colour == RBTREE_RED && parent &&
      reinterpret_cast<const rbtree_node*>(parent)->colour == RBTREE_RED)
    return -1;
  const int l = check(n->left, n, lo, n->key), r = check(n->right, n, n->key, hi);
  return l < 0 || l != r ? -1 : l + (colour == RBTREE_BLACK);
}

TEST(RedBlackTree, AgreesWithStdMapAndKeepsItsProperties) {
  btree* t = rbtree_create(0);
  std::map<int, btree_node*> model;
  std::mt19937 rng(13);
  for (int step = 0; step < 30000; ++step) {
    const int key = int(rng() % 2000) - 1000;
    const int action = int(rng() % 4);
    if (action == 0 || action == 1) {
      rbtree_node* n = rbtree_insert(t, key, by_key);
      EXPECT_EQ(n == nullptr, model.count(key) == 1);
      if (n) model[key] = &n->base;
    } else if (action == 2) {
      EXPECT_EQ(rbtree_delete(t, key, by_key), int(model.erase(key)));
    } else {
      btree_node *node, *lower, *upper;
      const int found = btree_find_neighbours(&t->root, key, by_key, &node, &lower, &upper);
      auto it = model.lower_bound(key);
      ASSERT_EQ(found, it != model.end() && it->first == key);
      if (found) {
        EXPECT_EQ(node->key, key);
        EXPECT_EQ(btree_find(t, key, by_key), node);
      } else {
        EXPECT_EQ(upper ? upper->key : INT32_MAX, it == model.end() ? INT32_MAX : it->first);
        EXPECT_EQ(lower ? lower->key : INT32_MIN,
                  it == model.begin() ? INT32_MIN : std::prev(it)->first);
      }
    }
    ASSERT_GE(check(t->root, nullptr, INT32_MIN, INT32_MAX), 0) << "step " << step;
    ASSERT_TRUE(!t->root || reinterpret_cast<rbtree_node*>(t->root)->colour == RBTREE_BLACK);
    if (step % 1000 == 0) {  // in-order walks both ways
      auto it = model.begin();
      for (btree_node* n = next_btree_node(&t->root, nullptr, BTREE_ASCENDING); n;
           n = next_btree_node(&t->root, n, BTREE_ASCENDING), ++it)
        ASSERT_EQ(n->key, it->first);
      EXPECT_EQ(it, model.end());
      auto rit = model.rbegin();
      for (btree_node* n = next_btree_node(&t->root, nullptr, BTREE_DESCENDING); n;
           n = next_btree_node(&t->root, n, BTREE_DESCENDING), ++rit)
        ASSERT_EQ(n->key, rit->first);
      EXPECT_EQ(rit, model.rend());
    }
  }
  // Freed nodes are reused: the pools never held more nodes than the most ever present at once.
  int handed_out = 0;
  for (int k = 0; k < XAR_COUNT(&t->pools); ++k) handed_out += t->pools[k].used;
  EXPECT_LE(handed_out, 2000);
  rbtree_free(&t);
  EXPECT_EQ(t, nullptr);
}

TEST(RedBlackTree, DeletingATwoChildNodeMovesTheKeyAndReusesTheNode) {
  btree* t = rbtree_create(4);
  for (int k = 1; k <= 7; ++k) rbtree_insert(t, k, by_key);
  EXPECT_GT(check(t->root, nullptr, INT32_MIN, INT32_MAX), 0);
  btree_node* z = btree_find(t, 2, by_key);
  ASSERT_TRUE(z->left && z->right);
  btree_node* successor = btree_find(t, 3, by_key);
  EXPECT_EQ(rbtree_delete_node(t, reinterpret_cast<rbtree_node*>(z)), 1);
  EXPECT_EQ(z->key, 3);
  EXPECT_EQ(&rbtree_insert(t, 10, by_key)->base, successor);
  testing::internal::CaptureStdout();
  btree* one = rbtree_create(0);
  rbtree_insert(one, 42, by_key);
  rbtree_print(&one->root, [](int key) { printf("%d", key); });
  fflush(stdout);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "  [B] 42\n\n\n");
  rbtree_free(&one);
  rbtree_free(&t);
}

TEST(PlainTree, ModesStepsAndNeighbours) {
  btree* t = btree_create(0);
  for (int k : {5, 3, 8}) ASSERT_NE(btree_insert(t, k, by_key, BTREE_UNIQUE), nullptr);
  std::string up, down;
  for (btree_node* n = next_btree_node(&t->root, nullptr, 0); n;
       n = next_btree_node(&t->root, n, 0))
    up += std::to_string(n->key);
  for (btree_node* n = next_btree_node(&t->root, nullptr, 1); n;
       n = next_btree_node(&t->root, n, 1))
    down += std::to_string(n->key);
  EXPECT_EQ(up + down, "358853");
  btree_node* five = btree_find(t, 5, by_key);
  btree_node* got = nullptr;
  EXPECT_EQ(insert_into_btree(t, &got, 5, by_key, BTREE_UNIQUE), 0);
  EXPECT_EQ(got, five);
  btree_node* left = btree_insert(t, 5, by_key, BTREE_DUP_LEFT);
  btree_node* right = btree_insert(t, 5, by_key, BTREE_DUP_RIGHT);
  EXPECT_EQ(five->left->right, left);  // right of 3, the largest key left of 5
  EXPECT_EQ(five->right->left, right);
  btree_node *node, *lower, *upper;
  EXPECT_EQ(btree_find_neighbours(&t->root, 4, by_key, &node, &lower, &upper), 0);
  EXPECT_EQ(lower->key, 3);
  EXPECT_EQ(upper->key, 5);
  testing::internal::CaptureStdout();
  EXPECT_EQ(btree_insert(t, 5, by_key, 7), nullptr);
  EXPECT_EQ(next_btree_node(&t->root, nullptr, 2), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Illegal mode in insert_into_btree().\nUnknown mode in next_btree_node()\n");
  btree_free(&t);
  btree_free(&t);
}

}  // namespace
