// One task of an OPC worker and the first-in-first-out queue that holds them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "OPCTypes.h"

// One task, copied by value wherever it goes.
struct TElement {
  int32_t TaskCode = 0;
  int32_t TaskID = 0;
  std::u16string TaskSyncMode;   // code 3: "sync" or another text
  int32_t TaskResponseTime = 0;  // code 3: group update rate in ms
  TArray TaskDataList;           // code 5: tag names; code 7: tag name, value text
};

struct TNode;
using TNodePointer = TNode*;

struct TNode {
  TElement Value;
  std::unique_ptr<TNode> Next;
};

// Not thread-safe: its owner guards every call.
class TMyQueue {
 public:
  TMyQueue() = default;
  ~TMyQueue();
  TMyQueue(const TMyQueue&) = delete;
  TMyQueue& operator=(const TMyQueue&) = delete;

  void Enqueue(const TElement& Item);
  // Removes the oldest task into Item; on an empty queue Item is left as it was.
  void Dequeue(TElement& Item);
  void Clear();
  bool isEmpty() const { return fHead == nullptr; }
  int32_t GetCount() const { return Count; }
  // A copy of the newest task, or a task whose TaskCode is -1 when there is none.
  TElement GetLastValue() const;

 private:
  std::unique_ptr<TNode> fHead;  // owns the chain through Next
  TNodePointer fTail = nullptr;
  int32_t Count = 0;
};
