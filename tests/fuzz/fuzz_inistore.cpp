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
    // One key of each section, the first of them the one written: the first read parses the
    // whole file, so a few keys cover the reading as well as many.
    const QString keys[][2] = {{QStringLiteral("ConnectionSettings"), QStringLiteral("MuxIp")},
                               {QStringLiteral("ConnectionSettings"), QStringLiteral("MuxPort")},
                               {QStringLiteral("Statistic"), QStringLiteral("MuxIp0")},
                               {QStringLiteral("SwitchSettings"), QStringLiteral("IpA0")}};
    const QString absent = QStringLiteral("\x01");
    QString before[4];
    for (int k = 0; k < 4; ++k)
        before[k] = store.ReadString(keys[k][0], keys[k][1], absent);

    const QString value = QStringLiteral("10.0.0.%1").arg(size % 256);
    FuzzCheck(store.WriteString(keys[0][0], keys[0][1], value), "the write succeeds");
    FuzzCheck(store.ReadString(keys[0][0], keys[0][1], QString()) == value, "the value reads back");
    for (int k = 1; k < 4; ++k) {
        FuzzCheck(store.ReadString(keys[k][0], keys[k][1], absent) == before[k],
                  "a write leaves the other keys as they were");
    }
    SettleAfterInput();
    return 0;
}
