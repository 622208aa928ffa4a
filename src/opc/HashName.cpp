#include "HashName.h"

#include <array>
#include <cstdint>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#include <bcrypt.h>
#else
#include <openssl/evp.h>
#endif

namespace {

using TDigest = std::array<uint8_t, 16>;

#ifdef _WIN32

// One MD5 provider for the process; BCrypt algorithm handles may be shared between threads.
class TMd5Provider {
 public:
  TMd5Provider() {
    if (BCryptOpenAlgorithmProvider(&Handle, BCRYPT_MD5_ALGORITHM, nullptr, 0) != 0)
      Handle = nullptr;
  }
  ~TMd5Provider() {
    if (Handle != nullptr) BCryptCloseAlgorithmProvider(Handle, 0);
  }
  BCRYPT_ALG_HANDLE Get() const { return Handle; }

 private:
  BCRYPT_ALG_HANDLE Handle = nullptr;
};

TDigest Md5(const std::string& Bytes) {
  static const TMd5Provider Provider;
  if (Provider.Get() == nullptr) throw std::runtime_error("MD5 provider unavailable");
  BCRYPT_HASH_HANDLE Hash = nullptr;
  if (BCryptCreateHash(Provider.Get(), &Hash, nullptr, 0, nullptr, 0, 0) != 0)
    throw std::runtime_error("MD5 hash creation failed");
  TDigest Digest{};
  auto* Data = reinterpret_cast<PUCHAR>(const_cast<char*>(Bytes.data()));
  const bool Ok = BCryptHashData(Hash, Data, static_cast<ULONG>(Bytes.size()), 0) == 0 &&
                  BCryptFinishHash(Hash, Digest.data(), Digest.size(), 0) == 0;
  BCryptDestroyHash(Hash);
  if (!Ok) throw std::runtime_error("MD5 hashing failed");
  return Digest;
}

#else

TDigest Md5(const std::string& Bytes) {
  TDigest Digest{};
  unsigned int Size = 0;
  if (EVP_Digest(Bytes.data(), Bytes.size(), Digest.data(), &Size, EVP_md5(), nullptr) != 1 ||
      Size != Digest.size())
    throw std::runtime_error("MD5 hashing failed");
  return Digest;
}

#endif

}  // namespace

std::string ToUsAscii(const std::u16string& Text) {
  if (Text.empty()) return {};
#ifdef _WIN32
  const auto* Wide = reinterpret_cast<const wchar_t*>(Text.data());
  const int Length = static_cast<int>(Text.size());
  const int Size = WideCharToMultiByte(20127, 0, Wide, Length, nullptr, 0, nullptr, nullptr);
  if (Size <= 0) throw std::runtime_error("US-ASCII conversion failed");
  std::string Bytes(static_cast<size_t>(Size), '\0');
  WideCharToMultiByte(20127, 0, Wide, Length, Bytes.data(), Size, nullptr, nullptr);
  return Bytes;
#else
  std::string Bytes;
  Bytes.reserve(Text.size());
  for (char16_t C : Text) Bytes.push_back(C < 0x80 ? static_cast<char>(C) : '?');
  return Bytes;
#endif
}

std::u16string MakeHashName(const std::u16string& Text) {
  static const char16_t Digits[] = u"0123456789abcdef";
  const TDigest Digest = Md5(ToUsAscii(Text));
  std::u16string Hex;
  Hex.reserve(32);
  for (uint8_t B : Digest) {
    Hex.push_back(Digits[B >> 4]);
    Hex.push_back(Digits[B & 0x0F]);
  }
  return Hex;
}
