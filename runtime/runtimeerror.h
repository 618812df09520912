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

// A run-time failure: a signed number and a description, and where known the file it
// concerns and the system's own cause (the number alone folds several causes into one).
class RuntimeError : public std::runtime_error {
public:
    RuntimeError(std::int32_t number, const QString& description, const QString& file = QString(),
                 const QString& cause = QString());
    std::int32_t Number() const { return number_; }
    const QString& Description() const { return description_; }
    const QString& File() const { return file_; }
    const QString& Cause() const { return cause_; }
    // Names the file unless a deeper step named one already.
    void NameFile(const QString& file) {
        if (file_.isEmpty()) {
            file_ = file;
        }
    }

private:
    std::int32_t number_;
    QString description_;
    QString file_;
    QString cause_;
};

// Runs work; a failure in it that names no file is about file.
template <class Work>
decltype(auto) AboutFile(const QString& file, Work&& work) {
    try {
        return work();
    } catch (RuntimeError& failure) {
        failure.NameFile(file);
        throw;
    }
}

// The standard description of a run-time number ("" for one we do not know).
QString ErrorDescription(std::int32_t number);

// Raises the failure with its standard description.
[[noreturn]] void RaiseError(std::int32_t number);

// Raises the failure with its standard description, about file.
[[noreturn]] void RaiseError(std::int32_t number, const QString& file);

// Raises the failure that matches a C errno value (ENOENT is 53, EACCES 70, ...), with the
// system's text as its cause where the number does not say it (EROFS is 70, as EACCES).
[[noreturn]] void RaiseErrno(int errnoValue, const QString& file = QString());

// The same for a file being written, where ENOENT means that its folder is missing.
[[noreturn]] void RaiseWriteErrno(int errnoValue, const QString& file);

// The run-time number that matches a C errno value.
std::int32_t ErrnoToNumber(int errnoValue);
