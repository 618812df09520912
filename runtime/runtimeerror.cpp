#include "runtime/runtimeerror.h"

#include <cerrno>

RuntimeError::RuntimeError(std::int32_t number, const QString& description)
    : std::runtime_error(description.toStdString()), number_(number), description_(description) {}

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

void RaiseErrno(int errnoValue) { RaiseError(ErrnoToNumber(errnoValue)); }
