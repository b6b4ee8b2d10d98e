// Password hashing through libsodium, the dummy-hash path for unknown users, tokens, and the
// password rules of the admin commands.

#include "sessions/passwordhasher.h"
#include "cli/passwordinput.h"
#include "sessions/tokens.h"

#include <QtTest>

#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

using namespace vorna::service;

class TestPasswordHasher : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(PasswordHasher::initializeSodium());
    }

    void hashIsArgon2idWithInteractiveLimits()
    {
        const QString hash = PasswordHasher().hash("correct horse");
        // m=64 MiB, t=2: libsodium's INTERACTIVE limits.
        QVERIFY2(hash.startsWith(QStringLiteral("$argon2id$v=19$m=65536,t=2,p=1$")), qPrintable(hash));
        QVERIFY(!hash.contains(QStringLiteral("correct horse")));
    }

    void samePasswordIsSaltedDifferentlyEachTime()
    {
        PasswordHasher hasher;
        const QString first = hasher.hash("vorna-demo");
        const QString second = hasher.hash("vorna-demo");
        QVERIFY(first != second);
        QVERIFY(hasher.verify(first, "vorna-demo"));
        QVERIFY(hasher.verify(second, "vorna-demo"));
    }

    void verifyRejectsWrongPasswords()
    {
        PasswordHasher hasher;
        const QString hash = hasher.hash("vorna-demo");
        QVERIFY(!hasher.verify(hash, "vorna-Demo"));
        QVERIFY(!hasher.verify(hash, "vorna-demo "));
        QVERIFY(!hasher.verify(hash, ""));
    }

    void unknownUserIsAlwaysRefused()
    {
        PasswordHasher hasher;
        hasher.warmUp();
        // An empty stored hash stands for "no such user": no password opens it, not even an
        // empty one, and the hasher does not crash on it.
        QVERIFY(!hasher.verify(QString(), ""));
        QVERIFY(!hasher.verify(QString(), "vorna-demo"));
    }

    void corruptStoredHashIsRefused()
    {
        PasswordHasher hasher;
        QVERIFY(!hasher.verify(QStringLiteral("plain-text-password"), "plain-text-password"));
        const QString hash = hasher.hash("vorna-demo");
        QVERIFY(!hasher.verify(hash.left(hash.size() - 4), "vorna-demo"));
    }

    void concurrentVerificationsAllAnswer()
    {
        // One slot: verifications queue behind each other instead of failing.
        PasswordHasher hasher(1);
        const QString hash = hasher.hash("vorna-demo");
        std::atomic<int> matches{0};
        std::vector<std::thread> threads;
        for (int i = 0; i < 3; ++i)
            threads.emplace_back([&] { matches += hasher.verify(hash, "vorna-demo") ? 1 : 0; });
        for (std::thread &thread : threads)
            thread.join();
        QCOMPARE(matches.load(), 3);
    }

    void tokensAreRandomHexAndStoredOnlyAsDigests()
    {
        const QByteArray a = tokens::generate();
        const QByteArray b = tokens::generate();
        QCOMPARE(a.size(), 64);
        QVERIFY(a != b);
        QCOMPARE(QByteArray::fromHex(a).toHex(), a);
        QCOMPARE(tokens::digest(a).size(), 32);
        QCOMPARE(tokens::digest(a), tokens::digest(QByteArray(a)));
        QVERIFY(tokens::digest(a) != tokens::digest(b));
    }

    void passwordRules_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("password");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("line end stripped") << QByteArray("vorna-demo\n") << QByteArray("vorna-demo") << true;
        QTest::newRow("windows line end") << QByteArray("vorna-demo\r\n") << QByteArray("vorna-demo") << true;
        QTest::newRow("only first line") << QByteArray("first-line\nsecond\n") << QByteArray("first-line") << true;
        QTest::newRow("inner spaces kept") << QByteArray("two words here\n") << QByteArray("two words here") << true;
        QTest::newRow("no line end") << QByteArray("vorna-demo") << QByteArray("vorna-demo") << true;
        QTest::newRow("empty") << QByteArray("\n") << QByteArray() << false;
        QTest::newRow("too short") << QByteArray("short\n") << QByteArray("short") << false;
        // Eight characters, but sixteen bytes of UTF-8: characters count.
        QTest::newRow("eight cyrillic letters") << QByteArray("жжжжжжжж\n") << QByteArray("жжжжжжжж") << true;
        QTest::newRow("seven cyrillic letters") << QByteArray("жжжжжжж\n") << QByteArray("жжжжжжж") << false;
    }

    void passwordRules()
    {
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, password);
        QFETCH(bool, accepted);
        FILE *in = fmemopen(input.data(), size_t(input.size()), "r");
        QVERIFY(in);
        QByteArray read;
        QString error;
        const bool ok = PasswordInput::readLine(in, &read, &error);
        std::fclose(in);
        QCOMPARE(read, password);
        QCOMPARE(ok, accepted);
        QCOMPARE(error.isEmpty(), accepted);
        if (!accepted)
            QVERIFY2(error.contains(QStringLiteral("at least 8 characters")), qPrintable(error));
    }
};

QTEST_GUILESS_MAIN(TestPasswordHasher)
#include "tst_passwordhasher.moc"
