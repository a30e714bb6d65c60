#include "mail/letterstream.h"

#include <QFileInfo>

#include "mail/mimeletter.h"

namespace
{

// Bytes of a file encoded at a time: a whole number of 57-byte groups, each of which makes one
// 76-character base64 line, so the lines come out as they would from the whole content.
constexpr qint64 kPiece = 57 * 4096;

} // namespace

bool LetterStream::open(const QByteArray& letterHead, const QStringList& paths, QString* error)
{
    clear();
    for (const QString& path : paths) {
        if (!QFileInfo::exists(path))
            continue;
        auto file = std::make_shared<QFile>(path);
        if (!file->open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("Не удалось прочитать вложение %1: %2").arg(path, file->errorString());
            clear();
            return false;
        }
        files.append(file);
    }
    head = letterHead;
    stage = Head;
    return true;
}

bool LetterStream::next(QByteArray* piece, QString* error)
{
    switch (stage) {
    case Head:
        *piece = head;
        head.clear();
        stage = files.isEmpty() ? Tail : PartHead;
        return true;
    case PartHead:
        *piece = MimeLetter::attachmentHead(QFileInfo(files.at(current)->fileName()).fileName());
        stage = Content;
        return true;
    case Content: {
        QFile& file = *files.at(current);
        const QByteArray data = file.read(kPiece);
        if (file.error() != QFileDevice::NoError) {
            *error = QStringLiteral("Не удалось прочитать вложение %1: %2").arg(file.fileName(), file.errorString());
            clear();
            return false;
        }
        *piece = MimeLetter::base64Lines(data, true);
        if (data.size() < kPiece) {
            file.close();
            stage = ++current < files.size() ? PartHead : Tail;
        }
        return true;
    }
    case Tail:
        *piece = MimeLetter::tail();
        clear();
        return true;
    case Done:
        break;
    }
    return false;
}

void LetterStream::clear()
{
    head.clear();
    files.clear();
    current = 0;
    stage = Done;
}
