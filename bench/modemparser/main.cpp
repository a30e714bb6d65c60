// Modem reply parser benchmark: a stream of sensor messages as the modem prints them, handed
// to ModemReplyParser::feed in chunks of a fixed size.
//   bench_modemparser [--messages N] [--sensors S] [--chunks 16,64,...,0] [--repeat R]
// Every run must give back every message (count and a checksum over senders and payload
// bytes, in order). Reports messages per second per chunk size (0 means the whole stream in
// one chunk) and the time of one whole-stream chunk of N/10 messages against N messages:
// about 10 means the parser stays linear however much a single chunk holds. Then crafted lines:
// a reply's head and nearly 8 KiB of its field separators, read 64 bytes at a time, each with a
// sensor message behind it that must still come through.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QVector>

#include <algorithm>
#include <cstdio>

#include "links/modemreplyparser.h"
#include "tools/modemsim/modempeer.h"
#include "tools/modemsim/simulatedsensor.h"

namespace
{

// FNV-1a, 64 bits: order-sensitive, so a message lost, doubled or swapped changes it.
struct Checksum {
    quint64 value = 14695981039346656037ull;
    qint64 bytes = 0;
    void add(const QByteArray& data)
    {
        for (const char c : data) {
            value ^= quint8(c);
            value *= 1099511628211ull;
        }
        bytes += data.size();
    }
    bool operator==(const Checksum& other) const { return value == other.value && bytes == other.bytes; }
};

struct Stream {
    QByteArray bytes;
    int messages = 0;
    Checksum expected;
};

// Sensor messages from a fleet of simulated sensors taking turns, as the line would carry them.
Stream makeStream(int messages, int sensors, quint32 seed)
{
    QRandomGenerator random(seed);
    QVector<SimulatedSensor> fleet;
    for (int i = 0; i < sensors; ++i)
        fleet.append(SimulatedSensor(i, &random));
    Stream s;
    s.messages = messages;
    for (int i = 0; i < messages; ++i) {
        SimulatedSensor& sensor = fleet[i % sensors];
        const QByteArray payload = sensor.nextPayload();
        s.bytes += ModemPeer::castFrame(QStringLiteral("UCAST"), sensor.eui64(), payload);
        s.expected.add(sensor.eui64().toLatin1());
        s.expected.add(payload);
    }
    return s;
}

struct Run {
    double seconds = 0;
    int messages = 0;
    int others = 0; // replies of another kind: must stay 0
    int leftOver = 0;
    Checksum seen;
};

Run feedStream(const Stream& stream, int chunkSize)
{
    const int size = stream.bytes.size();
    const int step = chunkSize > 0 ? chunkSize : std::max(size, 1);
    // The chunks are cut before the clock starts: the port hands the parser ready arrays.
    QVector<QByteArray> chunks;
    chunks.reserve(size / step + 1);
    for (int at = 0; at < size; at += step)
        chunks.append(stream.bytes.mid(at, step));

    ModemReplyParser parser;
    Run run;
    // One millisecond between chunks keeps every chunk well inside the pause that would
    // discard a partial message.
    qint64 now = 1000;
    parser.lastChunkTime = now;
    QElapsedTimer clock;
    clock.start();
    for (const QByteArray& chunk : qAsConst(chunks)) {
        const QVector<ModemReply> replies = parser.feed(chunk, ++now, true);
        for (const ModemReply& r : replies) {
            if (r.type != ModemReply::Cast) {
                ++run.others;
                continue;
            }
            ++run.messages;
            run.seen.add(r.sender.toLatin1());
            run.seen.add(r.payload);
        }
    }
    run.seconds = clock.nsecsElapsed() / 1e9;
    run.leftOver = parser.buffered();
    return run;
}

// The fastest of `repeat` runs; every one of them must be complete.
bool measure(const Stream& stream, int chunkSize, int repeat, double* best)
{
    *best = 0;
    for (int i = 0; i < repeat; ++i) {
        const Run run = feedStream(stream, chunkSize);
        if (run.messages != stream.messages || run.others != 0 || !(run.seen == stream.expected)) {
            std::printf("chunk %d: FAILED: %d of %d messages, %d other replies, checksum %s, %d bytes left over\n",
                chunkSize, run.messages, stream.messages, run.others,
                run.seen == stream.expected ? "equal" : "different", run.leftOver);
            return false;
        }
        if (i == 0 || run.seconds < *best)
            *best = run.seconds;
    }
    return true;
}

QString sizeText(int chunk)
{
    if (chunk <= 0)
        return QStringLiteral("whole stream");
    if (chunk >= 1048576 && chunk % 1048576 == 0)
        return QStringLiteral("%1 MiB").arg(chunk / 1048576);
    if (chunk >= 1024 && chunk % 1024 == 0)
        return QStringLiteral("%1 KiB").arg(chunk / 1024);
    return QStringLiteral("%1 B").arg(chunk);
}

// A head that a reply starts with and the byte repeated behind it up to nearly the cap: work
// that grows faster than the bytes would show up as a line costing far more than its size.
struct CraftedLine {
    const char* head;
    char fill;
};

const CraftedLine craftedLines[] = {
    { "NEWNODE:", ',' },
    { "AT+N\r\r\n+N=COO,11,", ',' },
    { "AT+EN\r\r\nJPAN:", ',' },
    { "UCAST:", ',' },
    { "UCAST:", '=' },
    { "FFD:", ',' },
    { "ATI\r\r\nTelegesis ", ',' },
    { "AT+UCASTB:08,", ',' },
};

// Feeds each crafted line, a line end and one sensor message, 64 bytes a read; false when
// the message behind a line was lost.
bool measureCrafted(int repeat)
{
    const QByteArray payload("\x01\x01\x01\x04\x00\x00\xa8\x41", 8);
    const QByteArray message
        = ModemPeer::castFrame(QStringLiteral("UCAST"), QStringLiteral("000D6F0000C0A001"), payload);
    bool ok = true;
    std::printf("\n%-28s %12s %14s\n", "crafted line, 64 B reads", "ms a line", "message");
    for (const CraftedLine& crafted : craftedLines) {
        QByteArray line(crafted.head);
        line += QByteArray(ModemReplyParser::maxBuffered - 200 - line.size(), crafted.fill);
        const QByteArray bytes = line + "\r\n" + message;
        double best = 0;
        bool through = true;
        for (int i = 0; i < repeat; ++i) {
            ModemReplyParser parser;
            qint64 now = 1000;
            parser.lastChunkTime = now;
            int casts = 0;
            QElapsedTimer clock;
            clock.start();
            for (int at = 0; at < bytes.size(); at += 64) {
                for (const ModemReply& r : parser.feed(bytes.mid(at, 64), ++now, true))
                    casts += r.type == ModemReply::Cast && r.payload == payload;
            }
            const double seconds = clock.nsecsElapsed() / 1e9;
            through = through && casts == 1;
            if (i == 0 || seconds < best)
                best = seconds;
        }
        QByteArray name = QByteArray(crafted.head).replace("\r", "\\r").replace("\n", "\\n") + "'" + crafted.fill + "'";
        std::printf("%-28s %12.2f %14s\n", name.constData(), best * 1e3, through ? "read" : "LOST");
        ok = ok && through;
    }
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser cli;
    cli.setApplicationDescription(QStringLiteral("Throughput of the modem reply parser over sensor messages."));
    cli.addHelpOption();
    cli.addOption({ "messages", "Sensor messages in the stream.", "N", "100000" });
    cli.addOption({ "sensors", "Simulated sensors taking turns.", "S", "50" });
    cli.addOption({ "chunks", "Chunk sizes in bytes, comma-separated; 0 is the whole stream.", "list",
        "16,64,1024,65536,1048576,0" });
    cli.addOption({ "repeat", "Runs per chunk size; the fastest counts.", "R", "3" });
    cli.addOption({ "seed", "Seed of the simulated readings.", "seed", "7" });
    cli.process(app);

    const int messages = std::max(10, cli.value("messages").toInt());
    const int sensors = std::max(1, cli.value("sensors").toInt());
    const int repeat = std::max(1, cli.value("repeat").toInt());
    const quint32 seed = cli.value("seed").toUInt();
    QVector<int> chunkSizes;
    for (const QString& part : cli.value("chunks").split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        bool ok = false;
        const int size = part.trimmed().toInt(&ok);
        if (!ok || size < 0) {
            std::fprintf(stderr, "invalid chunk size: %s\n", qPrintable(part));
            return 2;
        }
        chunkSizes.append(size);
    }

    const Stream stream = makeStream(messages, sensors, seed);
    std::printf("stream: %d messages from %d sensors, %d bytes (%.1f bytes a message), best of %d runs\n\n",
        stream.messages, sensors, int(stream.bytes.size()), double(stream.bytes.size()) / stream.messages, repeat);
    std::printf("%-14s %12s %14s %10s\n", "chunk", "time, ms", "messages/s", "MB/s");
    bool ok = true;
    for (const int chunk : qAsConst(chunkSizes)) {
        double seconds = 0;
        if (!measure(stream, chunk, repeat, &seconds)) {
            ok = false;
            continue;
        }
        std::printf("%-14s %12.1f %14.0f %10.1f\n", qPrintable(sizeText(chunk)), seconds * 1e3,
            stream.messages / seconds, stream.bytes.size() / seconds / 1e6);
    }

    // The same parser given a tenth of the messages in one chunk: linear work takes a tenth
    // of the time, a rescan of the whole buffer per message would take a hundredth.
    const Stream tenth = makeStream(messages / 10, sensors, seed);
    double small = 0;
    double large = 0;
    if (!measure(tenth, 0, repeat, &small) || !measure(stream, 0, repeat, &large)) {
        ok = false;
    } else {
        const double ratio = large / small;
        std::printf("\nlinearity, one chunk: %d messages %.1f ms, %d messages %.1f ms, ratio %.1f (%s)\n",
            tenth.messages, small * 1e3, stream.messages, large * 1e3, ratio,
            ratio < 15 ? "linear" : "NOT linear");
    }
    ok = measureCrafted(repeat) && ok;
    std::printf("%s\n", ok ? "every run returned every message" : "SOME RUNS LOST MESSAGES");
    return ok ? 0 : 1;
}
