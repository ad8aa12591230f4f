#include "platform/MemoryTrim.h"

#include <QFile>
#include <QTest>

#include <cstdlib>
#include <cstring>
#include <vector>

class MemoryTrimTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void freedSmallBlocksGoBack()
    {
#if defined(__SANITIZE_ADDRESS__)
        QSKIP("the address sanitizer keeps freed memory in a heap of its own");
#elif !defined(__GLIBC__)
        QVERIFY(!vn::returnFreeMemoryToSystem());
#else
        // 96 MiB in blocks as small as a history line's, then one block after
        // them that stays: what was freed below it is not the heap's top, so
        // free() alone keeps it.
        constexpr size_t Blocks = 384 * 1024;
        constexpr size_t Size = 256;
        std::vector<char*> blocks(Blocks);
        for (char*& block : blocks) {
            block = static_cast<char*>(std::malloc(Size));
            QVERIFY(block);
            std::memset(block, 1, Size);
        }
        char* pin = static_cast<char*>(std::malloc(Size));
        std::memset(pin, 2, Size);
        const qint64 full = vn::residentMemoryKib();
        for (char* block : blocks)
            std::free(block);
        const qint64 freed = vn::residentMemoryKib();
        QVERIFY(vn::returnFreeMemoryToSystem());
        const qint64 returned = vn::residentMemoryKib();
        std::free(pin);
        QVERIFY2(full - returned > 64 * 1024,
                 qPrintable(QStringLiteral("resident KiB: full %1, freed %2, returned %3")
                                .arg(full).arg(freed).arg(returned)));
#endif
    }
};

QTEST_APPLESS_MAIN(MemoryTrimTest)
#include "MemoryTrimTest.moc"
