#include "MyQueue.h"

#include <utility>

TMyQueue::~TMyQueue() {
  Clear();
}

void TMyQueue::Enqueue(const TElement& Item) {
  auto Node = std::make_unique<TNode>();
  Node->Value = Item;
  TNodePointer NewTail = Node.get();
  if (fHead == nullptr) {
    fHead = std::move(Node);
  } else {
    fTail->Next = std::move(Node);
  }
  fTail = NewTail;
  ++Count;
}

void TMyQueue::Dequeue(TElement& Item) {
  if (fHead == nullptr) return;
  std::unique_ptr<TNode> Node = std::move(fHead);
  fHead = std::move(Node->Next);
  Item = std::move(Node->Value);
  --Count;
  if (Count == 0 || fHead == nullptr) {
    fHead.reset();
    fTail = nullptr;
    Count = 0;
  }
}

void TMyQueue::Clear() {
  TElement Dropped;
  while (fHead != nullptr) Dequeue(Dropped);
  fTail = nullptr;
  Count = 0;
}

TElement TMyQueue::GetLastValue() const {
  if (fTail != nullptr && fHead != nullptr && Count != 0) return fTail->Value;
  TElement None;
  None.TaskCode = -1;
  return None;
}
