#include "fuzzsupport.h"

#include <QApplication>
#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>

namespace {
bool verbose = false;

void messageHandler(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "fatal: %s\n", qUtf8Printable(text));
        std::abort();
    }
    // Critical lines are part of normal error handling here (unparsable data
    // is logged as critical) and would flood the fuzzer's output.
    if (verbose)
        std::fprintf(stderr, "%s\n", qUtf8Printable(text));
}
} // namespace

namespace Fuzz {

void fuzzInit(int *argc, char ***argv, App app)
{
    verbose = qEnvironmentVariableIntValue("YXA_FUZZ_VERBOSE") == 1;
    qInstallMessageHandler(messageHandler);
    // The proxy settings of the machine must not divert loopback traffic.
    qunsetenv("http_proxy");
    qunsetenv("HTTP_PROXY");
    qunsetenv("https_proxy");
    qunsetenv("all_proxy");
    qputenv("no_proxy", "*");
    if (app == App::Gui) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        // The application object lives for the whole process, as in the host.
        new QApplication(*argc, *argv);
    } else {
        new QCoreApplication(*argc, *argv);
    }
}

void fail(const char *what, const QByteArray &detail)
{
    std::fprintf(stderr, "invariant violated: %s\n", what);
    if (!detail.isEmpty())
        std::fprintf(stderr, "detail: %s\n", detail.toPercentEncoding(" /:=<>[]{}\",").constData());
    std::abort();
}

void split(const QByteArray &input, const QByteArray &sep, QByteArray *first, QByteArray *rest)
{
    const int at = input.indexOf(sep);
    if (at < 0) {
        *first = input;
        rest->clear();
        return;
    }
    *first = input.left(at);
    *rest = input.mid(at + sep.size());
}

} // namespace Fuzz

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <thread>

namespace Fuzz {

LoopbackServer::LoopbackServer(std::function<void(LoopbackServer &)> handler)
    : m_handler(std::move(handler))
{
    m_listenFd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (m_listenFd < 0 || ::bind(m_listenFd, reinterpret_cast<sockaddr *>(&addr), len) != 0
        || ::listen(m_listenFd, 16) != 0
        || ::getsockname(m_listenFd, reinterpret_cast<sockaddr *>(&addr), &len) != 0)
        fail("loopback server: cannot listen");
    m_port = ntohs(addr.sin_port);
    std::thread([this]() { run(); }).detach();
}

void LoopbackServer::run()
{
    for (;;) {
        const int fd = ::accept(m_listenFd, nullptr, nullptr);
        if (fd < 0)
            continue;
        timeval timeout { 5, 0 };
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        m_fd = fd;
        m_buffer.clear();
        m_handler(*this);
        m_fd = -1;
        ::close(fd);
    }
}

// Without an immediate ACK the client's Nagle algorithm holds back the
// second half of a request (an HTTP body after its headers) for the 40 ms of
// a delayed ACK, which would make the fuzzer wait instead of run.
void LoopbackServer::quickAck()
{
    const int on = 1;
    ::setsockopt(m_fd, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
}

QByteArray LoopbackServer::readLine()
{
    for (;;) {
        const int end = m_buffer.indexOf('\n');
        if (end >= 0) {
            const QByteArray line = m_buffer.left(end + 1);
            m_buffer.remove(0, end + 1);
            return line;
        }
        char chunk[4096];
        quickAck();
        const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, 0);
        if (n <= 0) {
            const QByteArray rest = m_buffer;
            m_buffer.clear();
            return rest;
        }
        m_buffer.append(chunk, int(n));
    }
}

QByteArray LoopbackServer::readBytes(int n)
{
    while (m_buffer.size() < n) {
        char chunk[4096];
        quickAck();
        const ssize_t got = ::recv(m_fd, chunk, sizeof chunk, 0);
        if (got <= 0)
            break;
        m_buffer.append(chunk, int(got));
    }
    const QByteArray out = m_buffer.left(n);
    m_buffer.remove(0, out.size());
    return out;
}

void LoopbackServer::write(const QByteArray &bytes)
{
    int done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(m_fd, bytes.constData() + done, size_t(bytes.size() - done),
            MSG_NOSIGNAL);
        if (n <= 0)
            return;
        done += int(n);
    }
}

} // namespace Fuzz
