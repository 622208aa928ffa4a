// How a TLS link authenticates its server, read from the configuration's texts. The default
// checks nothing and leaves the handshake exactly as it is without any of these settings.
#pragma once

#include <string>
#include <vector>

#include "LinkSSLHandler.h"

struct TTlsPolicy {
  enum class TTrust {
    None,         // any certificate is accepted
    SystemStore,  // Windows judges the chain with its own stores (natively: OpenSSL's default
                  // roots)
    File,         // the chain must end in a certificate of TrustFile (PEM)
  };
  TTrust Trust = TTrust::None;
  std::string TrustFile;          // UTF-8 path (File)
  std::vector<std::string> Pins;  // SHA-256 digests (32 bytes each) of accepted certificates
  std::string ServerName;         // UTF-8; empty: the link's host, unless it is an IPv4 address
  TLinkSSLMethod MinVersion = TLinkSSLMethod::TLSv1;
  std::u16string Error;  // set when a setting is not valid: no connection may be opened then

  // True when the server is checked at all (trust or pins); such settings need TLS.
  bool ChecksServer() const { return Trust != TTrust::None || !Pins.empty(); }
  // True when any of the settings differs from the default, so the handshake says the name.
  bool SendsName() const { return ChecksServer() || !ServerName.empty(); }
};

// The texts of the configuration keys TlsVerify, TlsPin, TlsServerName and TlsMinVersion (empty
// when missing); BaseDir (with its trailing separator) completes a relative trust file path.
TTlsPolicy MakeTlsPolicy(const std::u16string& Verify, const std::u16string& Pin,
                         const std::u16string& ServerName, const std::u16string& MinVersion,
                         const std::u16string& BaseDir);

// "AB:CD:..." for a digest.
std::string FingerprintText(const std::string& Digest);

// The folder part of a file path, with its trailing separator ("" when there is none).
std::u16string FolderOf(const std::u16string& Path);

// True when Host is an IPv4 address in dotted form.
bool IsIPv4Text(const std::string& Host);
