// Inflate for MSZIP blocks: canonical Huffman codes decoded a bit at a
// time from their counts per length, every read checked against the end of
// the block and every copy against the window and the block's size.
#include "mszip.h"

#include <array>

namespace cecab {
namespace {

constexpr std::size_t kMaxBits = 15;
constexpr std::size_t kMaxLengthCodes = 288, kMaxDistanceCodes = 32;

struct Fail {
    std::string message;
};

// A canonical Huffman code: how many codes there are of each length, and
// the symbols in code order.
struct Huffman {
    std::array<std::uint16_t, kMaxBits + 1> count{};
    std::array<std::uint16_t, kMaxLengthCodes> symbol{};
};

// Builds the code for `lengths`; returns how many codes of the longest
// length are left unused (0: complete), or a negative number when the
// lengths ask for more codes than there are.
int Build(Huffman& h, const std::uint8_t* lengths, std::size_t n) {
    h.count.fill(0);
    for (std::size_t s = 0; s < n; ++s) ++h.count[lengths[s]];
    if (h.count[0] == n) return 0;  // no codes at all: complete, and never used
    int left = 1;
    for (std::size_t len = 1; len <= kMaxBits; ++len) {
        left <<= 1;
        left -= h.count[len];
        if (left < 0) return left;
    }
    std::array<std::uint16_t, kMaxBits + 1> offset{};
    for (std::size_t len = 1; len < kMaxBits; ++len) offset[len + 1] = static_cast<std::uint16_t>(offset[len] + h.count[len]);
    for (std::size_t s = 0; s < n; ++s)
        if (lengths[s]) h.symbol[offset[lengths[s]]++] = static_cast<std::uint16_t>(s);
    return left;
}

class Inflater {
public:
    Inflater(const std::uint8_t* in, std::size_t size, std::size_t expanded, Bytes& out)
        : in_(in), size_(size), start_(out.size()), end_(out.size() + expanded), out_(out) {}

    void Run() {
        bool last;
        do {
            last = Bits(1);
            switch (Bits(2)) {
            case 0: Stored(); break;
            case 1: Fixed(); break;
            case 2: Dynamic(); break;
            default: throw Fail{"a deflate block of type 3, which does not exist"};
            }
        } while (!last);
        if (out_.size() != end_)
            throw Fail{"expands to " + std::to_string(out_.size() - start_) + " bytes, not the " +
                       std::to_string(end_ - start_) + " it says it holds"};
    }

private:
    unsigned Bits(unsigned n) {
        while (bitCount_ < n) {
            if (at_ >= size_) throw Fail{"the compressed data ends early"};
            bitBuffer_ |= static_cast<std::uint32_t>(in_[at_++]) << bitCount_;
            bitCount_ += 8;
        }
        unsigned v = bitBuffer_ & ((1u << n) - 1);
        bitBuffer_ >>= n;
        bitCount_ -= n;
        return v;
    }

    void Put(std::uint8_t byte) {
        if (out_.size() >= end_) throw Fail{"expands past the " + std::to_string(end_ - start_) + " bytes it says it holds"};
        out_.push_back(byte);
    }

    void Stored() {
        bitBuffer_ = 0;  // the rest of the byte
        bitCount_ = 0;
        if (size_ - at_ < 4) throw Fail{"the compressed data ends early"};
        unsigned len = in_[at_] | (in_[at_ + 1] << 8), inverse = in_[at_ + 2] | (in_[at_ + 3] << 8);
        at_ += 4;
        if (len != (~inverse & 0xFFFFu)) throw Fail{"a stored deflate block's length and its complement disagree"};
        if (size_ - at_ < len) throw Fail{"the compressed data ends early"};
        for (unsigned i = 0; i < len; ++i) Put(in_[at_ + i]);
        at_ += len;
    }

    int Decode(const Huffman& h) {
        int code = 0, first = 0, index = 0;
        for (std::size_t len = 1; len <= kMaxBits; ++len) {
            code |= static_cast<int>(Bits(1));
            int count = h.count[len];
            if (code - count < first) return h.symbol[static_cast<std::size_t>(index + (code - first))];
            index += count;
            first += count;
            first <<= 1;
            code <<= 1;
        }
        throw Fail{"a code that the block's Huffman table does not have"};
    }

    void Codes(const Huffman& lengths, const Huffman& distances) {
        static const std::uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
        static const std::uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
        static const std::uint16_t kDistanceBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,
                                                        33,  49,  65,  97,  129, 193,  257,  385,  513,  769,
                                                        1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
        static const std::uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                                        6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
        for (;;) {
            int symbol = Decode(lengths);
            if (symbol < 256) {
                Put(static_cast<std::uint8_t>(symbol));
                continue;
            }
            if (symbol == 256) return;
            symbol -= 257;
            if (symbol >= 29) throw Fail{"a length code (" + std::to_string(symbol + 257) + ") that does not exist"};
            std::size_t len = kLengthBase[symbol] + Bits(kLengthExtra[symbol]);
            int d = Decode(distances);
            if (d >= 30) throw Fail{"a distance code (" + std::to_string(d) + ") that does not exist"};
            std::size_t distance = kDistanceBase[d] + Bits(kDistanceExtra[d]);
            // At most 32768 back (the codes reach no further): the window
            // is the folder's data so far, blocks before this one included.
            if (distance > out_.size())
                throw Fail{"refers " + std::to_string(distance) + " bytes back, before the start of the folder's data"};
            for (std::size_t i = 0; i < len; ++i) Put(out_[out_.size() - distance]);
        }
    }

    void Fixed() {
        static const struct Tables {
            Huffman lengths, distances;
            Tables() {
                std::uint8_t l[kMaxLengthCodes];
                std::size_t s = 0;
                for (; s < 144; ++s) l[s] = 8;
                for (; s < 256; ++s) l[s] = 9;
                for (; s < 280; ++s) l[s] = 7;
                for (; s < kMaxLengthCodes; ++s) l[s] = 8;
                Build(lengths, l, kMaxLengthCodes);
                for (s = 0; s < 30; ++s) l[s] = 5;
                Build(distances, l, 30);
            }
        } kFixed;
        Codes(kFixed.lengths, kFixed.distances);
    }

    void Dynamic() {
        static const std::uint8_t kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
        std::size_t nlen = Bits(5) + 257, ndist = Bits(5) + 1, ncode = Bits(4) + 4;
        if (nlen > 286 || ndist > 30) throw Fail{"a dynamic deflate block with too many codes"};
        std::uint8_t lengths[kMaxLengthCodes + kMaxDistanceCodes] = {};
        for (std::size_t i = 0; i < ncode; ++i) lengths[kOrder[i]] = static_cast<std::uint8_t>(Bits(3));
        Huffman code;
        if (Build(code, lengths, 19) != 0) throw Fail{"a dynamic deflate block whose code-length code is not complete"};
        for (std::size_t i = 0; i < nlen + ndist;) {
            int symbol = Decode(code);
            if (symbol < 16) {
                lengths[i++] = static_cast<std::uint8_t>(symbol);
                continue;
            }
            std::uint8_t len = 0;
            std::size_t repeat;
            if (symbol == 16) {
                if (i == 0) throw Fail{"a dynamic deflate block repeats a length before the first"};
                len = lengths[i - 1];
                repeat = 3 + Bits(2);
            } else if (symbol == 17) {
                repeat = 3 + Bits(3);
            } else {
                repeat = 11 + Bits(7);
            }
            if (i + repeat > nlen + ndist) throw Fail{"a dynamic deflate block gives more code lengths than it has codes"};
            while (repeat--) lengths[i++] = len;
        }
        if (lengths[256] == 0) throw Fail{"a dynamic deflate block without an end-of-block code"};
        // Incomplete codes are allowed only where a single code is all there is.
        Huffman lengthCode, distanceCode;
        int left = Build(lengthCode, lengths, nlen);
        if (left < 0 || (left > 0 && nlen - lengthCode.count[0] != 1))
            throw Fail{"a dynamic deflate block whose literal and length code is not complete"};
        left = Build(distanceCode, lengths + nlen, ndist);
        if (left < 0 || (left > 0 && ndist - distanceCode.count[0] != 1))
            throw Fail{"a dynamic deflate block whose distance code is not complete"};
        Codes(lengthCode, distanceCode);
    }

    const std::uint8_t* in_;
    std::size_t size_, at_ = 0;
    std::uint32_t bitBuffer_ = 0;
    unsigned bitCount_ = 0;
    std::size_t start_, end_;
    Bytes& out_;
};

}  // namespace

bool ExpandMszipBlock(const std::uint8_t* block, std::size_t size, std::size_t expanded, Bytes& stream,
                      std::string* error) {
    try {
        if (size < 2 || block[0] != 'C' || block[1] != 'K') throw Fail{"does not start with the MSZIP signature CK"};
        Inflater(block + 2, size - 2, expanded, stream).Run();
        return true;
    } catch (const Fail& f) {
        if (error) *error = f.message;
        return false;
    }
}

}  // namespace cecab
