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

QString gNamespaceProblem;

// Before main: a later unshare of a user namespace is refused to a process with threads. Root
// needs no user namespace; anyone else is mapped onto themselves inside one.
struct PrivateMounts {
    PrivateMounts()
    {
        const QByteArray uid = QByteArray::number(::getuid()), gid = QByteArray::number(::getgid());
        bool ok = ::unshare(uid == "0" ? CLONE_NEWNS : CLONE_NEWUSER | CLONE_NEWNS) == 0;
        for (const auto& map : { std::make_pair("setgroups", QByteArray("deny")),
                 std::make_pair("uid_map", uid + ' ' + uid + " 1"), std::make_pair("gid_map", gid + ' ' + gid + " 1") }) {
            QFile file(QStringLiteral("/proc/self/") + QLatin1String(map.first));
            ok = ok && (uid == "0" || (file.open(QIODevice::WriteOnly) && file.write(map.second) == map.second.size()));
        }
        // Mounts made here stay out of the namespace it came from.
        ok = ok && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
        if (!ok)
            gNamespaceProblem = QStringLiteral("no mount namespace of its own: ") + QString::fromLocal8Bit(strerror(errno));
    }
} gPrivateMounts;

} // namespace

FullDisk::FullDisk(const QString& folder, qint64 bytes)
    : path(folder)
{
    problem = gNamespaceProblem;
    if (!problem.isEmpty())
        return;
    QDir().mkpath(folder);
    const QByteArray options = "size=" + QByteArray::number(bytes);
    if (::mount("ostrivel-full", QFile::encodeName(folder).constData(), "tmpfs", MS_NOSUID | MS_NODEV,
            options.constData())
        != 0)
        problem = QStringLiteral("mount tmpfs on %1: %2").arg(folder, QString::fromLocal8Bit(strerror(errno)));
}

FullDisk::~FullDisk()
{
    if (problem.isEmpty())
        ::umount2(QFile::encodeName(path).constData(), MNT_DETACH);
}

bool FullDisk::fill()
{
    QFile filler(path + QStringLiteral("/.filler"));
    if (!problem.isEmpty() || !filler.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return false;
    const QByteArray block(4096, 'x');
    // Whole pages first, then the last bytes one by one.
    while (filler.write(block) == block.size()) { }
    while (filler.write("x", 1) == 1) { }
    return filler.error() == QFileDevice::ResourceError;
}

void FullDisk::free()
{
    QFile::remove(path + QStringLiteral("/.filler"));
}
