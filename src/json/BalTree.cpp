#include "BalTree.h"

#include <string>

int CompareNames(std::u16string_view a, std::u16string_view b) {
  // char16_t is unsigned, so the standard comparison is the code-unit order we need.
  const int c = a.compare(b);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

TqvBalTree::TqvBalTree() {
  FSentinel.level = 0;
  FSentinel.left = &FSentinel;
  FSentinel.right = &FSentinel;
  fbottom = &FSentinel;
  froot = fbottom;
  fdeleted = fbottom;
  flast = fbottom;
}

TqvBalTree::~TqvBalTree() {
  Clear();
}

PqvBalNode TqvBalTree::NewNode(const std::u16string& ws, std::int32_t x) {
  if (FChunkUsed == FChunkSize) {
    FChunkSize = FChunkSize == 0 ? 4 : FChunkSize * 2;
    FChunks.push_back(std::make_unique<TqvBalNode[]>(FChunkSize));
    FChunkUsed = 0;
  }
  TqvBalNode& n = FChunks.back()[FChunkUsed++];
  n.left = fbottom;
  n.right = fbottom;
  n.level = 1;
  n.key = x;
  n.nm = ws;
  return &n;
}

void TqvBalTree::Skew(PqvBalNode& t) {
  if (t->left->level == t->level) {
    PqvBalNode l = t->left;
    t->left = l->right;
    l->right = t;
    t = l;
  }
}

void TqvBalTree::Split(PqvBalNode& t) {
  if (t->right->right->level == t->level) {
    PqvBalNode r = t->right;
    t->right = r->left;
    r->left = t;
    t = r;
    ++r->level;
  }
}

bool TqvBalTree::InsertAt(PqvBalNode& t, const std::u16string& ws, std::int32_t x) {
  if (t == fbottom) {
    t = NewNode(ws, x);
    return true;
  }
  const int c = CompareNames(ws, t->nm);
  bool inserted = false;
  if (c < 0) {
    inserted = InsertAt(t->left, ws, x);
  } else if (c > 0) {
    inserted = InsertAt(t->right, ws, x);
  }
  Skew(t);
  Split(t);
  return inserted;
}

bool TqvBalTree::Insert(const std::u16string& ws, std::int32_t x) {
  return InsertAt(froot, ws, x);
}

std::int32_t TqvBalTree::IndexOf(std::u16string_view ws) const {
  PqvBalNode t = froot;
  while (t != fbottom) {
    const int c = CompareNames(ws, t->nm);
    if (c == 0) return t->key;
    t = c < 0 ? t->left : t->right;
  }
  return -1;
}

void TqvBalTree::Clear() {
  // Nodes are owned by the chunks, not by their links, so releasing the chunks frees every node
  // and its name at once.
  FChunks.clear();
  FChunkSize = 0;
  FChunkUsed = 0;
  froot = fbottom;
  fdeleted = fbottom;
}

std::u16string TqvBalTree::counters() const {
  const std::string s = "Balanced tree root node level is " + std::to_string(froot->level);
  return std::u16string(s.begin(), s.end());
}
