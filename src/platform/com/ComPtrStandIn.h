// Native build only: Microsoft::WRL::ComPtr, the COM smart pointer, with the
// members the project uses and the same semantics as the mingw-w64 one the
// Windows build compiles against: operator& releases the old pointer; Attach
// adds a reference (unlike other WRL versions), and a move assignment leaves
// the source holding its pointer. Portable code therefore takes ownership of a
// new object through ReleaseAndGetAddressOf() and never relies on Attach or on
// a moved-from pointer being empty after assignment.
#pragma once

#include <utility>

#include "ComStandIn.h"

namespace Microsoft::WRL {

namespace Details {
// What &ptr yields: converts to the address of the (released) raw pointer.
template <typename TPtr>
class ComPtrRef {
 public:
  using InterfaceType = typename TPtr::InterfaceType;
  explicit ComPtrRef(TPtr* ptr) : ptr_(ptr) {}
  operator InterfaceType**() { return ptr_->ReleaseAndGetAddressOf(); }
  operator void**() const { return reinterpret_cast<void**>(ptr_->ReleaseAndGetAddressOf()); }
  operator TPtr*() {
    *ptr_ = nullptr;
    return ptr_;
  }
  InterfaceType* operator*() { return ptr_->Get(); }
  InterfaceType* const* GetAddressOf() const { return ptr_->GetAddressOf(); }
  InterfaceType** ReleaseAndGetAddressOf() { return ptr_->ReleaseAndGetAddressOf(); }

 private:
  TPtr* ptr_;
};
}  // namespace Details

template <typename T>
class ComPtr {
 public:
  using InterfaceType = T;

  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  template <typename U>
  ComPtr(U* other) : ptr_(other) {
    InternalAddRef();
  }
  ComPtr(const ComPtr& other) : ptr_(other.ptr_) { InternalAddRef(); }
  template <typename U>
  ComPtr(const ComPtr<U>& other) : ptr_(other.Get()) {
    InternalAddRef();
  }
  ComPtr(ComPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
  ~ComPtr() { InternalRelease(); }

  ComPtr& operator=(std::nullptr_t) {
    InternalRelease();
    return *this;
  }
  ComPtr& operator=(T* other) {
    ComPtr(other).Swap(*this);
    return *this;
  }
  ComPtr& operator=(const ComPtr& other) {
    ComPtr(other).Swap(*this);
    return *this;
  }
  template <typename U>
  ComPtr& operator=(const ComPtr<U>& other) {
    ComPtr(other).Swap(*this);
    return *this;
  }
  ComPtr& operator=(ComPtr&& other) noexcept {
    ComPtr(other).Swap(*this);
    return *this;
  }

  void Swap(ComPtr& r) { std::swap(ptr_, r.ptr_); }
  void Swap(ComPtr&& r) { std::swap(ptr_, r.ptr_); }

  explicit operator bool() const { return ptr_ != nullptr; }
  T* Get() const { return ptr_; }
  T* operator->() const { return ptr_; }
  Details::ComPtrRef<ComPtr<T>> operator&() { return Details::ComPtrRef<ComPtr<T>>(this); }
  T* const* GetAddressOf() const { return &ptr_; }
  T** GetAddressOf() { return &ptr_; }
  T** ReleaseAndGetAddressOf() {
    InternalRelease();
    return &ptr_;
  }
  T* Detach() { return std::exchange(ptr_, nullptr); }
  void Attach(T* other) {
    if (ptr_ == other) return;
    InternalRelease();
    ptr_ = other;
    InternalAddRef();
  }
  unsigned long Reset() { return InternalRelease(); }

  HRESULT CopyTo(T** ptr) const {
    InternalAddRef();
    *ptr = ptr_;
    return S_OK;
  }
  HRESULT CopyTo(REFIID riid, void** ptr) const { return ptr_->QueryInterface(riid, ptr); }
  template <typename U>
  HRESULT CopyTo(U** ptr) const {
    return ptr_->QueryInterface(__uuidof(U), reinterpret_cast<void**>(ptr));
  }
  template <typename U>
  HRESULT As(Details::ComPtrRef<ComPtr<U>> p) const {
    return ptr_->QueryInterface(__uuidof(U), p);
  }
  template <typename U>
  HRESULT As(ComPtr<U>* p) const {
    return ptr_->QueryInterface(__uuidof(U), reinterpret_cast<void**>(p->ReleaseAndGetAddressOf()));
  }

 private:
  void InternalAddRef() const {
    if (ptr_) ptr_->AddRef();
  }
  unsigned long InternalRelease() {
    T* temp = std::exchange(ptr_, nullptr);
    return temp ? temp->Release() : 0;
  }

  T* ptr_ = nullptr;
};

template <typename T, typename U>
bool operator==(const ComPtr<T>& a, const ComPtr<U>& b) {
  return a.Get() == b.Get();
}
template <typename T>
bool operator==(const ComPtr<T>& a, std::nullptr_t) {
  return a.Get() == nullptr;
}

}  // namespace Microsoft::WRL

// IID_PPV_ARGS(&ptr) on a ComPtr, as WRL allows it.
template <typename T>
void** IID_PPV_ARGS_Helper(Microsoft::WRL::Details::ComPtrRef<T> pp) {
  return pp;
}
