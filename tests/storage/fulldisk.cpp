#include "fulldisk.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

namespace
{

// Before main: a process with threads may not unshare a user namespace. Anyone but root is
// mapped onto themselves inside one; mounts made here stay out of the namespace it came from.
const QString gNamespaceProblem = [] {
    const QByteArray uid = QByteArray::number(::getuid()), gid = QByteArray::number(::getgid());
    bool ok = ::unshare(uid == "0" ? CLONE_NEWNS : CLONE_NEWUSER | CLONE_NEWNS) == 0;
    for (const auto& map : { std::make_pair("setgroups", QByteArray("deny")),
             std::make_pair("uid_map", uid + ' ' + uid + " 1"), std::make_pair("gid_map", gid + ' ' + gid + " 1") }) {
        QFile file(QStringLiteral("/proc/self/") + QLatin1String(map.first));
        ok = ok && (uid == "0" || (file.open(QIODevice::WriteOnly) && file.write(map.second) == map.second.size()));
    }
    ok = ok && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    return ok ? QString() : QStringLiteral("no mount namespace of its own: ") + strerror(errno);
}();

} // namespace

FullDisk::FullDisk(const QString& folder, qint64 bytes)
    : path(folder)
    , problem(gNamespaceProblem)
{
    const QByteArray at = QFile::encodeName(folder), options = "size=" + QByteArray::number(bytes);
    if (problem.isEmpty() && !(QDir().mkpath(folder) && ::mount("ostrivel-full", at, "tmpfs", 0, options) == 0))
        problem = QStringLiteral("mount tmpfs on %1: %2").arg(folder, strerror(errno));
}

FullDisk::~FullDisk()
{
    if (problem.isEmpty())
        ::umount2(QFile::encodeName(path), MNT_DETACH);
}

bool FullDisk::fill()
{
    QFile filler(path + QStringLiteral("/.filler"));
    if (!problem.isEmpty() || !filler.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return false;
    // Whole pages first, then the last bytes one by one.
    while (filler.write(QByteArray(4096, 'x')) == 4096) { }
    while (filler.write("x", 1) == 1) { }
    return filler.error() == QFileDevice::ResourceError;
}

void FullDisk::free()
{
    QFile::remove(path + QStringLiteral("/.filler"));
}
