#pragma once

#include <QByteArray>
#include <QSemaphore>
#include <QThread>

#include <atomic>

// A TCP proxy on loopback in front of a MariaDB server port, in a thread of its own so that it
// keeps working while the test's thread waits (or the program's connection blocks it while it
// connects through it). It forwards both ways until stall() and from then on holds everything
// each side sends, as a network that stops answering, until resume(). It can also cut: see
// `cuts`.
class StallingProxy : public QThread
{
public:
    explicit StallingProxy(quint16 target);
    ~StallingProxy() override;

    // Starts the thread; false when it could not listen.
    bool listen();
    quint16 port() const { return m_port; }
    void stall() { m_stalled = true; }
    void resume() { m_stalled = false; }
    // A connection whose client sends these bytes is held for good from then on, while
    // the others go on; set before listen().
    void stallOn(const QByteArray& mark) { m_mark = mark; }
    int connectionsHeld() const { return m_held; }

    // The next `cuts` times a client sends COMMIT, it is forwarded (dropped with `swallow`)
    // and both connections are cut before the server's reply can come back; `cut` counts them.
    std::atomic<int> cuts { 0 };
    std::atomic<int> cut { 0 };
    std::atomic<bool> swallow { false };

protected:
    void run() override;

private:
    quint16 m_target;
    std::atomic<quint16> m_port { 0 };
    std::atomic<bool> m_stalled { false };
    QByteArray m_mark;
    std::atomic<int> m_held { 0 };
    QSemaphore m_ready;
};
