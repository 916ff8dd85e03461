#include "archive/abdfpkmg.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "archive/abdfbase.h"
#include "archive/abexcept.h"

namespace pelvar {

namespace {

// A leaf (no first child; `symbol` is its symbol) or a package of two items.
struct Node {
  uint32_t weight;
  int32_t count;  // the code length of a leaf
  Node* first;
  Node* second;
  int32_t symbol;
};

void CountLeaves(Node* n) {
  // Recursion into first children, iteration along second children.
  while (n->first) {
    CountLeaves(n->first);
    n = n->second;
  }
  ++n->count;
}

}  // namespace

void GenerateCodeLengths(int32_t LengthLimit, const uint32_t* Weights, int32_t Count, uint8_t* CodeLengths,
                         int32_t First) {
  AbAssert(LengthLimit >= 1 && LengthLimit <= 15,
           "GenerateCodeLengths: the maximum code length should be in the range 1..15");
  AbAssert(Count >= 1 && Count <= 286, "GenerateCodeLengths: the weight array must have 1..286 elements");
  AbAssert(Count < (1 << LengthLimit), "GenerateCodeLengths: the package-merge algorithm should always be feasible");
  uint8_t* lengths = CodeLengths + First;
  std::memset(lengths, 0, static_cast<size_t>(Count));

  TAbNodeManager nodes(sizeof(Node));
  auto make = [&](uint32_t weight, Node* a, Node* b, int32_t symbol) {
    Node* n = static_cast<Node*>(nodes.NewNode());
    *n = Node{weight, a ? 0 : 1, a, b, symbol};
    return n;
  };
  std::vector<Node*> leaves;
  for (int32_t s = 0; s < Count; ++s) {
    if (Weights[s] > 0) leaves.push_back(make(Weights[s], nullptr, nullptr, s));
  }
  if (leaves.empty()) {
    lengths[0] = 1;
    return;
  }
  if (leaves.size() == 1) {
    lengths[leaves[0]->symbol] = 1;
    return;
  }
  // Equal weights keep symbol order.
  std::stable_sort(leaves.begin(), leaves.end(), [](const Node* a, const Node* b) { return a->weight < b->weight; });

  std::vector<Node*> list = leaves;
  std::vector<Node*> packages, merged;
  for (int32_t round = 1; round < LengthLimit; ++round) {
    packages.clear();
    for (size_t i = 0; i + 1 < list.size(); i += 2)
      packages.push_back(make(list[i]->weight + list[i + 1]->weight, list[i], list[i + 1], -1));
    merged.clear();
    size_t a = 0, b = 0;
    while (a < leaves.size() || b < packages.size()) {
      if (b == packages.size() || (a < leaves.size() && leaves[a]->weight <= packages[b]->weight))
        merged.push_back(leaves[a++]);
      else
        merged.push_back(packages[b++]);
    }
    list.swap(merged);
  }
  const size_t take = 2 * leaves.size() - 2;
  for (size_t i = 0; i < take && i < list.size(); ++i) {
    if (list[i]->first) CountLeaves(list[i]);
  }
  for (const Node* leaf : leaves) lengths[leaf->symbol] = static_cast<uint8_t>(leaf->count);
}

}  // namespace pelvar
