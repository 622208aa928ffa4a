// The router operations the link uses. The link's manager owns one router for its whole life and
// hands it each live connection; the reader threads pass it every request line.
#pragma once

#include <memory>
#include <string>

class TLinkClient;
class TLogger;
struct TLinkCounters;

class TLinkRouter {
 public:
  // Destruction stops the router's own threads (update timer, OPC workers).
  virtual ~TLinkRouter() = default;

  virtual void SetLoggerProp(TLogger* Logger) = 0;
  virtual void SetUidProp(const std::u16string& Uid) = 0;
  // The next client handed over carries its greeting before any other line: lines that arise
  // before InitConnect has written the greeting wait for it.
  virtual void ExpectGreeting() {}
  // A client clears the router's link-failed mark; none sets it and stops all writing.
  virtual void SetTCPClientProp(std::shared_ptr<TLinkClient> IdTCPClient) = 0;
  // Marks the link as failed so that the router stops writing.
  virtual void SetTCPError() = 0;
  // False: every "setValue" is refused without reaching an OPC server.
  virtual void SetAllowWritesProp(bool AllowWrites) = 0;
  // True: value pushes count every good OPC quality as good, as the "sync" read does; false:
  // only plain good (0xC0).
  virtual void SetAsyncGoodQualityProp(bool AnyGood) { (void)AnyGood; }
  // False: every server is browsed through IOPCBrowseServerAddressSpace, never IOPCBrowse.
  virtual void SetBrowseElementsProp(bool BrowseElements) { (void)BrowseElements; }
  // Once per connection, after SetTCPClientProp: brings the OPC workers up to date and writes the
  // greeting line.
  virtual void InitConnect() = 0;
  // Handles one request line completely on the calling thread.
  virtual void MakeRouting(const std::u16string& Msg) = 0;
  // Where to count requests, answers, pushes and servers; set before the first connection.
  virtual void SetCountersProp(TLinkCounters* Counters) { (void)Counters; }
};
