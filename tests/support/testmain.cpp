#include "testmain.h"

#include <QApplication>
#include <QTest>
#include <memory>
#include <utility>
#include <vector>

namespace YxaTest {
namespace {
std::vector<std::pair<QByteArray, Factory>> &registry()
{
    static std::vector<std::pair<QByteArray, Factory>> tests;
    return tests;
}
} // namespace

int registerTest(const char *name, Factory factory)
{
    registry().emplace_back(QByteArray(name), std::move(factory));
    return int(registry().size());
}

int runAll(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("yxa"));

    QByteArray only;
    std::vector<char *> args { argv[0] };
    int first = 1;
    if (argc > 1 && argv[1][0] != '-') {
        only = argv[1];
        first = 2;
    }
    for (int i = first; i < argc; ++i)
        args.push_back(argv[i]);

    int failures = 0;
    bool ran = false;
    for (auto &entry : registry()) {
        if (!only.isEmpty() && entry.first != only)
            continue;
        ran = true;
        std::unique_ptr<QObject> test(entry.second());
        failures += QTest::qExec(test.get(), int(args.size()), args.data());
    }
    if (!ran) {
        qCritical("no test class named %s", only.constData());
        return 2;
    }
    return failures == 0 ? 0 : 1;
}
} // namespace YxaTest

int main(int argc, char **argv)
{
    return YxaTest::runAll(argc, argv);
}
