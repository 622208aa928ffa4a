#include "JSONValues.h"

#include <cmath>
#include <string>

namespace {

// Position from a numeric variant key: truncated toward zero, -1 when it is no position at all.
int KeyToPosition(const TqvVariant& key) {
  const double d = std::trunc(key.AsDouble());
  if (!(d >= 0 && d <= 2147483647.0)) return -1;
  return static_cast<int>(d);
}

std::u16string DecimalText(int v) {
  const std::string s = std::to_string(v);
  return std::u16string(s.begin(), s.end());
}

// The typed reads, shared by lists (element by position) and objects (element through its name).
std::int32_t ReadInt(const TqvJSONbase* e) {
  if (e == nullptr) return 0;
  const auto* n = dynamic_cast<const TqvJSONnumber*>(e);
  if (n == nullptr) throw EJSONInvalidCast();
  const double t = std::trunc(n->AsDouble());
  if (!(t >= -9223372036854775808.0 && t < 9223372036854775808.0)) throw EJSONInvalidOp();
  // Only the low 32 bits of the 64-bit integer are kept (2^31 reads as -2^31).
  return static_cast<std::int32_t>(static_cast<std::int64_t>(t));
}

double ReadDouble(const TqvJSONbase* e) {
  if (e == nullptr) return 0.0;
  const auto* n = dynamic_cast<const TqvJSONnumber*>(e);
  if (n == nullptr) throw EJSONInvalidCast();
  return n->AsDouble();
}

std::u16string ReadString(const TqvJSONbase* e) {
  if (e == nullptr) return std::u16string();
  const auto* s = dynamic_cast<const TqvJSONstring*>(e);
  if (s == nullptr) throw EJSONInvalidCast();
  return s->Text();
}

bool ReadBoolean(const TqvJSONbase* e) {
  if (e == nullptr) return false;
  const auto* b = dynamic_cast<const TqvJSONboolean*>(e);
  if (b == nullptr) throw EJSONInvalidCast();
  return b->BoolValue();
}

const std::u16string kNoName;

}  // namespace

// ---- TqvJSONbase

TqvVariant TqvJSONbase::Value() const {
  return TqvVariant();
}
void TqvJSONbase::SetValue(const TqvVariant&) {}
TqvJSONbase* TqvJSONbase::ItemAt(int) const {
  return nullptr;
}
bool TqvJSONbase::ReplaceItemAt(int, std::unique_ptr<TqvJSONbase>) {
  return false;
}
int TqvJSONbase::Count() const {
  return 0;
}
TqvJSONbase* TqvJSONbase::FieldOf(const TqvVariant&) {
  return this;
}

// ---- scalars

std::unique_ptr<TqvJSONnumber> TqvJSONnumber::Generate(long double AValue) {
  return std::make_unique<TqvJSONnumber>(AValue);
}

double TqvJSONnumber::AsDouble() const {
  const auto d = static_cast<double>(FValue);
  if (std::isinf(d) && !std::isinf(FValue)) throw EJSONOverflow();
  return d;
}

TqvVariant TqvJSONnumber::Value() const {
  return TqvVariant(AsDouble());
}
void TqvJSONnumber::SetValue(const TqvVariant& v) {
  FValue = v.AsDouble();
}

std::unique_ptr<TqvJSONstring> TqvJSONstring::Generate(std::u16string wsValue) {
  return std::make_unique<TqvJSONstring>(std::move(wsValue));
}

TqvVariant TqvJSONstring::Value() const {
  return TqvVariant(FValue);
}
void TqvJSONstring::SetValue(const TqvVariant& v) {
  FValue = v.AsText();
}

std::unique_ptr<TqvJSONboolean> TqvJSONboolean::Generate(bool AValue) {
  return std::make_unique<TqvJSONboolean>(AValue);
}

TqvVariant TqvJSONboolean::Value() const {
  return TqvVariant(FValue);
}
void TqvJSONboolean::SetValue(const TqvVariant& v) {
  FValue = v.AsBoolean();
}

std::unique_ptr<TqvJSONobjectmethod> TqvJSONobjectmethod::Generate(std::u16string aname,
                                                                   TqvJSONptr aobj) {
  auto pair = std::make_unique<TqvJSONobjectmethod>();
  pair->FName = std::move(aname);
  pair->FValue = std::move(aobj);
  return pair;
}

// ---- TqvJSONcustomlist

TqvJSONcustomlist::~TqvJSONcustomlist() {
  FreeItems();
}

void TqvJSONcustomlist::FreeItems() {
  // Last to first, so every removal frees the last element and nothing moves.
  while (!fList.empty()) RemoveItemAt(static_cast<int>(fList.size()) - 1);
}

TqvJSONbase* TqvJSONcustomlist::ItemAt(int idx) const {
  if (idx < 0 || idx >= Count()) return nullptr;
  return fList[static_cast<std::size_t>(idx)].get();
}

bool TqvJSONcustomlist::ReplaceItemAt(int idx, TqvJSONptr obj) {
  if (idx < 0 || idx >= Count()) return false;
  fList[static_cast<std::size_t>(idx)] = std::move(obj);
  return true;
}

TqvJSONbase* TqvJSONcustomlist::FieldOf(const TqvVariant& key) {
  if (key.IsNumber()) return ItemAt(KeyToPosition(key));
  return this;
}

TqvJSONbase* TqvJSONcustomlist::EnumItem(int idx, std::u16string& nm) const {
  nm = DecimalText(idx);
  return ItemAt(idx);
}

int TqvJSONcustomlist::AppendItem(TqvJSONptr obj) {
  if (!obj) return -1;
  fList.push_back(std::move(obj));
  return Count() - 1;
}

void TqvJSONcustomlist::RemoveItemAt(int idx) {
  if (idx < 0 || idx >= Count()) return;
  const auto i = static_cast<std::size_t>(idx);
  fList[i].reset();
  if (i + 1 != fList.size()) fList[i] = std::move(fList.back());
  fList.pop_back();
}

int TqvJSONcustomlist::FindItem(const TqvJSONbase* obj) const {
  for (std::size_t i = 0; i < fList.size(); ++i) {
    if (fList[i].get() == obj) return static_cast<int>(i);
  }
  return -1;
}

std::int32_t TqvJSONcustomlist::getInt(int idx) {
  return ReadInt(ItemAt(idx));
}
std::u16string TqvJSONcustomlist::getString(int idx) {
  return ReadString(ItemAt(idx));
}
std::u16string TqvJSONcustomlist::getWideString(int idx) {
  return ReadString(ItemAt(idx));
}
double TqvJSONcustomlist::getDouble(int idx) {
  return ReadDouble(ItemAt(idx));
}
bool TqvJSONcustomlist::getBoolean(int idx) {
  return ReadBoolean(ItemAt(idx));
}

// ---- TqvJSONlist

std::unique_ptr<TqvJSONlist> TqvJSONlist::Generate() {
  return std::make_unique<TqvJSONlist>();
}

int TqvJSONlist::Add(bool aboolean) {
  return Add(TqvJSONboolean::Generate(aboolean));
}
int TqvJSONlist::Add(double nmb) {
  return Add(TqvJSONnumber::Generate(nmb));
}
int TqvJSONlist::Add(std::int32_t inmb) {
  return Add(TqvJSONnumber::Generate(inmb));
}
int TqvJSONlist::Add(std::u16string s) {
  return Add(TqvJSONstring::Generate(std::move(s)));
}

// ---- TqvJSONobject

TqvJSONobject::TqvJSONobject(bool bUseHash) : FUseHash(bUseHash) {}

TqvJSONobject::~TqvJSONobject() {
  FreeItems();
  ht.Clear();
}

std::unique_ptr<TqvJSONobject> TqvJSONobject::Generate(bool AUseHash) {
  return std::make_unique<TqvJSONobject>(AUseHash);
}

TqvJSONbase* TqvJSONobject::FieldOf(const TqvVariant& key) {
  if (key.IsText()) return OldGetField(key.AsText());
  return TqvJSONcustomlist::FieldOf(key);
}

TqvJSONbase* TqvJSONobject::EnumItem(int idx, std::u16string& nm) const {
  nm = FieldNameAt(idx);
  return FieldValueAt(idx);
}

int TqvJSONobject::Add(std::u16string aname, TqvJSONptr aobj) {
  if (!aobj) return -1;
  auto pair = TqvJSONobjectmethod::Generate(std::move(aname), std::move(aobj));
  const TqvJSONobjectmethod& added = *pair;
  const int pos = AppendItem(std::move(pair));
  if (FUseHash) ht.Insert(added.Name(), pos);
  return pos;
}

int TqvJSONobject::Add(std::u16string aname, bool aboolean) {
  return Add(std::move(aname), TqvJSONboolean::Generate(aboolean));
}
int TqvJSONobject::Add(std::u16string aname, double nmb) {
  return Add(std::move(aname), TqvJSONnumber::Generate(nmb));
}
int TqvJSONobject::Add(std::u16string aname, std::int32_t inmb) {
  return Add(std::move(aname), TqvJSONnumber::Generate(inmb));
}
int TqvJSONobject::Add(std::u16string aname, std::u16string s) {
  return Add(std::move(aname), TqvJSONstring::Generate(std::move(s)));
}

TqvJSONobjectmethod* TqvJSONobject::PairAt(int idx) const {
  return dynamic_cast<TqvJSONobjectmethod*>(ItemAt(idx));
}

int TqvJSONobject::IndexOfName(std::u16string_view aname) const {
  if (FUseHash) return ht.IndexOf(aname);
  for (int i = 0; i < Count(); ++i) {
    const TqvJSONobjectmethod* pair = PairAt(i);
    if (pair != nullptr && pair->Name() == aname) return i;
  }
  return -1;
}

TqvJSONbase* TqvJSONobject::OldGetField(std::u16string_view nm) const {
  const TqvJSONobjectmethod* pair = PairAt(IndexOfName(nm));
  return pair == nullptr ? nullptr : pair->ObjValue();
}

const std::u16string& TqvJSONobject::FieldNameAt(int idx) const {
  const TqvJSONobjectmethod* pair = PairAt(idx);
  return pair == nullptr ? kNoName : pair->Name();
}

TqvJSONbase* TqvJSONobject::FieldValueAt(int idx) const {
  const std::u16string& name = FieldNameAt(idx);
  if (name.empty()) return nullptr;
  return OldGetField(name);
}

int TqvJSONobject::IndexOfObject(const TqvJSONbase* aobj) const {
  for (int i = 0; i < Count(); ++i) {
    const TqvJSONobjectmethod* pair = PairAt(i);
    if (pair != nullptr && pair->ObjValue() == aobj) return i;
  }
  return -1;
}

std::int32_t TqvJSONobject::getInt(int idx) {
  return ReadInt(FieldValueAt(idx));
}
std::u16string TqvJSONobject::getString(int idx) {
  return ReadString(FieldValueAt(idx));
}
std::u16string TqvJSONobject::getWideString(int idx) {
  return ReadString(FieldValueAt(idx));
}
double TqvJSONobject::getDouble(int idx) {
  return ReadDouble(FieldValueAt(idx));
}
bool TqvJSONobject::getBoolean(int idx) {
  return ReadBoolean(FieldValueAt(idx));
}
