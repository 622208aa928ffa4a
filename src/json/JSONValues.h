// JSON documents in memory: a tree of single-owner values. A container owns its children and
// freeing the root frees the whole document.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "BalTree.h"
#include "JSONErrors.h"
#include "JSONVariant.h"

enum TqvJSONtypes { jsBase, jsNumber, jsString, jsBoolean, jsNull, jsList, jsObject };

class TqvJSONbase {
 public:
  TqvJSONbase() = default;
  TqvJSONbase(const TqvJSONbase&) = delete;
  TqvJSONbase& operator=(const TqvJSONbase&) = delete;
  virtual ~TqvJSONbase() = default;

  // Value: Null here; numbers, strings and booleans read and write their own value.
  virtual TqvVariant Value() const;
  virtual void SetValue(const TqvVariant& v);
  // Element at a position; absent (nullptr) for values without elements.
  virtual TqvJSONbase* ItemAt(int idx) const;
  // Frees the element at idx and stores obj there; returns false (obj is freed) when idx is out
  // of range or the value has no elements.
  virtual bool ReplaceItemAt(int idx, std::unique_ptr<TqvJSONbase> obj);
  virtual int Count() const;
  // Lookup by a variant key; here the value itself.
  virtual TqvJSONbase* FieldOf(const TqvVariant& key);
  virtual TqvJSONtypes SelfType() const { return ClassSelfType(); }
  virtual std::u16string SelfTypeName() const { return ClassSelfTypeName(); }

  static TqvJSONtypes ClassSelfType() { return jsBase; }
  static std::u16string ClassSelfTypeName() { return u"jsBase"; }

  // The value as the class T, or nullptr when it is of another class.
  template <class T>
  T* As() {
    return dynamic_cast<T*>(this);
  }
  template <class T>
  const T* As() const {
    return dynamic_cast<const T*>(this);
  }
};

using TqvJSONptr = std::unique_ptr<TqvJSONbase>;

class TqvJSONnumber : public TqvJSONbase {
 public:
  TqvJSONnumber() = default;
  explicit TqvJSONnumber(long double v) : FValue(v) {}
  static std::unique_ptr<TqvJSONnumber> Generate(long double AValue);

  // The value rounded to double; EJSONOverflow when it is too large for a double.
  TqvVariant Value() const override;
  void SetValue(const TqvVariant& v) override;
  TqvJSONtypes SelfType() const override { return ClassSelfType(); }
  std::u16string SelfTypeName() const override { return ClassSelfTypeName(); }
  static TqvJSONtypes ClassSelfType() { return jsNumber; }
  static std::u16string ClassSelfTypeName() { return u"jsNumber"; }

  long double ExtendedValue() const { return FValue; }
  // The value rounded to double; EJSONOverflow when it is too large for a double.
  double AsDouble() const;

 private:
  long double FValue = 0;
};

class TqvJSONstring : public TqvJSONbase {
 public:
  TqvJSONstring() = default;
  explicit TqvJSONstring(std::u16string v) : FValue(std::move(v)) {}
  static std::unique_ptr<TqvJSONstring> Generate(std::u16string wsValue);

  TqvVariant Value() const override;
  void SetValue(const TqvVariant& v) override;
  TqvJSONtypes SelfType() const override { return ClassSelfType(); }
  std::u16string SelfTypeName() const override { return ClassSelfTypeName(); }
  static TqvJSONtypes ClassSelfType() { return jsString; }
  static std::u16string ClassSelfTypeName() { return u"jsString"; }

  const std::u16string& Text() const { return FValue; }

 private:
  std::u16string FValue;
};

class TqvJSONboolean : public TqvJSONbase {
 public:
  TqvJSONboolean() = default;
  explicit TqvJSONboolean(bool v) : FValue(v) {}
  static std::unique_ptr<TqvJSONboolean> Generate(bool AValue);

  TqvVariant Value() const override;
  void SetValue(const TqvVariant& v) override;
  TqvJSONtypes SelfType() const override { return ClassSelfType(); }
  std::u16string SelfTypeName() const override { return ClassSelfTypeName(); }
  static TqvJSONtypes ClassSelfType() { return jsBoolean; }
  static std::u16string ClassSelfTypeName() { return u"jsBoolean"; }

  bool BoolValue() const { return FValue; }

 private:
  bool FValue = false;
};

class TqvJSONnull : public TqvJSONbase {
 public:
  TqvJSONtypes SelfType() const override { return ClassSelfType(); }
  std::u16string SelfTypeName() const override { return ClassSelfTypeName(); }
  static TqvJSONtypes ClassSelfType() { return jsNull; }
  static std::u16string ClassSelfTypeName() { return u"jsNull"; }
};

// One field (name and value) of an object; it owns its value, which may be absent.
class TqvJSONobjectmethod : public TqvJSONbase {
 public:
  TqvJSONobjectmethod() = default;
  static std::unique_ptr<TqvJSONobjectmethod> Generate(std::u16string aname, TqvJSONptr aobj);

  TqvJSONbase* ObjValue() const { return FValue.get(); }
  const std::u16string& Name() const { return FName; }
  void SetName(std::u16string aname) { FName = std::move(aname); }

 private:
  TqvJSONptr FValue;
  std::u16string FName;
};

// Common part of lists and objects: an ordered array of owned elements and the typed reads.
class TqvJSONcustomlist : public TqvJSONbase {
 public:
  ~TqvJSONcustomlist() override;

  TqvJSONbase* ItemAt(int idx) const override;
  bool ReplaceItemAt(int idx, TqvJSONptr obj) override;
  int Count() const override { return static_cast<int>(fList.size()); }
  // A numeric key reads the element at that position; other keys give the value itself.
  TqvJSONbase* FieldOf(const TqvVariant& key) override;

  // Element idx with its name: its position in decimal (objects: the field name).
  virtual TqvJSONbase* EnumItem(int idx, std::u16string& nm) const;
  // Appends obj and returns its position; -1 and nothing appended when obj is absent.
  virtual int AppendItem(TqvJSONptr obj);
  // Frees element idx; a later element moves into its place (the last one, so order changes).
  virtual void RemoveItemAt(int idx);
  // Position of that very pointer, or -1.
  virtual int FindItem(const TqvJSONbase* obj) const;

  // Typed reads: an absent element gives the default (0, empty, 0.0, false), an element of
  // another kind raises EJSONInvalidCast. getInt truncates toward zero and keeps the low 32
  // bits of the 64-bit integer (EJSONInvalidOp outside that range); getInt and getDouble raise
  // EJSONOverflow for a number too large for a double.
  virtual std::int32_t getInt(int idx);
  virtual std::u16string getString(int idx);
  virtual std::u16string getWideString(int idx);
  virtual double getDouble(int idx);
  virtual bool getBoolean(int idx);

  // The elements themselves, in order (for walking a document without virtual calls).
  const std::vector<TqvJSONptr>& Items() const { return fList; }

 protected:
  TqvJSONcustomlist() = default;
  void FreeItems();

  std::vector<TqvJSONptr> fList;
};

class TqvJSONlist : public TqvJSONcustomlist {
 public:
  TqvJSONlist() = default;
  static std::unique_ptr<TqvJSONlist> Generate();

  TqvJSONtypes SelfType() const override { return ClassSelfType(); }
  std::u16string SelfTypeName() const override { return ClassSelfTypeName(); }
  static TqvJSONtypes ClassSelfType() { return jsList; }
  static std::u16string ClassSelfTypeName() { return u"jsList"; }

  // Each returns the new position; Add(obj) gives -1 and appends nothing for an absent obj.
  int Add(TqvJSONptr obj) { return AppendItem(std::move(obj)); }
  int Add(bool aboolean);
  int Add(double nmb);
  int Add(std::int32_t inmb);
  int Add(std::u16string s);
  int Add(const char16_t* s) { return Add(std::u16string(s)); }
  int Add(std::nullptr_t) { return -1; }

  void Delete(int idx) { RemoveItemAt(idx); }
  int IndexOf(const TqvJSONbase* obj) const { return FindItem(obj); }
};

class TqvJSONobject : public TqvJSONcustomlist {
 public:
  explicit TqvJSONobject(bool bUseHash);
  ~TqvJSONobject() override;
  static std::unique_ptr<TqvJSONobject> Generate(bool AUseHash);

  TqvJSONtypes SelfType() const override { return ClassSelfType(); }
  std::u16string SelfTypeName() const override { return ClassSelfTypeName(); }
  static TqvJSONtypes ClassSelfType() { return jsObject; }
  static std::u16string ClassSelfTypeName() { return u"jsObject"; }

  // A text key reads the field of that name.
  TqvJSONbase* FieldOf(const TqvVariant& key) override;
  TqvJSONbase* EnumItem(int idx, std::u16string& nm) const override;

  // Appends a field and returns its position; -1 and no change when aobj is absent. A repeated
  // name gives a second field, while lookups by name keep finding the first.
  int Add(std::u16string aname, TqvJSONptr aobj);
  int Add(std::u16string aname, bool aboolean);
  int Add(std::u16string aname, double nmb);
  int Add(std::u16string aname, std::int32_t inmb);
  int Add(std::u16string aname, std::u16string s);
  int Add(std::u16string aname, const char16_t* s) {
    return Add(std::move(aname), std::u16string(s));
  }
  int Add(std::u16string, std::nullptr_t) { return -1; }

  // Position of the first field named exactly aname, or -1.
  int IndexOfName(std::u16string_view aname) const;
  // Value of the first field named nm; absent when there is none.
  TqvJSONbase* OldGetField(std::u16string_view nm) const;
  // Name of the field at idx; empty when idx is out of range.
  const std::u16string& FieldNameAt(int idx) const;
  // The value reached through the name of the field at idx (the first field of that name);
  // absent for an empty name.
  TqvJSONbase* FieldValueAt(int idx) const;
  int IndexOfObject(const TqvJSONbase* aobj) const;

  std::int32_t getInt(int idx) override;
  std::u16string getString(int idx) override;
  std::u16string getWideString(int idx) override;
  double getDouble(int idx) override;
  bool getBoolean(int idx) override;
  std::int32_t getInt(std::u16string_view nm) { return getInt(IndexOfName(nm)); }
  std::u16string getString(std::u16string_view nm) { return getString(IndexOfName(nm)); }
  std::u16string getWideString(std::u16string_view nm) { return getWideString(IndexOfName(nm)); }
  double getDouble(std::u16string_view nm) { return getDouble(IndexOfName(nm)); }
  bool getBoolean(std::u16string_view nm) { return getBoolean(IndexOfName(nm)); }

  bool UseHash() const { return FUseHash; }
  const TqvBalTree& HashTable() const { return ht; }

 private:
  TqvJSONobjectmethod* PairAt(int idx) const;

  TqvBalTree ht;
  bool FUseHash;
};
