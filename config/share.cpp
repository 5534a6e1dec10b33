#include "share.h"

#include <array>
#include <cctype>
#include <cstdint>

#include "config_check.h"
#include "base/little_endian.h"

namespace config {
namespace {

const char kPrefix[] = "klavor=";
const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
constexpr std::size_t kCodeBytes = KEY_TABLE_BYTES + 4;
constexpr std::size_t kCodeChars = kCodeBytes / 3 * 4;
static_assert(kCodeBytes % 3 == 0, "the code has no padding");

std::uint32_t Crc32(const Bytes& data) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::uint8_t b : data) {
        crc ^= b;
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

int Sextet(char c) {
    for (int i = 0; i < 64; ++i)
        if (kAlphabet[i] == c) return i;
    return -1;
}

ShareRead Problem(ShareProblem problem, std::string message, int version = 0) {
    ShareRead r;
    r.problem = problem;
    r.version = version;
    r.message = std::move(message);
    return r;
}

}  // namespace

std::string ShareCode(const Table& table) {
    Bytes data = EncodeTable(table);
    std::uint32_t crc = Crc32(data);
    for (int i = 0; i < 4; ++i) data.push_back(static_cast<std::uint8_t>(crc >> (8 * i)));
    std::string out = kPrefix + std::to_string(kShareVersion) + ".";
    for (std::size_t i = 0; i < data.size(); i += 3) {
        std::uint32_t v = (data[i] << 16) | (data[i + 1] << 8) | data[i + 2];
        for (int shift = 18; shift >= 0; shift -= 6) out += kAlphabet[(v >> shift) & 63];
    }
    return out;
}

ShareRead ReadShareCode(const std::string& text) {
    std::string code;
    std::size_t hash = text.find('#');
    for (char c : hash == std::string::npos ? text : text.substr(hash + 1))
        if (!std::isspace(static_cast<unsigned char>(c))) code += c;
    if (code.compare(0, sizeof kPrefix - 1, kPrefix) != 0)
        return Problem(ShareProblem::Foreign, "not a Klavor configuration (a Klavor code starts with klavor=)");
    std::size_t dot = code.find('.');
    std::string version = code.substr(sizeof kPrefix - 1, dot == std::string::npos ? std::string::npos
                                                                                      : dot - (sizeof kPrefix - 1));
    bool number = !version.empty() && version.size() <= 6;
    for (char c : version) number = number && std::isdigit(static_cast<unsigned char>(c));
    if (!number || dot == std::string::npos)
        return Problem(ShareProblem::Damaged, "damaged: no version number after klavor=");
    int v = std::stoi(version);
    if (v != kShareVersion)
        return Problem(ShareProblem::Version,
                       "a Klavor configuration of version " + version + ", which this page does not read (it reads " +
                           std::to_string(kShareVersion) + ")",
                       v);
    std::string body = code.substr(dot + 1);
    if (body.size() != kCodeChars)
        return Problem(ShareProblem::Damaged,
                       "damaged: " + std::to_string(body.size()) + " characters where there should be " +
                           std::to_string(kCodeChars),
                       v);
    Bytes data;
    for (std::size_t i = 0; i < body.size(); i += 4) {
        std::uint32_t value = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            int s = Sextet(body[i + k]);
            if (s < 0)
                return Problem(ShareProblem::Damaged,
                               std::string("damaged: '") + body[i + k] + "' cannot be part of the code", v);
            value = (value << 6) | static_cast<std::uint32_t>(s);
        }
        for (int shift = 16; shift >= 0; shift -= 8) data.push_back(static_cast<std::uint8_t>(value >> shift));
    }
    std::uint32_t crc = base::LoadLe32(&data[KEY_TABLE_BYTES]);
    data.resize(KEY_TABLE_BYTES);
    if (Crc32(data) != crc) return Problem(ShareProblem::Damaged, "damaged: its check does not match its content", v);
    ShareRead r;
    r.table = DecodeValue(data);
    r.version = v;
    return r;
}

std::vector<SheetLine> CheatSheet(const Table& table) {
    std::vector<SheetLine> sheet;
    for (int slot = 0; slot < KEY_SLOTS; ++slot) {
        const KeyEntry& e = table[slot];
        if (e.mode != MODE_CAPTURE) continue;
        SheetLine line;
        line.slot = slot;
        if (!Pressable(table, slot)) {
            // The last slot on the key wins every sweep.
            for (int s = 0; s < KEY_SLOTS; ++s)
                if ((table[s].mode == MODE_FREE || table[s].mode == MODE_CAPTURE) && table[s].vk == e.vk) line.takenBy = s;
        } else {
            line.sends.assign(e.actions, e.actions + EffectiveCount(&e) + 1);
        }
        sheet.push_back(line);
    }
    return sheet;
}

}  // namespace config
