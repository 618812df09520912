#include "runtime/destination.h"

#include "runtime/paths.h"
#include "runtime/runtimeerror.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <utility>

namespace {
// As the system's own limit on links in a path.
constexpr int MostLinks = 40;

[[noreturn]] void refuse(const QString& file, const QString& why) {
    throw RuntimeError(Err::PathFileAccess, ErrorDescription(Err::PathFileAccess), file, why);
}
}  // namespace

QString LinkTarget(const QString& path) {
    std::filesystem::path at = ToFsPath(path);
    for (int links = 0; links < MostLinks; ++links) {
        std::error_code ec;
        if (!std::filesystem::is_symlink(std::filesystem::symlink_status(at, ec)) || ec) {
            break;
        }
        const std::filesystem::path to = std::filesystem::read_symlink(at, ec);
        if (ec) {
            break;
        }
        at = to.is_absolute() ? to : (at.parent_path() / to).lexically_normal();
    }
    return FromFsPath(at);
}

void RefuseSpecialFile(const QString& path) {
    struct stat st {};
    if (::stat(ToFsPath(path).c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        refuse(path, QStringLiteral("%1 is no regular file").arg(path));
    }
}

void RefuseInputsAsDestinations(const QStringList& destinations, const QStringList& inputs) {
    std::map<std::pair<dev_t, ino_t>, QString> files;
    for (const QString& input : inputs) {
        struct stat in {};
        if (::stat(ToFsPath(input).c_str(), &in) == 0) {
            files.emplace(std::pair(in.st_dev, in.st_ino), input);
        }
    }
    for (const QString& destination : destinations) {
        struct stat out {};
        if (::stat(ToFsPath(destination).c_str(), &out) != 0) {
            continue;
        }
        if (const auto found = files.find(std::pair(out.st_dev, out.st_ino)); found != files.end()) {
            refuse(destination, QStringLiteral("%1 would overwrite %2, an input of this run").arg(destination, found->second));
        }
    }
}
