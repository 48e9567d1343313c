// Every text codec and both input checks on any text an operator might type. What a decoder
// accepts must come back unchanged through its encoder.
#include <QString>
#include <cstring>

#include "link/codecs.h"
#include "link/shell.h"
#include "tests/fuzz/harness.h"

namespace {

template <class F>
bool Raises(F f) {
    try {
        f();
    } catch (const ConversionError&) {
        return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FuzzWithoutWindows();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Address and port for CheckMuxAddress are split at the first zero byte.
    const char* chars = reinterpret_cast<const char*>(data);
    const QString text = QString::fromUtf8(chars, static_cast<qsizetype>(size));
    const void* zero = std::memchr(data, 0, size);
    const size_t cut = zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - data) : size;
    const QString address = QString::fromUtf8(chars, static_cast<qsizetype>(cut));
    const QString port =
        zero ? QString::fromUtf8(chars + cut + 1, static_cast<qsizetype>(size - cut - 1))
             : QString();

    uint8_t ip[4] = {};
    const bool parsed = ParseIpv4(text, ip);
    FuzzCheck(parsed == !IsBadIpText(text), "IsBadIpText and ParseIpv4 agree");
    uint8_t encoded[4] = {};
    FuzzCheck(Raises([&] { IpTextToBytes(text, encoded); }) == !parsed,
              "IpTextToBytes accepts what ParseIpv4 accepts");
    if (parsed) {
        FuzzCheck(std::memcmp(ip, encoded, 4) == 0, "one reading of an address");
        uint8_t again[4] = {};
        FuzzCheck(ParseIpv4(IpBytesToText(ip), again) && std::memcmp(ip, again, 4) == 0,
                  "an address survives the way back");
    }

    uint8_t mac[6] = {};
    if (!Raises([&] { MacTextToBytes(text, mac); })) {
        uint8_t again[6] = {};
        MacTextToBytes(MacBytesToText(mac), again);
        FuzzCheck(std::memcmp(mac, again, 6) == 0, "a MAC address survives the way back");
    }

    int number = -1;
    if (!Raises([&] { number = TextToInt(text); })) {
        FuzzCheck(number >= 0 && number <= 65535, "a number fits 16 bits");
        FuzzCheck(TextToInt(WordToText(static_cast<uint16_t>(number))) == number,
                  "a number survives the way back");
    }

    uint16_t bits = 0;
    if (!Raises([&] { bits = BitsTextToByte(text); })) {
        FuzzCheck(bits <= 255, "a bit string fits a byte");
        FuzzCheck(BitsTextToByte(ByteToBitsText(bits)) == bits,
                  "a bit string survives the way back");
    }

    const int portNumber = ParsePortText(text);
    FuzzCheck(portNumber == -1 || (portNumber >= 1 && portNumber <= 65535), "a port is 1..65535");

    const bool refused = CheckMuxAddress(address, port);
    if (!refused) {
        FuzzCheck(!IsBadIpText(address) && ParsePortText(port) > 0,
                  "a command goes only to a good address and port");
    }
    SettleAfterInput();
    return 0;
}
