// The texts of the link: socket error messages with their Windows Sockets numbers, and the
// encodings of lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SocketErrors.h"
#include "TextEncoding.h"

#ifndef _WIN32
#include <cerrno>
#include <netdb.h>
#endif

namespace {

TEST(SocketErrorsTest, MessagesOfTheErrorsTheLinkMeets) {
  const std::vector<std::pair<int, std::string>> Cases = {
      {11001, "Host not found."},
      {10060, "Connection timed out."},
      {10061, "Connection refused."},
      {10054, "Connection reset by peer."},
      {10053, "Software caused connection abort."},
      {10038, "Socket operation on non-socket."},
      {10051, "Network is unreachable."},
      {10065, "No route to host."},
  };
  for (const auto& [Code, Text] : Cases)
    EXPECT_EQ(SocketErrorMessage(Code), "Socket Error # " + std::to_string(Code) + "\r\n" + Text);
}

TEST(SocketErrorsTest, OtherNumbersGetTheSystemsDescription) {
  // 10022 is an invalid argument on every platform; its wording is the system's.
  std::string Message = SocketErrorMessage(10022);
  EXPECT_EQ(Message.rfind("Socket Error # 10022\r\n", 0), 0u);
  EXPECT_GT(Message.size(), std::string("Socket Error # 10022\r\n").size());
}

#ifndef _WIN32
TEST(SocketErrorsTest, ErrnoAndResolverCodesMapToWindowsSocketsNumbers) {
  const std::vector<std::pair<int, int>> Errnos = {
      {ECONNREFUSED, 10061}, {ECONNRESET, 10054},  {ETIMEDOUT, 10060},    {ECONNABORTED, 10053},
      {ENOTSOCK, 10038},     {ENETUNREACH, 10051}, {EHOSTUNREACH, 10065}, {EWOULDBLOCK, 10035},
      {EPIPE, 10054},        {EINVAL, 10022},
  };
  for (const auto& [Errno, Wsa] : Errnos) EXPECT_EQ(WsaFromErrno(Errno), Wsa) << Errno;
  EXPECT_EQ(WsaFromGaiError(EAI_NONAME, 0), 11001);
  EXPECT_EQ(WsaFromGaiError(EAI_AGAIN, 0), 11002);
  EXPECT_EQ(WsaFromGaiError(EAI_SYSTEM, ECONNREFUSED), 10061);
}
#endif

TEST(TextEncodingTest, Utf8DecodingReplacesEachIllFormedSequence) {
  const std::vector<std::pair<std::string, std::u16string>> Cases = {
      {"plain", u"plain"},
      {"\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80", u"\u00E4\u20AC\U0001F600"},
      {"\xFF", u"\uFFFD"},
      {"\xC0\xAF", u"\uFFFD\uFFFD"},                      // overlong
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},            // encoded surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // beyond U+10FFFF
      {"\xE2\x82", u"\uFFFD"},                            // truncated at the end
      {"\xE2\x82x", u"\uFFFDx"},                          // truncated before another character
      {std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
  };
  for (const auto& [Bytes, Text] : Cases) EXPECT_EQ(DecodeUtf8(Bytes), Text) << Bytes;
}

TEST(TextEncodingTest, EncodingWithUtf8AndSevenBitAscii) {
  const std::u16string Text = u"a\u00E4\U0001F600";
  std::string Utf8, Ascii;
  AppendEncoded(Utf8, Text, TTextEncoding::Utf8);
  AppendEncoded(Ascii, Text, TTextEncoding::Ascii7);
  EXPECT_EQ(Utf8, "a\xC3\xA4\xF0\x9F\x98\x80");
  EXPECT_EQ(Ascii, "a??");
  // A lone surrogate has no UTF-8 form.
  EXPECT_EQ(EncodeUtf8(std::u16string(1, char16_t(0xD800)) + u"x"), "\xEF\xBF\xBDx");
  EXPECT_EQ(DecodeUtf8(EncodeUtf8(Text)), Text);
}

}  // namespace
