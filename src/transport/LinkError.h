// Errors of the line transport. Every failure of the link is raised as ELinkError; its message is
// the text the callers log (UTF-8; all of the fixed texts are ASCII).
#pragma once

#include <stdexcept>
#include <string>

class ELinkError : public std::runtime_error {
 public:
  explicit ELinkError(const std::string& Message) : std::runtime_error(Message) {}
};

inline constexpr char MsgConnectionClosedGracefully[] = "Connection Closed Gracefully.";
inline constexpr char MsgNotConnected[] = "Not Connected";
inline constexpr char MsgMaxLineLengthExceeded[] = "Max line length exceeded.";
inline constexpr char MsgCouldNotLoadSSL[] = "Could not load SSL library.";
inline constexpr char MsgErrorConnectingWithSSL[] = "Error connecting with SSL.";
inline constexpr char MsgAlreadyConnected[] = "Already connected.";
