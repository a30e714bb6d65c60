#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

// The text of one letter for the DATA phase, made piece by piece while the connection takes
// it: each attachment is read from its file and base64-encoded a piece at a time, so a large
// archive is never held in memory whole, nor read before the server has asked for the letter.
// The pieces joined are exactly MimeLetter::build's text for the same files.
class LetterStream
{
public:
    // Opens every attachment that exists (a path that does not is skipped); false, with
    // `error` set, when one exists but cannot be opened for reading. `head` is the letter up
    // to its attachments (MimeLetter::head).
    bool open(const QByteArray& head, const QStringList& files, QString* error);
    // The next piece of the text; false at the end, or on a read failure (with `error` set).
    bool next(QByteArray* piece, QString* error);
    bool atEnd() const { return stage == Done; }
    // Lets the files go.
    void clear();

private:
    enum Stage { Head, PartHead, Content, Tail, Done };

    QByteArray head;
    QList<std::shared_ptr<QFile>> files;
    int current = 0;
    Stage stage = Done;
};
