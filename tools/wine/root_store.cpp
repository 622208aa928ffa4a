// Adds a certificate to, or removes it from, a system certificate store of the Wine prefix ("ROOT"
// unless another is named, such as "Disallowed"), for the system tests of a link that relies on
// the system's stores. Afterwards it checks what a program opening that system store sees.
//
//   root_store.exe add CERT.der [STORE]      exit 0: the certificate is now seen in the store
//   root_store.exe remove CERT.der [STORE]   exit 0: it is no longer seen
// Exit status 1 when the store does not show the change, 2 on a usage or file error.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <cwchar>
#include <vector>

namespace {

bool ReadFileBytes(const wchar_t* Path, std::vector<BYTE>& Bytes) {
  FILE* File = _wfopen(Path, L"rb");
  if (!File) return false;
  BYTE Buffer[4096];
  size_t Count;
  while ((Count = fread(Buffer, 1, sizeof Buffer, File)) > 0)
    Bytes.insert(Bytes.end(), Buffer, Buffer + Count);
  fclose(File);
  return !Bytes.empty();
}

// True when the system store, as the link opens it, holds the certificate.
bool Seen(const wchar_t* Name, PCCERT_CONTEXT Cert) {
  HCERTSTORE Store = CertOpenSystemStoreW(0, Name);
  if (!Store) return false;
  PCCERT_CONTEXT Found =
      CertFindCertificateInStore(Store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, Cert, nullptr);
  if (Found) CertFreeCertificateContext(Found);
  CertCloseStore(Store, 0);
  return Found != nullptr;
}

bool Change(const wchar_t* Name, DWORD Location, PCCERT_CONTEXT Cert, bool Add) {
  HCERTSTORE Store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, Location, Name);
  if (!Store) return false;
  bool Done;
  if (Add) {
    Done = CertAddCertificateContextToStore(Store, Cert, CERT_STORE_ADD_REPLACE_EXISTING,
                                            nullptr) != FALSE;
  } else {
    PCCERT_CONTEXT Found =
        CertFindCertificateInStore(Store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, Cert, nullptr);
    Done = Found && CertDeleteCertificateFromStore(Found) != FALSE;  // frees Found
  }
  CertCloseStore(Store, 0);
  return Done;
}

}  // namespace

int wmain(int Argc, wchar_t** Argv) {
  if (Argc != 3 && Argc != 4) return 2;
  const wchar_t* Name = Argc == 4 ? Argv[3] : L"ROOT";
  const bool Add = std::wcscmp(Argv[1], L"add") == 0;
  if (!Add && std::wcscmp(Argv[1], L"remove") != 0) return 2;
  std::vector<BYTE> Der;
  if (!ReadFileBytes(Argv[2], Der)) return 2;
  PCCERT_CONTEXT Cert =
      CertCreateCertificateContext(X509_ASN_ENCODING, Der.data(), static_cast<DWORD>(Der.size()));
  if (!Cert) return 2;
  for (DWORD Location : {CERT_SYSTEM_STORE_LOCAL_MACHINE, CERT_SYSTEM_STORE_CURRENT_USER}) {
    Change(Name, Location, Cert, Add);
    if (Seen(Name, Cert) == Add) break;
  }
  const bool Ok = Seen(Name, Cert) == Add;
  std::printf("%s\n", Ok ? "ok" : "not seen");
  CertFreeCertificateContext(Cert);
  return Ok ? 0 : 1;
}
