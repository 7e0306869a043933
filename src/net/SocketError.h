#pragma once

#include <string>

// Socket errors are shown with the Windows Sockets numbers that operators of
// the devices know from the earlier recorders, whatever the platform says.
namespace SocketError
{
constexpr int kInvalidArgument = 10022;
constexpr int kTooManyOpenFiles = 10024;
constexpr int kWouldBlock = 10035;
constexpr int kAddressNotAvailable = 10049;
constexpr int kConnectionAborted = 10053;
constexpr int kTimedOut = 10060;
constexpr int kConnectionRefused = 10061;
constexpr int kHostNotFound = 11001;
constexpr int kTryAgain = 11002;
// The system's table of open files is full (ENFILE); Windows Sockets has no
// number of its own for it, so it keeps the platform's.
constexpr int kTooManyOpenFilesInSystem = 23;
} // namespace SocketError

// The Windows Sockets number of an errno value; 0 stays 0, a value without a
// counterpart is returned unchanged.
int MapSocketErrno(int errnoValue);

// "[code] text" with the German text of the code, "???" for a code without one.
std::string FormatSocketError(int error);
