#pragma once
// Conversions between the texts of the edit fields and the bytes of the wire blocks, and the
// check of a multiplexer's address and port before every command.
#include <QString>
#include <array>
#include <cstdint>
#include <optional>

// The one reading of an address text: four decimal parts 0..255 joined by ".", leading zeros
// allowed and never octal. Writes the four octets to `out` (if given) only when the text is
// good. The check, the encoders and the dialler all go through it.
bool ParseIpv4(const QString& text, uint8_t* out);

// Four decimal octets 0..255 joined by "."; raises ConversionError for anything else.
void IpTextToBytes(const QString& text, uint8_t* out);
QString IpBytesToText(const uint8_t* bytes);

// Six hexadecimal parts of one or two digits joined by "-"; raises ConversionError otherwise.
void MacTextToBytes(const QString& text, uint8_t* out);
QString MacBytesToText(const uint8_t* bytes);

// A port or other 16-bit number as plain decimal text 0..65535; raises ConversionError otherwise.
int TextToInt(const QString& text);
QString WordToText(uint16_t value);

// Eight characters "0"/"1", first = bit 7; the empty text is 0. Raises ConversionError otherwise.
uint16_t BitsTextToByte(const QString& text);
QString ByteToBitsText(uint16_t value);

// True for every text that is not exactly four decimal numbers 0..255 joined by ".".
bool IsBadIpText(const QString& text);

// True when a command must not be sent; logs why.
bool CheckMuxAddress(const QString& address, const QString& port);

// The port text as a number 1..65535, or -1.
int ParsePortText(const QString& text);

// A module as the dialler reaches it, so that two spellings of one address and port compare
// equal and a read can be matched with the write that builds on it.
struct ModuleEndpoint {
    std::array<uint8_t, 4> ip{};
    int port = 0;
    bool operator==(const ModuleEndpoint&) const = default;
};
// Empty for any address or port text that CheckMuxAddress refuses.
std::optional<ModuleEndpoint> ParseModuleEndpoint(const QString& address, const QString& port);
