#pragma once

#include <QObject>
#include <functional>

// One executable per component runs several Qt Test classes. Each class
// registers itself with YXA_TEST_CLASS(Class) in its own .cpp; the shared
// main() runs them in registration order.
//
//   tst_smtp                    all classes
//   tst_smtp MimeRenderTest     one class
//   tst_smtp MimeRenderTest -v2 one class, further arguments go to QTest
namespace YxaTest {
using Factory = std::function<QObject *()>;
int registerTest(const char *name, Factory factory);
int runAll(int argc, char **argv);
} // namespace YxaTest

#define YXA_TEST_CLASS(Cls)                                                                       \
    static const int yxaTestRegistration_##Cls = YxaTest::registerTest(#Cls, [] {                \
        return static_cast<QObject *>(new Cls);                                                   \
    });
