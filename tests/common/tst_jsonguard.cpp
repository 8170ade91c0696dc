// JSON from outside reads as Qt reads it, also when an object names a member
// twice (the last value wins), without handing Qt the repetition it leaks on.
#include "jsonguard.h"
#include "testmain.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>
#include <QTest>

class JsonGuardTest : public QObject
{
    Q_OBJECT

private slots:
    void repeatedNames_data();
    void repeatedNames();
    void parseErrorsAreReported();
    void largeDocumentStaysCheap();
};

void JsonGuardTest::repeatedNames_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<bool>("repeated");
    QTest::addColumn<int>("offset");
    // For a repeated name: the document as read, the last value of a name
    // winning; empty where the text is no JSON at all.
    QTest::addColumn<QByteArray>("reads");

    QTest::newRow("distinct names") << QByteArray(R"({"a":1,"b":[{"a":1},{"a":2}],"c":{"a":{}}})")
                                    << false << 0 << QByteArray();
    QTest::newRow("top level") << QByteArray(R"({"q":1,"a":[{"a":1}],"a":2})") << true << 21
                               << QByteArray(R"({"q":1,"a":2})");
    QTest::newRow("nested object") << QByteArray(R"({"x":{"y":1,"y":{"z":1}}})") << true << 12
                                   << QByteArray(R"({"x":{"y":{"z":1}}})");
    QTest::newRow("same name after escapes")
        << QByteArray(R"({"a":1,"\u0061":2})") << true << 7 << QByteArray(R"({"a":2})");
    QTest::newRow("escaped quote in a name")
        << QByteArray(R"({"a\"b":1,"a\"b":2})") << true << 10 << QByteArray(R"({"a\"b":2})");
    QTest::newRow("name text inside a value")
        << QByteArray(R"({"a":"\"a\":1, \"a\"","b":"a"})") << false << 0 << QByteArray();
    QTest::newRow("names of sibling objects")
        << QByteArray(R"([{"a":1},{"a":1}])") << false << 0 << QByteArray();
    QTest::newRow("name again after a nested object") << QByteArray(
        R"({"a":{"b":1},"b":2,"a":3})") << true << 19 << QByteArray(R"({"a":3,"b":2})");
    QTest::newRow("three times, in an array, beside a name like ours")
        << QByteArray(R"([{"\u0000":0,"a":[1],"a":{"b":[2]},"a":3}])") << true << 21
        << QByteArray(R"([{"\u0000":0,"a":3}])");
    QTest::newRow("repeated and no JSON")
        << QByteArray(R"({"a":1,"a":2,})") << true << 7 << QByteArray();
    QTest::newRow("truncated") << QByteArray(R"({"a":[1,2)") << false << 0 << QByteArray();
    QTest::newRow("not JSON") << QByteArray("\"\\") << false << 0 << QByteArray();
}

void JsonGuardTest::repeatedNames()
{
    QFETCH(QByteArray, json);
    QFETCH(bool, repeated);
    QFETCH(int, offset);
    QFETCH(QByteArray, reads);

    int at = -1;
    QCOMPARE(JsonGuard::hasRepeatedName(json, &at), repeated);
    QString error;
    const QJsonDocument document = JsonGuard::parse(json, &error);
    if (repeated && !reads.isEmpty()) {
        QCOMPARE(at, offset);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(document, QJsonDocument::fromJson(reads));
    } else {
        // Otherwise the answer is Qt's own (these rows drop no array or
        // object, so Qt may read them as they are).
        QJsonParseError qtError;
        const QJsonDocument qt = QJsonDocument::fromJson(json, &qtError);
        QCOMPARE(document, qt);
        QCOMPARE(error.isEmpty(), qtError.error == QJsonParseError::NoError);
        if (!error.isEmpty())
            QCOMPARE(error,
                QStringLiteral("%1 at offset %2").arg(qtError.errorString()).arg(qtError.offset));
    }
}

void JsonGuardTest::parseErrorsAreReported()
{
    QString error;
    QVERIFY(JsonGuard::parse(R"({"a":)", &error).isNull());
    QVERIFY2(error.endsWith(QLatin1String(" at offset 5")), qPrintable(error));
    const QJsonDocument ok = JsonGuard::parse(R"({"attachments":[{"name":"a.pdf"}]})", &error);
    QVERIFY(error.isEmpty());
    QCOMPARE(ok.object().value("attachments").toArray().at(0).toObject().value("name").toString(),
        QStringLiteral("a.pdf"));
}

// An order mail's document carries its PDF as one long string; the check
// must not decode it.
void JsonGuardTest::largeDocumentStaysCheap()
{
    const QByteArray content = QByteArray(8 * 1024 * 1024, 'A');
    const QByteArray json
        = R"({"attachments":[{"type":"application/pdf","name":"o.pdf","content":")" + content
        + R"("}]})";
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!JsonGuard::hasRepeatedName(json));
    QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
}

YXA_TEST_CLASS(JsonGuardTest)
#include "tst_jsonguard.moc"
