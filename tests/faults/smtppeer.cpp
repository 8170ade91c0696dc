#include "smtppeer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>

SmtpPeer::~SmtpPeer()
{
    stop();
}

QString SmtpPeer::sourceDir()
{
    return qEnvironmentVariable("YXA_SOURCE_DIR", QStringLiteral(YXA_TEST_SOURCE_DIR));
}

QString SmtpPeer::startReal(const QStringList &extraArgs)
{
    QDir(m_dir.path()).mkpath(QStringLiteral("mail"));
    return start(sourceDir() + QStringLiteral("/tests/support/smtp-server.py"),
        QStringList { QStringLiteral("--maildir"), m_dir.filePath(QStringLiteral("mail")),
            QStringLiteral("--mode"), QStringLiteral("plain") }
            + extraArgs);
}

QString SmtpPeer::startFault(const QString &mode, const QStringList &extraArgs)
{
    return start(sourceDir() + QStringLiteral("/tests/faults/fault-smtp.py"),
        QStringList { QStringLiteral("--mode"), mode } + extraArgs);
}

QString SmtpPeer::start(const QString &script, const QStringList &args)
{
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QStringLiteral("/usr/bin/python3"), QStringList { script } + args);
    if (!m_process.waitForStarted(5000))
        return QStringLiteral("cannot start %1: %2").arg(script, m_process.errorString());
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 15000) {
        if (m_process.canReadLine()) {
            const QByteArray line = m_process.readLine().trimmed();
            if (line.startsWith("READY ")) {
                m_port = quint16(line.mid(6).toUInt());
                return QString();
            }
            continue;
        }
        if (m_process.state() == QProcess::NotRunning)
            return QStringLiteral("%1 ended before it listened").arg(script);
        m_process.waitForReadyRead(200);
    }
    return QStringLiteral("%1 did not listen within 15 s").arg(script);
}

void SmtpPeer::stop()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(2000);
        }
    }
}

QStringList SmtpPeer::messages() const
{
    QStringList paths;
    const QDir dir(m_dir.filePath(QStringLiteral("mail")));
    for (const QString &name : dir.entryList({ QStringLiteral("*.eml") }, QDir::Files, QDir::Name))
        paths << dir.filePath(name);
    return paths;
}

QByteArray SmtpPeer::eml(int index) const
{
    QFile file(messages().value(index - 1));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QJsonObject SmtpPeer::envelope(int index) const
{
    QString path = messages().value(index - 1);
    path.replace(QStringLiteral(".eml"), QStringLiteral(".json"));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QJsonObject();
    return QJsonDocument::fromJson(file.readAll()).object();
}

int SmtpPeer::connectionCount()
{
    m_output += m_process.readAllStandardOutput();
    return m_output.count("CONN ");
}

int SmtpPeer::acceptedCount()
{
    m_output += m_process.readAllStandardOutput();
    return m_output.count("MSG ");
}
