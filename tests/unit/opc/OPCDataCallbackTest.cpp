#include "OPCDataCallback.h"

#include <gtest/gtest.h>

#include <thread>

#include "OPCTestSupport.h"

namespace {

struct TPush {
  std::string Id;
  int32_t Trans = -1;
  std::string Names, Values, Qualities;
};

class DataCallbackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (uint32_t I = 0; I < 3; ++I) {
      OPCItemRec Rec;
      Rec.HashName = u"h" + std::u16string(1, u'0' + I);
      Rec.IdxForASync = 10 + I;
      Rec.Value = u"old";
      Rec.Quality = u"1";
      Items.Append(Rec);
    }
    *Sink.ReleaseAndGetAddressOf() = (new TOPCDataCallback(
        &Items,
        [this](const std::u16string& Id, int32_t Trans, const TArray& N, const TArray& V,
               const TArray& Q) {
          Pushes.push_back({Narrow(Id), Trans, Join(N), Join(V), Join(Q)});
        },
        u"{ID}"));
  }

  // Notifies the sink of (client handle, value, quality) triples in this order.
  void Notify(const std::vector<std::tuple<OPCHANDLE, int32_t, WORD>>& Changes,
              VARIANT* Override = nullptr) {
    std::vector<OPCHANDLE> Handles;
    std::vector<VARIANT> Values(Changes.size());
    std::vector<WORD> Qualities;
    std::vector<FILETIME> Times(Changes.size());
    std::vector<HRESULT> Errors(Changes.size(), S_OK);
    for (size_t I = 0; I < Changes.size(); ++I) {
      Handles.push_back(std::get<0>(Changes[I]));
      VariantInit(&Values[I]);
      Values[I].vt = VT_I4;
      Values[I].lVal = std::get<1>(Changes[I]);
      Qualities.push_back(std::get<2>(Changes[I]));
    }
    if (Override != nullptr) Values[0] = *Override;
    EXPECT_EQ(
        Sink->OnDataChange(7, 1, S_OK, S_OK, static_cast<DWORD>(Changes.size()), Handles.data(),
                           Values.data(), Qualities.data(), Times.data(), Errors.data()),
        S_OK);
  }

  TOPCItemRecArr Items;
  ComPtr<TOPCDataCallback> Sink;
  std::vector<TPush> Pushes;
};

TEST_F(DataCallbackTest, PushesInNotificationOrderWithTransIdZero) {
  Notify({{12, 5, 0xC0}, {99, 1, 0xC0}, {10, -3, 0xC0}});
  ASSERT_EQ(Pushes.size(), 1u);
  EXPECT_EQ(Pushes[0].Id, "{ID}");
  EXPECT_EQ(Pushes[0].Trans, 0);
  EXPECT_EQ(Pushes[0].Names, "h2|h0");  // the unknown handle 99 has no slot
  EXPECT_EQ(Pushes[0].Values, "5|-3");
  EXPECT_EQ(Pushes[0].Qualities, "1|1");
  EXPECT_EQ(Narrow(Items[2].Value), "5");
  EXPECT_EQ(Narrow(Items[0].Value), "-3");
}

TEST_F(DataCallbackTest, NoKnownHandleNoPush) {
  Notify({{1, 5, 0xC0}, {2, 6, 0xC0}});
  EXPECT_TRUE(Pushes.empty());
}

// By default only plain good (0xC0) carries a value; with every good quality counting, limit and
// substatus bits on a good quality do too. Anything else is pushed empty with "0" and leaves the
// stored value as it was.
TEST(DataCallbackQualityTest, GoodQualitiesByTheSetting) {
  const WORD Qualities[] = {0xC0, 0xC1, 0xC3, 0xD8, 0x40, 0x00};
  struct TCase {
    bool AnyGood;
    const char* Values;
    const char* PushedQualities;
    const char* StoredValues;
  };
  const TCase Cases[] = {
      {false, "1|||||", "1|0|0|0|0|0", "1|old|old|old|old|old"},
      {true, "1|2|3|4||", "1|1|1|1|0|0", "1|2|3|4|old|old"},
  };
  for (const TCase& Case : Cases) {
    TOPCItemRecArr Items;
    for (uint32_t I = 0; I < 6; ++I) {
      OPCItemRec Rec;
      Rec.HashName = u"h" + std::u16string(1, u'0' + I);
      Rec.IdxForASync = I;
      Rec.Value = u"old";
      Items.Append(Rec);
    }
    std::string Values, PushedQualities;
    ComPtr<TOPCDataCallback> Sink;
    *Sink.ReleaseAndGetAddressOf() = new TOPCDataCallback(
        &Items,
        [&](const std::u16string&, int32_t, const TArray&, const TArray& V, const TArray& Q) {
          Values = Join(V);
          PushedQualities = Join(Q);
        },
        u"{ID}", Case.AnyGood);
    OPCHANDLE Handles[6];
    VARIANT Variants[6];
    WORD Words[6];
    FILETIME Times[6]{};
    HRESULT Errors[6]{};
    for (int I = 0; I < 6; ++I) {
      Handles[I] = static_cast<OPCHANDLE>(I);
      VariantInit(&Variants[I]);
      Variants[I].vt = VT_I4;
      Variants[I].lVal = I + 1;
      Words[I] = Qualities[I];
    }
    ASSERT_EQ(Sink->OnDataChange(1, 1, S_OK, S_OK, 6, Handles, Variants, Words, Times, Errors),
              S_OK);
    EXPECT_EQ(Values, Case.Values) << "any good: " << Case.AnyGood;
    EXPECT_EQ(PushedQualities, Case.PushedQualities) << "any good: " << Case.AnyGood;
    std::string Stored, StoredQualities;
    for (size_t I = 0; I < Items.size(); ++I) {
      if (I > 0) {
        Stored += '|';
        StoredQualities += '|';
      }
      Stored += Narrow(Items[I].Value);
      StoredQualities += Narrow(Items[I].Quality);
    }
    EXPECT_EQ(Stored, Case.StoredValues) << "any good: " << Case.AnyGood;
    EXPECT_EQ(StoredQualities, Case.PushedQualities) << "any good: " << Case.AnyGood;
  }
}

TEST_F(DataCallbackTest, ArrayIsUnreadValue) {
  VARIANT Array;
  VariantInit(&Array);
  Array.vt = VT_ARRAY | VT_I4;
  Array.parray = SafeArrayCreateVector(VT_I4, 0, 2);
  Notify({{11, 0, 0xC0}, {10, 4, 0xC0}}, &Array);
  ASSERT_EQ(Pushes.size(), 1u);
  EXPECT_EQ(Pushes[0].Values, "<Unread Value>|4");
  EXPECT_EQ(Pushes[0].Qualities, "0|1");
  EXPECT_EQ(Narrow(Items[1].Value), "<Unread Value>");
  EXPECT_EQ(Narrow(Items[1].Quality), "0");
  VariantClear(&Array);
}

// Counts every call made on it; an object value must not be called into.
class TCountingObject final : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** Object) override {
    ++Calls;
    *Object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++Calls, 1; }
  ULONG STDMETHODCALLTYPE Release() override { return ++Calls, 1; }
  int Calls = 0;
};

TEST_F(DataCallbackTest, ObjectValuesAreUnreadWithoutCallingTheObject) {
  for (VARTYPE Type : {VT_DISPATCH, VT_UNKNOWN}) {
    SCOPED_TRACE(Type);
    Pushes.clear();
    TCountingObject Object;
    VARIANT Value;
    VariantInit(&Value);
    Value.vt = Type;
    Value.punkVal = &Object;
    Notify({{11, 0, 0xC0}, {10, 4, 0xC0}}, &Value);
    ASSERT_EQ(Pushes.size(), 1u);
    EXPECT_EQ(Pushes[0].Values, "<Unread Value>|4");
    EXPECT_EQ(Pushes[0].Qualities, "0|1");
    EXPECT_EQ(Narrow(Items[1].Value), "<Unread Value>");
    EXPECT_EQ(Object.Calls, 0);
  }
}

// The item array belongs to the thread that made the sink: a notification from any other thread
// (a free-threaded server's own) is ignored and counted.
TEST_F(DataCallbackTest, CallsFromAnotherThreadAreIgnoredAndCounted) {
  std::thread Other([this] { Notify({{10, 5, 0xC0}, {11, 6, 0xC0}}); });
  Other.join();
  EXPECT_TRUE(Pushes.empty());
  EXPECT_EQ(Narrow(Items[0].Value), "old");
  EXPECT_EQ(Sink->GetForeignCalls(), 1u);
  Notify({{10, 5, 0xC0}});
  ASSERT_EQ(Pushes.size(), 1u);
  EXPECT_EQ(Pushes[0].Values, "5");
  EXPECT_EQ(Sink->GetForeignCalls(), 1u);
}

TEST_F(DataCallbackTest, ReadCompleteAsDataChangeOthersOk) {
  OPCHANDLE Handle = 11;
  VARIANT Value;
  VariantInit(&Value);
  Value.vt = VT_I4;
  Value.lVal = 8;
  WORD Quality = 0xC0;
  EXPECT_EQ(Sink->OnReadComplete(3, 1, S_OK, S_OK, 1, &Handle, &Value, &Quality, nullptr, nullptr),
            S_OK);
  ASSERT_EQ(Pushes.size(), 1u);
  EXPECT_EQ(Pushes[0].Values, "8");
  EXPECT_EQ(Sink->OnWriteComplete(1, 1, S_OK, 1, &Handle, nullptr), S_OK);
  EXPECT_EQ(Sink->OnCancelComplete(1, 1), S_OK);
  IUnknown* Unknown = nullptr;
  EXPECT_EQ(Sink->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&Unknown)), S_OK);
  Unknown->Release();
  void* Other = nullptr;
  EXPECT_EQ(Sink->QueryInterface(IID_IOPCServer, &Other), E_NOINTERFACE);
  // A sink whose connection is gone ignores notifications.
  Sink->Detach();
  EXPECT_EQ(Sink->OnDataChange(3, 1, S_OK, S_OK, 1, &Handle, &Value, &Quality, nullptr, nullptr),
            S_OK);
  EXPECT_EQ(Pushes.size(), 1u);
}

}  // namespace
