#include "runtime/runtimeerror.h"

#include <cerrno>
#include <cstring>

RuntimeError::RuntimeError(std::int32_t number, const QString& description, const QString& file, const QString& cause)
    : std::runtime_error(description.toStdString()), number_(number), description_(description), file_(file),
      cause_(cause) {}

QString ErrorDescription(std::int32_t number) {
    switch (number) {
    case Err::InvalidCall: return QStringLiteral("Invalid procedure call or argument");
    case Err::Overflow: return QStringLiteral("Overflow");
    case Err::OutOfMemory: return QStringLiteral("Out of memory");
    case Err::SubscriptOutOfRange: return QStringLiteral("Subscript out of range");
    case Err::TypeMismatch: return QStringLiteral("Type mismatch");
    case Err::BadFileName: return QStringLiteral("Bad file name or number");
    case Err::FileNotFound: return QStringLiteral("File not found");
    case Err::DiskFull: return QStringLiteral("Disk full");
    case Err::PermissionDenied: return QStringLiteral("Permission denied");
    case Err::PathFileAccess: return QStringLiteral("Path/File access error");
    case Err::PathNotFound: return QStringLiteral("Path not found");
    case Err::InvalidPropertyValue: return QStringLiteral("Invalid property value");
    case Err::InvalidPicture: return QStringLiteral("Invalid picture");
    case Err::E_FAIL_: return QStringLiteral("Automation error: unspecified failure");
    case Err::E_INVALIDARG_: return QStringLiteral("Automation error: invalid argument");
    default: return QString();
    }
}

void RaiseError(std::int32_t number) { throw RuntimeError(number, ErrorDescription(number)); }

void RaiseError(std::int32_t number, const QString& file) { throw RuntimeError(number, ErrorDescription(number), file); }

std::int32_t ErrnoToNumber(int errnoValue) {
    switch (errnoValue) {
    case ENOENT: return Err::FileNotFound;
    case ENOTDIR: return Err::PathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY: return Err::PermissionDenied;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return Err::DiskFull;
    case ENOMEM: return Err::OutOfMemory;
    case ENAMETOOLONG:
    case EINVAL:
    case EILSEQ: return Err::BadFileName;
    default: return Err::PathFileAccess;
    }
}

void RaiseWriteErrno(int errnoValue, const QString& file) {
    if (errnoValue == ENOENT) {
        throw RuntimeError(ErrnoToNumber(ENOENT), ErrorDescription(ErrnoToNumber(ENOENT)), file,
                           QStringLiteral("the folder it goes in does not exist"));
    }
    RaiseErrno(errnoValue, file);
}

void RaiseErrno(int errnoValue, const QString& file) {
    const std::int32_t number = ErrnoToNumber(errnoValue);
    // Where the number is the errno's one plain meaning, the system's text would only repeat it.
    const bool plain = errnoValue == ENOENT || errnoValue == EACCES || errnoValue == ENOSPC || errnoValue == ENOMEM;
    const QString cause = plain ? QString() : QString::fromLocal8Bit(std::strerror(errnoValue)).toLower();
    throw RuntimeError(number, ErrorDescription(number), file, cause);
}
