// Throwaway certificates made when a test runs: a CA and a server certificate for 127.0.0.1 and
// scada.test that it signs with a chosen digest, with RSA keys.
#pragma once

#include <string>

struct TTestPki {
  std::string CaPem;
  std::string LeafPem;
  std::string LeafKeyPem;
};

// Digest: "SHA1" or "SHA256", the leaf's signature. Raises std::runtime_error on failure.
TTestPki MakeTestPki(const char* Digest);

// Writes Text to a new file in the temporary folder (Name with a random prefix) and removes it
// again at destruction.
class TTempFile {
 public:
  TTempFile(const std::string& Name, const std::string& Text);
  ~TTempFile();
  TTempFile(const TTempFile&) = delete;
  TTempFile& operator=(const TTempFile&) = delete;
  const std::string& Path() const { return FPath; }

 private:
  std::string FPath;
};
