// The settings store on any file: reading never fails, and a write changes its key and nothing
// a later read can see of any other key.
#include <QFile>
#include <QString>

#include "tests/fuzz/harness.h"
#include "ui/inistore.h"

namespace {

QString g_path;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FuzzWithoutWindows();
    g_path = FuzzScratchDir() + QStringLiteral("/fuzz.ini");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    {
        QFile file(g_path);
        FuzzCheck(file.open(QIODevice::WriteOnly | QIODevice::Truncate), "scratch file opens");
        file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }
    IniStore store(g_path);
    const QString sections[] = {QStringLiteral("ConnectionSettings"), QStringLiteral("Statistic"),
                                QStringLiteral("SwitchSettings")};
    const QString keys[] = {QStringLiteral("MuxIp"), QStringLiteral("MuxPort"),
                            QStringLiteral("CountA"), QStringLiteral("IpA0")};
    QString before[3][4];
    for (int s = 0; s < 3; ++s) {
        for (int k = 0; k < 4; ++k)
            before[s][k] = store.ReadString(sections[s], keys[k], QStringLiteral("\x01"));
    }

    const QString value = QStringLiteral("10.0.0.%1").arg(size % 256);
    FuzzCheck(store.WriteString(sections[0], keys[0], value), "the write succeeds");
    FuzzCheck(store.ReadString(sections[0], keys[0], QString()) == value, "the value reads back");
    for (int s = 0; s < 3; ++s) {
        for (int k = 0; k < 4; ++k) {
            if (s == 0 && k == 0)
                continue;
            FuzzCheck(
                store.ReadString(sections[s], keys[k], QStringLiteral("\x01")) == before[s][k],
                "a write leaves the other keys as they were");
        }
    }
    SettleAfterInput();
    return 0;
}
