#include "fulldisk.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

namespace
{

QString gNamespaceProblem;

bool writeProcFile(const char* path, const QByteArray& text)
{
    const int fd = ::open(path, O_WRONLY);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, text.constData(), size_t(text.size())) == text.size();
    ::close(fd);
    return ok;
}

// Before main: a later unshare of a user namespace is refused to a process with threads.
struct PrivateMounts {
    PrivateMounts()
    {
        const uid_t uid = ::getuid();
        const gid_t gid = ::getgid();
        if (uid == 0) {
            if (::unshare(CLONE_NEWNS) != 0)
                gNamespaceProblem = QStringLiteral("unshare(CLONE_NEWNS): ") + QString::fromLocal8Bit(strerror(errno));
        } else if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
            gNamespaceProblem = QStringLiteral("unshare(CLONE_NEWUSER|CLONE_NEWNS): ")
                + QString::fromLocal8Bit(strerror(errno));
        } else {
            writeProcFile("/proc/self/setgroups", "deny");
            if (!writeProcFile("/proc/self/uid_map", QByteArray::number(uid) + ' ' + QByteArray::number(uid) + " 1")
                || !writeProcFile(
                    "/proc/self/gid_map", QByteArray::number(gid) + ' ' + QByteArray::number(gid) + " 1"))
                gNamespaceProblem = QStringLiteral("cannot map the user into its namespace");
        }
        // Mounts made here stay out of the namespace it came from.
        if (gNamespaceProblem.isEmpty() && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            gNamespaceProblem = QStringLiteral("mount --make-rprivate /: ") + QString::fromLocal8Bit(strerror(errno));
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
