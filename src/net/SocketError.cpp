#include "net/SocketError.h"

#include <cerrno>

int MapSocketErrno(int errnoValue)
{
    switch (errnoValue)
    {
    case EINTR:
        return 10004;
    case EBADF:
        return 10009;
    case EACCES:
        return 10013;
    case EFAULT:
        return 10014;
    case EINVAL:
        return SocketError::kInvalidArgument;
    case EMFILE:
        return SocketError::kTooManyOpenFiles;
    case ENFILE:
        return SocketError::kTooManyOpenFilesInSystem;
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case EINPROGRESS:
        // A non-blocking connect that is under way reports "would block" there.
        return SocketError::kWouldBlock;
    case EALREADY:
        return 10037;
    case ENOTSOCK:
        return 10038;
    case EAFNOSUPPORT:
        return 10047;
    case EADDRINUSE:
        return 10048;
    case EADDRNOTAVAIL:
        return SocketError::kAddressNotAvailable;
    case ENETDOWN:
        return 10050;
    case ENETUNREACH:
        return 10051;
    case ENETRESET:
        return 10052;
    case ECONNABORTED:
    case ECONNRESET:
    case EPIPE:
        return SocketError::kConnectionAborted;
    case ENOBUFS:
        return 10055;
    case EISCONN:
        return 10056;
    case ENOTCONN:
        return 10057;
    case ETIMEDOUT:
        return SocketError::kTimedOut;
    case ECONNREFUSED:
        return SocketError::kConnectionRefused;
    case EHOSTDOWN:
        return 10064;
    case EHOSTUNREACH:
        return 10065;
    default:
        return errnoValue;
    }
}

std::string FormatSocketError(int error)
{
    const char* text = "???";
    switch (error)
    {
    case SocketError::kInvalidArgument:
        text = "ungültiger Parameter";
        break;
    case SocketError::kTooManyOpenFiles:
        text = "Zu viele offene Dateien";
        break;
    case SocketError::kTooManyOpenFilesInSystem:
        text = "Zu viele offene Dateien im System";
        break;
    case SocketError::kConnectionRefused:
        text = "Verbindung abgewiesen";
        break;
    case SocketError::kHostNotFound:
        text = "Unbekannter Hostname";
        break;
    case SocketError::kAddressNotAvailable:
        text = "Kann die gewünschte Adresse nicht zuweisen";
        break;
    case SocketError::kTimedOut:
        text = "Zeitüberschreitung beim Verbindungsaufbau";
        break;
    case SocketError::kConnectionAborted:
        text = "Verbindung abgebrochen";
        break;
    default:
        break;
    }
    return "[" + std::to_string(error) + "] " + text;
}
