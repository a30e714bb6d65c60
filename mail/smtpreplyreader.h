#pragma once

#include <QByteArray>
#include <QStringList>

// Frames SMTP replies out of whatever pieces the socket delivers: a reply may be split
// across packets, span several lines ("250-..." up to the final "250 ..."), or arrive
// together with the next one in a single packet.
class SmtpReplyReader
{
public:
    struct Reply {
        int code = -1; // -1: the server sent something that is not an SMTP reply
        QStringList lines;
    };

    // Upper bound for text kept while a reply is incomplete; a peer that never ends its
    // line or its multi-line reply must not make the client grow without limit.
    static constexpr int kMaxPending = 64 * 1024;

    void append(const QByteArray& bytes);
    // Takes the next complete reply, oldest first; false while none is complete, and for good
    // once a reply has grown past the cap.
    bool takeReply(Reply* reply);
    // Whether the reply being read is longer than the cap: the same answer whether the peer
    // sent it in one packet or many, asked once every complete reply has been taken.
    bool overflowed() const { return tooLong || replyBytes + buffer.size() - head > kMaxPending; }
    void clear();

private:
    QByteArray buffer;
    int head = 0; // bytes before head are read; dropped once no complete line is left
    QStringList lines; // lines of the reply being read, before its final line
    int replyBytes = 0; // bytes of those lines
    bool tooLong = false;
};
