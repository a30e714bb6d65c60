#pragma once

#include <QByteArray>
#include <QVector>

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdlib>

// A byte stream as a peer's reads deliver it. The fuzzer chooses the cuts and the pauses
// from the end of its input; the bytes in front of them are the stream, so a seed is a
// captured stream followed by a few bytes of cuts.
struct StreamReads {
    struct Read {
        QByteArray bytes;
        int gapMs = 0; // since the previous read
    };
    QByteArray stream;
    QVector<Read> reads;

    StreamReads(FuzzedDataProvider& input, int maxGapMs)
    {
        cuts.resize(input.ConsumeIntegralInRange(0, 15));
        for (auto& cut : cuts)
            cut = { input.ConsumeIntegral<quint16>(), input.ConsumeIntegralInRange(0, maxGapMs) };
        const std::vector<char> rest = input.ConsumeRemainingBytes<char>();
        stream = QByteArray(rest.data(), int(rest.size()));
        reads = cut(stream);
    }

    // Any stream cut at the same points, taken modulo its length.
    QVector<Read> cut(const QByteArray& bytes) const
    {
        QVector<QPair<int, int>> at = cuts;
        for (auto& c : at)
            c.first %= bytes.size() + 1;
        std::sort(at.begin(), at.end());
        QVector<Read> pieces;
        int from = 0;
        int gap = 0;
        for (const auto& c : at) {
            pieces.append({ bytes.mid(from, c.first - from), gap });
            from = c.first;
            gap = c.second;
        }
        pieces.append({ bytes.mid(from), gap });
        return pieces;
    }

private:
    QVector<QPair<int, int>> cuts; // position, then the pause before the read it starts
};

// A property that does not hold is a finding: stop here, and libFuzzer keeps the input.
inline void require(bool condition)
{
    if (!condition)
        std::abort();
}
