#pragma once

// Raw CD sectors made from 2048-byte blocks, as a CD image holds them: sync pattern, header with
// the sector's address and mode, the mode 2 subheader, user data and the error detection code.
// The error correction bytes stay zero: no reader of images checks them.

#include <array>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>

inline std::string FileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

inline void WriteFileBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// The sectors' error detection code: CRC-32 with the polynomial 0x8001801B, bits reversed.
inline uint32_t SectorEdc(const std::string& bytes, size_t at, size_t length)
{
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t crc = i;
            for (int bit = 0; bit < 8; ++bit)
                crc = (crc >> 1) ^ ((crc & 1) ? 0xD8018001u : 0);
            t[i] = crc;
        }
        return t;
    }();
    uint32_t crc = 0;
    for (size_t i = at; i < at + length; ++i)
        crc = (crc >> 8) ^ table[(crc ^ static_cast<uint8_t>(bytes[i])) & 0xFF];
    return crc;
}

enum class TRawMode { Mode1, Mode2Form1 };

// The blocks as raw 2352-byte sectors (2448 with zeroed subchannel data) from disc block first.
inline std::string RawSectors(const std::string& blocks, uint32_t first, TRawMode mode,
                              bool subchannel = false)
{
    const auto bcd = [](uint32_t v) {
        return static_cast<char>((v / 10) << 4 | (v % 10));
    };
    std::string out;
    for (size_t at = 0; at < blocks.size(); at += 2048) {
        std::string sector(2352, '\0');
        for (int i = 1; i <= 10; ++i)
            sector[i] = '\xFF';
        const uint32_t address = first + static_cast<uint32_t>(at / 2048) + 150;
        sector[12] = bcd(address / 75 / 60);
        sector[13] = bcd(address / 75 % 60);
        sector[14] = bcd(address % 75);
        const std::string data = blocks.substr(at, 2048);
        if (mode == TRawMode::Mode1) {
            sector[15] = 1;
            sector.replace(16, data.size(), data);
            const uint32_t edc = SectorEdc(sector, 0, 2064);
            for (int i = 0; i < 4; ++i)
                sector[2064 + i] = static_cast<char>(edc >> (8 * i));
        } else {
            sector[15] = 2;
            // Subheader, twice: file, channel, submode (data), coding.
            for (int copy = 0; copy < 2; ++copy)
                sector[16 + copy * 4 + 2] = 0x08;
            sector.replace(24, data.size(), data);
            const uint32_t edc = SectorEdc(sector, 16, 2056);
            for (int i = 0; i < 4; ++i)
                sector[2072 + i] = static_cast<char>(edc >> (8 * i));
        }
        out += sector;
        if (subchannel)
            out += std::string(96, '\0');
    }
    return out;
}
