// Socket error numbers and texts. The link reports socket failures with the numbering of Windows
// Sockets on every platform; natively, errno and resolver codes are mapped onto it.
#pragma once

#include <string>

namespace WsaError {
inline constexpr int Interrupted = 10004;
inline constexpr int WouldBlock = 10035;
inline constexpr int InProgress = 10036;
inline constexpr int NotSocket = 10038;
inline constexpr int NetUnreachable = 10051;
inline constexpr int ConnAborted = 10053;
inline constexpr int ConnReset = 10054;
inline constexpr int TimedOut = 10060;
inline constexpr int ConnRefused = 10061;
inline constexpr int HostUnreachable = 10065;
inline constexpr int HostNotFound = 11001;
inline constexpr int TryAgain = 11002;
inline constexpr int NoRecovery = 11003;
inline constexpr int NoData = 11004;
}  // namespace WsaError

// The description of a Windows Sockets number: the link's own text for the errors it meets in
// practice, otherwise the system's description (possibly empty).
std::string SocketErrorDescription(int Code);

// "Socket Error # <Code>\r\n<description>".
std::string SocketErrorMessage(int Code);

#ifndef _WIN32
// The Windows Sockets number of an errno value (values without one are returned unchanged).
int WsaFromErrno(int Errno);
// The Windows Sockets number of a getaddrinfo result; EAI_SYSTEM takes Errno.
int WsaFromGaiError(int GaiError, int Errno);
#endif
