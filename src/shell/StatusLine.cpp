#include "StatusLine.h"

#include <cmath>
#include <ctime>
#include <string_view>

namespace {

std::u16string Text(std::string_view Ascii) {
  return std::u16string(Ascii.begin(), Ascii.end());
}

std::u16string Number(uint64_t Value) {
  return Text(std::to_string(Value));
}

std::u16string ClockTime(std::chrono::system_clock::time_point Time) {
  std::time_t t = std::chrono::system_clock::to_time_t(Time);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &t);
#else
  localtime_r(&t, &local);
#endif
  char buffer[16];
  std::strftime(buffer, sizeof buffer, "%H:%M:%S", &local);
  return Text(buffer);
}

// An error text on one line (socket errors come in two: the number, then the words).
std::u16string OneLine(const std::u16string& Error) {
  std::u16string Line;
  for (char16_t C : Error) {
    if (C == u'\r' || C == u'\n') {
      if (!Line.empty() && Line.back() != u' ') Line += u' ';
    } else {
      Line += C;
    }
  }
  return Line;
}

std::u16string PeerText(const TCommunicate::TLinkStatus& S) {
  return S.Host + u":" + Number(static_cast<uint64_t>(S.Port)) + (S.TLS ? u" (TLS)" : u" (plain)");
}

}  // namespace

TCounterReading TCounterReading::Of(const TLinkCounters& C) {
  TCounterReading R;
  R.Requests = C.Requests.load(std::memory_order_relaxed);
  R.Written = C.Written.load(std::memory_order_relaxed);
  R.Pushes = C.Pushes.load(std::memory_order_relaxed);
  R.PushedValues = C.PushedValues.load(std::memory_order_relaxed);
  R.Reconnects = C.Reconnects.load(std::memory_order_relaxed);
  R.ServersFound = C.ServersFound.load(std::memory_order_relaxed);
  R.ServersConnected = C.ServersConnected.load(std::memory_order_relaxed);
  return R;
}

std::u16string TStatusLine::TrayTip(const TCommunicate::TLinkStatus& S) {
  const std::u16string Peer = PeerText(S);
  switch (S.State) {
    case TCommunicate::TLinkState::Connecting:
      return u"Tagrelay - connecting to " + Peer;
    case TCommunicate::TLinkState::Connected:
      return u"Tagrelay - connected to " + Peer;
    case TCommunicate::TLinkState::Waiting:
      return u"Tagrelay - waiting to reconnect to " + Peer;
    case TCommunicate::TLinkState::Idle:
      break;
  }
  return u"Tagrelay - not connected";
}

std::u16string TStatusLine::StateText(const TCommunicate::TLinkStatus& S) {
  const std::u16string Peer = PeerText(S);
  switch (S.State) {
    case TCommunicate::TLinkState::Connecting:
      return u"Connecting to " + Peer;
    case TCommunicate::TLinkState::Connected:
      return u"Connected to " + Peer + u" since " + ClockTime(S.Since);
    case TCommunicate::TLinkState::Waiting:
      return u"Waiting to reconnect to " + Peer;
    case TCommunicate::TLinkState::Idle:
      break;
  }
  return u"Not connected";
}

std::u16string TStatusLine::Update(const TCommunicate::TLinkStatus& Status,
                                   const TCounterReading& Now,
                                   std::chrono::steady_clock::time_point Time) {
  auto Rate = [&](uint64_t Current, uint64_t Previous) -> uint64_t {
    if (!FHasPrevious || Current < Previous) return 0;
    double Seconds = std::chrono::duration<double>(Time - FPreviousTime).count();
    return Seconds > 0 ? static_cast<uint64_t>(std::llround((Current - Previous) / Seconds)) : 0;
  };
  // Pushes are written lines too; answers are the rest.
  const uint64_t Answers = Now.Written >= Now.Pushes ? Now.Written - Now.Pushes : 0;
  const uint64_t PreviousAnswers =
      FPrevious.Written >= FPrevious.Pushes ? FPrevious.Written - FPrevious.Pushes : 0;

  std::u16string Line = StateText(Status) + u"\r\n";
  if (Status.State == TCommunicate::TLinkState::Waiting && !Status.LastError.empty())
    Line += u"Last error: " + OneLine(Status.LastError) + u"\r\n";
  Line += u"OPC servers: " + Number(static_cast<uint64_t>(Now.ServersFound)) + u" found, " +
          Number(static_cast<uint64_t>(Now.ServersConnected)) + u" connected\r\n";
  Line += u"Requests " + Number(Rate(Now.Requests, FPrevious.Requests)) + u"/s, answers " +
          Number(Rate(Answers, PreviousAnswers)) + u"/s\r\n";
  Line += u"Pushes " + Number(Rate(Now.Pushes, FPrevious.Pushes)) + u"/s, " +
          Number(Rate(Now.PushedValues, FPrevious.PushedValues)) + u" values/s\r\n";
  Line += u"Reconnects since start: " + Number(Now.Reconnects);

  FHasPrevious = true;
  FPrevious = Now;
  FPreviousTime = Time;
  return Line;
}
