#include "fakemandrill.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>
#include <QSaveFile>
#include <QThread>

FakeMandrill::FakeMandrill(const QJsonObject &script)
{
    setScript(script);
}

FakeMandrill::~FakeMandrill()
{
    if (process.state() != QProcess::NotRunning) {
        process.terminate();
        if (!process.waitForFinished(3000)) {
            process.kill();
            process.waitForFinished(3000);
        }
    }
}

QString FakeMandrill::scriptPath()
{
    const QString source
        = qEnvironmentVariable("YXA_SOURCE_DIR", QStringLiteral(YXA_TEST_SOURCE_DIR));
    return source + QStringLiteral("/tests/support/fake-mandrill.py");
}

void FakeMandrill::setScript(const QJsonObject &script)
{
    QSaveFile file(dir.filePath(QStringLiteral("script.json")));
    if (file.open(QIODevice::WriteOnly)) {
        file.write(QJsonDocument(script).toJson());
        file.commit();
    }
}

QString FakeMandrill::start()
{
    if (!dir.isValid())
        return QStringLiteral("no temporary directory");
    const QString portFile = dir.filePath(QStringLiteral("port"));
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList args { scriptPath(), QStringLiteral("--record"),
        dir.filePath(QStringLiteral("requests.jsonl")), QStringLiteral("--port-file"), portFile,
        QStringLiteral("--script"), dir.filePath(QStringLiteral("script.json")),
        QStringLiteral("--max-seconds"), QStringLiteral("300") };
    if (!tlsFiles.isEmpty())
        args << QStringLiteral("--tls") << tlsFiles;
    process.start(QStringLiteral("/usr/bin/python3"), args);
    if (!process.waitForStarted(5000))
        return QStringLiteral("cannot start %1: %2").arg(scriptPath(), process.errorString());
    const QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        QFile file(portFile);
        if (file.open(QIODevice::ReadOnly)) {
            port = file.readAll().trimmed().toInt();
            if (port > 0)
                return QString();
        }
        if (process.state() == QProcess::NotRunning)
            return QStringLiteral("fake-mandrill.py exited: %1")
                .arg(QString::fromUtf8(process.readAll()));
        QThread::msleep(20);
    }
    return QStringLiteral("fake-mandrill.py wrote no port");
}

void FakeMandrill::useTls(const QString &certFile, const QString &keyFile)
{
    tlsFiles = QStringList { certFile, keyFile };
}

QUrl FakeMandrill::url() const
{
    if (!tlsFiles.isEmpty())
        return QUrl(QStringLiteral("https://localhost:%1").arg(port));
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port));
}

MandrillApiSettings FakeMandrill::apiSettings(int requestTimeoutMs) const
{
    MandrillApiSettings settings;
    settings.apiUrl = url();
    settings.requestTimeoutMs = requestTimeoutMs;
    return settings;
}

QList<QJsonObject> FakeMandrill::requests(const QString &path) const
{
    QList<QJsonObject> result;
    QFile file(dir.filePath(QStringLiteral("requests.jsonl")));
    if (!file.open(QIODevice::ReadOnly))
        return result;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.trimmed().isEmpty())
            continue;
        const QJsonObject request = QJsonDocument::fromJson(line).object();
        if (path.isEmpty() || request.value(QStringLiteral("path")).toString() == path)
            result << request;
    }
    return result;
}

QJsonObject FakeMandrill::reply(int status, const QJsonValue &json)
{
    return QJsonObject { { QStringLiteral("status"), status }, { QStringLiteral("json"), json } };
}

QJsonObject FakeMandrill::rawReply(int status, const QString &body)
{
    return QJsonObject { { QStringLiteral("status"), status }, { QStringLiteral("body"), body } };
}
