#include "MyQueue.h"

#include <gtest/gtest.h>

namespace {

TElement Task(int32_t Code, int32_t Id, TArray Data = {}) {
  TElement E;
  E.TaskCode = Code;
  E.TaskID = Id;
  E.TaskDataList = std::move(Data);
  return E;
}

TEST(MyQueue, LastValueFollowsEnqueueAndDequeue) {
  TMyQueue Q;
  EXPECT_EQ(Q.GetLastValue().TaskCode, -1);
  EXPECT_TRUE(Q.GetLastValue().TaskDataList.empty());
  Q.Enqueue(Task(5, 7, {u"a"}));
  EXPECT_EQ(Q.GetLastValue().TaskCode, 5);
  EXPECT_EQ(Q.GetLastValue().TaskID, 7);
  Q.Enqueue(Task(6, 0));
  EXPECT_EQ(Q.GetLastValue().TaskCode, 6);
  TElement Out;
  Q.Dequeue(Out);
  EXPECT_EQ(Q.GetLastValue().TaskCode, 6);
  Q.Dequeue(Out);
  EXPECT_EQ(Q.GetLastValue().TaskCode, -1);
  EXPECT_TRUE(Q.isEmpty());
}

TEST(MyQueue, DequeueOnEmptyLeavesDestination) {
  TMyQueue Q;
  TElement Out = Task(9, 42, {u"keep"});
  Q.Dequeue(Out);
  EXPECT_EQ(Out.TaskCode, 9);
  EXPECT_EQ(Out.TaskID, 42);
  EXPECT_EQ(Out.TaskDataList, TArray{u"keep"});
  EXPECT_EQ(Q.GetCount(), 0);
}

TEST(MyQueue, FifoOrderCountAndData) {
  TMyQueue Q;
  for (int32_t I = 0; I < 5; ++I) {
    Q.Enqueue(Task(3 + I, I, {u"tag", std::u16string(1, u'a' + I)}));
    EXPECT_EQ(Q.GetCount(), I + 1);
  }
  for (int32_t I = 0; I < 3; ++I) {
    TElement Out;
    Q.Dequeue(Out);
    EXPECT_EQ(Out.TaskCode, 3 + I);
    EXPECT_EQ(Out.TaskID, I);
    // The node's copy is emptied before the node is freed; the dequeued task keeps its list.
    EXPECT_EQ(Out.TaskDataList, (TArray{u"tag", std::u16string(1, u'a' + I)}));
    EXPECT_EQ(Q.GetCount(), 4 - I);
  }
  Q.Clear();
  EXPECT_EQ(Q.GetCount(), 0);
  EXPECT_TRUE(Q.isEmpty());
  EXPECT_EQ(Q.GetLastValue().TaskCode, -1);
  Q.Enqueue(Task(4, 1));
  EXPECT_EQ(Q.GetCount(), 1);
  EXPECT_EQ(Q.GetLastValue().TaskCode, 4);
}

TEST(MyQueue, EnqueuedCopySharesNothingWithSource) {
  TMyQueue Q;
  TElement Source = Task(7, 1, {u"t", u"1"});
  Q.Enqueue(Source);
  Source.TaskDataList[1][0] = u'2';
  TElement Out;
  Q.Dequeue(Out);
  EXPECT_EQ(Out.TaskDataList[1], u"1");
}

}  // namespace
