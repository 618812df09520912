#pragma once

#include <QString>

#include <cstdint>
#include <stdexcept>

// The classic Basic run-time numbers, so Errors.Log reads as users expect.
namespace Err {
constexpr std::int32_t InvalidCall = 5;
constexpr std::int32_t Overflow = 6;
constexpr std::int32_t OutOfMemory = 7;
constexpr std::int32_t SubscriptOutOfRange = 9;
constexpr std::int32_t TypeMismatch = 13;
constexpr std::int32_t BadFileName = 52;
constexpr std::int32_t FileNotFound = 53;
constexpr std::int32_t DiskFull = 61;
constexpr std::int32_t PermissionDenied = 70;
constexpr std::int32_t PathFileAccess = 75;
constexpr std::int32_t PathNotFound = 76;
constexpr std::int32_t InvalidPropertyValue = 380;
constexpr std::int32_t InvalidPicture = 481;
// Results of the image layer, HRESULTs read as signed 32-bit.
constexpr std::int32_t E_FAIL_ = static_cast<std::int32_t>(0x80004005u);
constexpr std::int32_t E_INVALIDARG_ = static_cast<std::int32_t>(0x80070057u);
}  // namespace Err

// A run-time failure: a signed number and a description.
class RuntimeError : public std::runtime_error {
public:
    RuntimeError(std::int32_t number, const QString& description);
    std::int32_t Number() const { return number_; }
    const QString& Description() const { return description_; }

private:
    std::int32_t number_;
    QString description_;
};

// The standard description of a run-time number ("" for one we do not know).
QString ErrorDescription(std::int32_t number);

// Raises the failure with its standard description.
[[noreturn]] void RaiseError(std::int32_t number);

// Raises the failure that matches a C errno value (ENOENT is 53, EACCES 70, ...).
[[noreturn]] void RaiseErrno(int errnoValue);

// The run-time number that matches a C errno value.
std::int32_t ErrnoToNumber(int errnoValue);
