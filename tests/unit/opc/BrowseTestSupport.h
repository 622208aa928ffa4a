// Building a server's tag table both ways, IOPCBrowse and IOPCBrowseServerAddressSpace, against
// the simulated server (in process or out of process), and comparing the two tables entry by
// entry.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "OPCServer.h"
#include "OPCTestSupport.h"
#include "SimControl.h"

// The simulator's control interface on a fresh object of the class.
inline ComPtr<IOpcSimControl> OpenControl(const CLSID& ClassID) {
  ComPtr<IUnknown> Object;
  ComPtr<IOpcSimControl> Control;
  EXPECT_TRUE(
      SUCCEEDED(CoCreateInstance(ClassID, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                 IID_IUnknown, reinterpret_cast<void**>(Object.GetAddressOf()))));
  if (Object) {
    EXPECT_TRUE(SUCCEEDED(Object->QueryInterface(
        IID_IOpcSimControl, reinterpret_cast<void**>(Control.GetAddressOf()))));
  }
  return Control;
}

inline DWORD CallCount(IOpcSimControl* Control, const char16_t* Method) {
  DWORD Count = 0;
  EXPECT_EQ(Control->GetCallCount(U16ToOle(Method), &Count), S_OK);
  return Count;
}

struct TBrowsedTable {
  int32_t Result = 0;
  TItemsFullList Tags;
};

// The table a new connection builds, through IOPCBrowse where offered (Elements) or not.
inline TBrowsedTable BrowseTable(const std::u16string& ClassText, bool Elements) {
  TOPCServer Server(ClassText);
  EXPECT_EQ(Server.Init(u"sync", 500), 0);
  Server.SetBrowseElementsProp(Elements);
  TBrowsedTable Table;
  Table.Result = Server.GetTagsList();
  Table.Tags = Server.GetOPCTagsArr();
  Server.Disconnect();
  return Table;
}

inline void ExpectSameTables(const TBrowsedTable& Expected, const TBrowsedTable& Actual) {
  EXPECT_EQ(Actual.Result, Expected.Result);
  ASSERT_EQ(Actual.Tags.size(), Expected.Tags.size());
  for (size_t I = 0; I < Expected.Tags.size(); ++I) {
    const TOPCItem& E = Expected.Tags[I];
    const TOPCItem& A = Actual.Tags[I];
    EXPECT_EQ(Narrow(A.SeparatorName), Narrow(E.SeparatorName)) << I;
    EXPECT_EQ(Narrow(A.LinkName), Narrow(E.LinkName)) << I;
    EXPECT_EQ(A.HashName, E.HashName) << I;
    EXPECT_EQ(A.Readable, E.Readable) << Narrow(E.LinkName);
    EXPECT_EQ(A.Writeable, E.Writeable) << Narrow(E.LinkName);
  }
}
