#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

// Shared set-up of the fuzz targets: the Qt application object, quiet
// logging and small helpers. Every target calls fuzzInit() from
// LLVMFuzzerInitialize.
namespace Fuzz {

enum class App { Core, Gui };

// Creates the application object once (offscreen for Gui) and swallows Qt's
// log lines, which would otherwise cost more time than
// the code under test; YXA_FUZZ_VERBOSE=1 lets them through. Critical and
// fatal lines still reach stderr, and fatal ones still abort.
void fuzzInit(int *argc, char ***argv, App app);

inline QByteArray bytes(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), int(size));
}

// Aborts with a message so that libFuzzer records the input as a crash: the
// targets' invariants fail through this.
[[noreturn]] void fail(const char *what, const QByteArray &detail = QByteArray());

// Splits the input at the first occurrence of sep; the rest is empty when
// sep does not occur.
void split(const QByteArray &input, const QByteArray &sep, QByteArray *first, QByteArray *rest);

} // namespace Fuzz

#include <functional>

namespace Fuzz {

// A blocking loopback TCP server in a thread of its own, for code under test
// that blocks its caller's thread (the SMTP client) or needs a peer that
// answers while the caller runs an event loop (the Mandrill client). Each
// accepted connection is handed to the handler in the server thread, one at
// a time, and closed afterwards.
class LoopbackServer
{
public:
    explicit LoopbackServer(std::function<void(LoopbackServer &)> handler);
    quint16 port() const { return m_port; }

    // For the handler: the current connection's reads and writes. Reads give
    // up after a few seconds of silence, so a confused client cannot stall
    // the fuzzer for ever; an empty result means the stream ended.
    QByteArray readLine();
    QByteArray readBytes(int n);
    void write(const QByteArray &bytes);

private:
    void run();
    void quickAck();

    std::function<void(LoopbackServer &)> m_handler;
    int m_listenFd = -1;
    int m_fd = -1;
    quint16 m_port = 0;
    QByteArray m_buffer;
};

} // namespace Fuzz
