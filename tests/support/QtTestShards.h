// Lets ctest spread a long Qt Test program over several entries, as
// GoogleTest programs are (kvel_qtest(... SHARDS n)): with GTEST_TOTAL_SHARDS
// and GTEST_SHARD_INDEX set, only every n-th test function runs, counted in
// the order the class declares them. New functions thus land in some shard
// without anyone listing them.
#pragma once

#include <QByteArray>
#include <QMetaMethod>
#include <QObject>
#include <QStringList>
#include <QtTest>

inline bool IsQtTestFunction(const QMetaMethod& method) {
    if (method.methodType() != QMetaMethod::Slot || method.access() != QMetaMethod::Private ||
        method.parameterCount() != 0)
        return false;
    const QByteArray name = method.name();
    return name != "initTestCase" && name != "cleanupTestCase" && name != "init" &&
           name != "cleanup" && !name.endsWith("_data");
}

// Runs `test` as QTest::qExec does; under a shard, only the shard's functions.
// Arguments on the command line (a developer choosing functions or an output
// format) are taken as they are.
inline int RunQtTestShard(QObject* test, int argc, char** argv) {
    const int total = qEnvironmentVariableIntValue("GTEST_TOTAL_SHARDS");
    const int index = qEnvironmentVariableIntValue("GTEST_SHARD_INDEX");
    if (total < 2 || argc > 1) return QTest::qExec(test, argc, argv);

    QStringList arguments{QString::fromLocal8Bit(argv[0])};
    const QMetaObject* meta = test->metaObject();
    int position = 0;
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
        const QMetaMethod method = meta->method(i);
        if (!IsQtTestFunction(method)) continue;
        if (position++ % total == index) arguments << QString::fromLatin1(method.name());
    }
    // No function names would run them all.
    if (arguments.size() == 1) return 0;
    return QTest::qExec(test, arguments);
}
