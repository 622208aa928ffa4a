// A server connection's browsed tag table and its look-ups.
#include "OPCServer.h"

#include "OPCBrowse.h"
#include "OPCBrowseElements.h"

namespace {

constexpr char16_t SeparatorMark[] = u"$#%";

}  // namespace

int32_t TOPCServer::GetTagsList() {
  if (!IsInit.load()) return OPC_SERVER_NOT_INITIALIZE;
  if (!ItemsFullList.empty()) return static_cast<int32_t>(ItemsFullList.size());
  // The table is built aside and taken only whole: a walk that fails or throws leaves none.
  TItemsFullList Table;
  const int32_t Result = BrowseTags(Table);
  if (Result < 0) return Result;
  std::unordered_map<std::u16string, size_t> ByHashName;
  for (size_t I = 0; I < Table.size(); ++I)
    ByHashName.emplace(Table[I].HashName, I);  // the first entry of a name wins
  ItemsFullList = std::move(Table);
  TagsByHashName = std::move(ByHashName);
  return static_cast<int32_t>(ItemsFullList.size());
}

int32_t TOPCServer::BrowseTags(TItemsFullList& Table) {
  if (!ServerIntf) return UNABLE_INIT_SERVER_BROWSER;
  if (BrowseElements) {
    ComPtr<IOPCBrowse> ElementBrowser;
    if (SUCCEEDED(ServerIntf->QueryInterface(
            IID_IOPCBrowse, reinterpret_cast<void**>(ElementBrowser.GetAddressOf()))) &&
        ElementBrowser) {
      const int32_t Result = TElementBrowseWalk(ElementBrowser.Get()).Run(Table);
      if (Result != TElementBrowseWalk::Unusable) return Result;
    }
  }
  ComPtr<IOPCBrowseServerAddressSpace> Browser;
  if (FAILED(ServerIntf->QueryInterface(IID_IOPCBrowseServerAddressSpace,
                                        reinterpret_cast<void**>(Browser.GetAddressOf()))) ||
      !Browser)
    return UNABLE_INIT_SERVER_BROWSER;
  return TBrowseWalk(Browser.Get()).Run(Table);
}

std::u16string TOPCServer::MarkSeparators(const std::u16string& ItemID,
                                          const TSeparatorIndexis& Positions, int32_t Offset) {
  std::u16string Text = ItemID;
  int64_t Shift = -static_cast<int64_t>(Offset);
  for (int32_t P : Positions) {
    const int64_t I = P + Shift;
    if (I <= 0) continue;
    const auto Index = static_cast<size_t>(I - 1);
    if (Index < Text.size()) {
      Text.replace(Index, 1, SeparatorMark);
    } else {
      Text.append(SeparatorMark);
    }
    Shift += 2;
  }
  return Text;
}

std::u16string TOPCServer::FindLinkName(const std::u16string& HashName) const {
  auto It = TagsByHashName.find(HashName);
  return It == TagsByHashName.end() ? std::u16string() : ItemsFullList[It->second].LinkName;
}
