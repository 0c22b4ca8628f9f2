#include "tools/blobtool/encoder.h"

#include <string.h>

#include "packed/crc32.h"
#include "packed/packed_blob.h"

namespace {

// Writes tokens in the decoder's order: a tag byte is reserved in the output
// at the moment a bit is needed and none of the current tag byte is left,
// between whatever whole bytes have been written so far.
class BitWriter {
public:
    explicit BitWriter(std::vector<uint8_t>& out) : out_(out) {}

    void bit(uint32_t value) {
        if (bitsLeft_ == 0) {
            tagPosition_ = out_.size();
            out_.push_back(0);
            bitsLeft_ = 8;
        }
        --bitsLeft_;
        if (value)
            out_[tagPosition_] |= uint8_t(1u << bitsLeft_);
    }

    void byte(uint8_t value) { out_.push_back(value); }

    // value >= 2: the bits after the leading 1, each followed by a
    // continuation bit (1 while more follow).
    void gamma(uint32_t value) {
        int top = 31;
        while (!(value >> top))
            --top;
        for (int i = top - 1; i >= 0; --i) {
            bit((value >> i) & 1);
            bit(i > 0);
        }
    }

private:
    std::vector<uint8_t>& out_;
    size_t tagPosition_ = 0;
    uint32_t bitsLeft_ = 0;
};

// Bits of a gamma number (value >= 2).
inline int gammaBits(uint32_t value) { return 2 * (31 - __builtin_clz(value)); }

// What the decoder adds to the gamma length of a long match at offset d.
inline uint32_t lengthAdjustment(uint32_t d) {
    return (d >= 32000) + (d >= 1280) + (d < 128 ? 2 : 0);
}

constexpr uint32_t maxMatchLength = 1u << 30;  // keeps every gamma length within 31 bits
constexpr int literalBits = 9;
constexpr int oneByteBits = 7;
constexpr int shortMatchBits = 11;

// Bits of a long match, or -1 when the length is too short for its offset.
inline int longMatchBits(uint32_t d, uint32_t length, bool afterMatch) {
    uint32_t adjust = lengthAdjustment(d);
    if (length < adjust + 2)
        return -1;
    uint32_t g = (d >> 8) + (afterMatch ? 2 : 3);
    return 2 + gammaBits(g) + 8 + gammaBits(length - adjust);
}

inline int repeatBits(uint32_t length) { return 2 + 2 + gammaBits(length); }

enum class Kind { literal, zeroByte, nearByte, shortMatch, longMatch, repeat };

// What a token costs, in sixteenths of a bit: its bits, and a charge for the
// decoder's time. A literal mostly continues a run that the decoder copies at
// once; any other token is a step of its own, and a one-byte token also
// breaks a run of literals. Of two codings of about the same size the one
// with fewer and cheaper steps wins; on programs the charges cost about 0.4%
// of size and save 3 to 6% of decoding time.
inline uint32_t price(Kind kind, int bits) {
    static constexpr uint32_t stepCharge[] = {0, 64, 64, 32, 64, 32};
    return uint32_t(bits) * 16 + stepCharge[int(kind)];
}

// One token choice; gain is the bits it saves against plain literals.
struct Choice {
    Kind kind = Kind::literal;
    uint32_t offset = 0;
    uint32_t length = 1;
    int gain = 0;
};

// The decoder state that token meanings depend on.
struct CoderState {
    bool afterMatch = false;
    uint32_t lastOffset = 0;  // 0: no match yet
};

class Packer {
public:
    Packer(const uint8_t* data, size_t size, const EncoderOptions& options)
        : data_(data), size_(size), options_(options) {
        window_ = 1;
        while (window_ < options.window && window_ < (1u << 30))
            window_ <<= 1;
        head3_.assign(size_t(1) << hashBits, -1);
        chain3_.assign(window_, -1);
        head2_.assign(65536, -1);
        for (int64_t& slot : chain2_)
            slot = -1;
    }

    // Chooses the tokens block by block: for every position of a block the
    // cheapest way found to reach it, once after a match and once after a
    // literal or one-byte token (the two decoder states that change what a
    // token costs), then the cheapest way back from the block's end. A match
    // of goodLength bytes or more ends the block where it starts and is taken
    // as it is.
    std::vector<uint8_t> run(EncoderStats* stats) {
        std::vector<uint8_t> out;
        out.reserve(size_ / 2 + 64);
        BitWriter writer(out);
        EncoderStats counts;
        CoderState state;

        writer.byte(data_[0]);
        insert(0);
        std::vector<Node> nodes(2 * size_t(blockSize + 1));
        std::vector<Choice> tokens;
        size_t start = 1;
        while (start < size_) {
            const uint32_t span = uint32_t(size_ - start < blockSize ? size_ - start : blockSize);
            for (uint32_t i = 0; i <= 2 * span + 1; ++i)
                nodes[i].cost = unreached;
            Node& first = nodes[state.afterMatch];
            first.cost = 0;
            first.lastOffset = state.lastOffset;

            uint32_t end = 0;
            bool longMatchAtEnd = false;
            while (end < span && !longMatchAtEnd) {
                longMatchAtEnd = !relaxFrom(nodes, start, end, span);
                if (!longMatchAtEnd)
                    ++end;
            }

            // The way back from the cheaper state at the end.
            uint32_t at = end;
            uint32_t atState = nodes[2 * end + 1].cost < nodes[2 * end].cost ? 1 : 0;
            tokens.clear();
            while (at != 0 || atState != uint32_t(state.afterMatch)) {
                const Node& n = nodes[2 * at + atState];
                tokens.push_back(n.token);
                at -= n.token.length;
                atState = n.fromState;
            }
            for (size_t k = tokens.size(); k-- > 0;) {
                emit(writer, start, tokens[k], state, counts);
                start += tokens[k].length;
            }
            if (longMatchAtEnd) {
                Choice c = best(start, state);
                emit(writer, start, c, state, counts);
                insertRange(start, start + c.length);
                start += c.length;
            }
        }
        // The end: prefix 1 1 0 and the byte 0.
        writer.bit(1);
        writer.bit(1);
        writer.bit(0);
        writer.byte(0);
        if (stats)
            *stats = counts;
        return out;
    }

private:
    static constexpr int hashBits = 17;
    static constexpr uint32_t blockSize = 1u << 16;
    static constexpr uint32_t unreached = UINT32_MAX;

    // The cheapest way found to a position in one decoder state: its cost,
    // the last offset on that way, and the token that arrives.
    struct Node {
        uint32_t cost;
        uint32_t lastOffset;
        Choice token;
        uint8_t fromState;  // the state at the token's start
    };

    void relax(std::vector<Node>& nodes, uint32_t to, uint32_t toState, uint32_t cost, uint32_t lastOffset,
               uint32_t fromState, Kind kind, uint32_t offset, uint32_t length) const {
        Node& n = nodes[2 * to + toState];
        if (cost < n.cost) {
            n.cost = cost;
            n.lastOffset = lastOffset;
            n.token.kind = kind;
            n.token.offset = offset;
            n.token.length = length;
            n.fromState = uint8_t(fromState);
        }
    }

    // Every token that can start at position start + i, from each state
    // reached there, offered to the positions it reaches within the block.
    // Returns false, with nothing offered and pos not yet hashed, when a
    // match of goodLength bytes or more starts there.
    bool relaxFrom(std::vector<Node>& nodes, size_t start, uint32_t i, uint32_t span) {
        const size_t pos = start + i;
        const size_t left = size_ - pos;
        const uint32_t limit = left < maxMatchLength ? uint32_t(left) : maxMatchLength;
        const uint32_t room = span - i;  // tokens end within the block

        findLongMatches(pos, limit, matches_);
        if (!matches_.empty() && matches_.back().length >= options_.goodLength)
            return false;
        uint32_t repeatLength[2] = {0, 0};
        for (uint32_t st = 0; st < 2; ++st) {
            const Node& n = nodes[2 * i + st];
            if (n.cost != unreached && n.lastOffset != 0 && limit >= 2) {
                repeatLength[st] = matchLength(pos, pos - n.lastOffset, limit);
                if (repeatLength[st] >= options_.goodLength)
                    return false;
            }
        }

        // Short matches: any offset up to 127 will do, the cost is the same.
        uint32_t shortOffset[4] = {0, 0, 0, 0};
        if (limit >= 2) {
            uint32_t key = uint32_t(data_[pos]) | uint32_t(data_[pos + 1]) << 8;
            int64_t candidate = head2_[key];
            uint32_t shortLimit = limit < 3 ? limit : 3;
            while (candidate >= 0 && pos - size_t(candidate) <= 127) {
                uint32_t length = matchLength(pos, size_t(candidate), shortLimit);
                if (length >= 2 && shortOffset[length] == 0)
                    shortOffset[length] = uint32_t(pos - size_t(candidate));
                if (length == 3)
                    break;
                candidate = chain2_[size_t(candidate) & 255];
            }
            if (shortOffset[2] == 0)
                shortOffset[2] = shortOffset[3];
        }
        const Choice single = bestSingle(pos);

        for (uint32_t st = 0; st < 2; ++st) {
            const Node& n = nodes[2 * i + st];
            if (n.cost == unreached)
                continue;
            const uint32_t cost = n.cost;
            const uint32_t last = n.lastOffset;
            relax(nodes, i + 1, 0, cost + price(single.kind, single.kind == Kind::literal ? literalBits : oneByteBits),
                  last, st, single.kind, single.offset, 1);
            for (uint32_t length = 2; length <= 3 && length <= room; ++length)
                if (shortOffset[length] != 0)
                    relax(nodes, i + length, 1, cost + price(Kind::shortMatch, shortMatchBits), shortOffset[length], st,
                          Kind::shortMatch, shortOffset[length], length);
            // The last offset: a repeat after a literal or one-byte token,
            // an ordinary long match after a match.
            uint32_t top = repeatLength[st] < room ? repeatLength[st] : room;
            for (uint32_t length = 2; length <= top; ++length) {
                if (st == 0) {
                    relax(nodes, i + length, 1, cost + price(Kind::repeat, repeatBits(length)), last, st, Kind::repeat,
                          last, length);
                } else {
                    int bits = longMatchBits(last, length, true);
                    if (bits >= 0)
                        relax(nodes, i + length, 1, cost + price(Kind::longMatch, bits), last, st, Kind::longMatch,
                              last, length);
                }
            }
            // Each length at the nearest offset that reaches it.
            uint32_t shorter = 2;
            for (const Choice& m : matches_) {
                uint32_t longest = m.length < room ? m.length : room;
                for (uint32_t length = shorter + 1; length <= longest; ++length) {
                    int bits = longMatchBits(m.offset, length, st == 1);
                    if (bits >= 0)
                        relax(nodes, i + length, 1, cost + price(Kind::longMatch, bits), m.offset, st,
                              Kind::longMatch, m.offset, length);
                }
                shorter = m.length;
            }
        }
        insert(pos);
        return true;
    }

    uint32_t hash3(size_t pos) const {
        uint32_t v = uint32_t(data_[pos]) | uint32_t(data_[pos + 1]) << 8 | uint32_t(data_[pos + 2]) << 16;
        return (v * 2654435761u) >> (32 - hashBits);
    }

    void insert(size_t pos) {
        if (pos + 1 < size_) {
            uint32_t key = uint32_t(data_[pos]) | uint32_t(data_[pos + 1]) << 8;
            chain2_[pos & 255] = head2_[key];
            head2_[key] = int64_t(pos);
        }
        if (pos + 2 < size_) {
            uint32_t h = hash3(pos);
            chain3_[pos & (window_ - 1)] = head3_[h];
            head3_[h] = int64_t(pos);
        }
    }

    void insertRange(size_t from, size_t to) {
        for (size_t p = from; p < to; ++p)
            insert(p);
    }

    uint32_t matchLength(size_t pos, size_t candidate, uint32_t limit) const {
        const uint8_t* a = data_ + pos;
        const uint8_t* b = data_ + candidate;
        uint32_t n = 0;
        while (n + 8 <= limit) {
            uint64_t x, y;
            memcpy(&x, a + n, 8);
            memcpy(&y, b + n, 8);
            if (x != y)
                return n + uint32_t(__builtin_ctzll(x ^ y) >> 3);
            n += 8;
        }
        while (n < limit && a[n] == b[n])
            ++n;
        return n;
    }

    // Long-match candidates at pos along the hash chain, nearest first, each
    // longer than the one before (a farther one only wins by being longer);
    // the search ends at a match of goodLength bytes.
    void findLongMatches(size_t pos, uint32_t limit, std::vector<Choice>& found) const {
        found.clear();
        if (limit < 3)
            return;
        int64_t candidate = head3_[hash3(pos)];
        uint32_t depth = options_.chainDepth;
        uint32_t longest = 2;
        while (candidate >= 0 && depth-- > 0) {
            size_t d = pos - size_t(candidate);
            if (d >= window_)
                break;
            if (longest < limit && data_[size_t(candidate) + longest] == data_[pos + longest]) {
                uint32_t length = matchLength(pos, size_t(candidate), limit);
                if (length > longest) {
                    longest = length;
                    found.push_back(Choice{Kind::longMatch, uint32_t(d), length, 0});
                    if (length >= options_.goodLength)
                        return;
                }
            }
            int64_t next = chain3_[size_t(candidate) & (window_ - 1)];
            if (next >= candidate)
                return;  // the ring slot was reused by a newer position
            candidate = next;
        }
    }

    // The cheapest way to code the single byte at pos.
    Choice bestSingle(size_t pos) const {
        Choice c;
        uint8_t value = data_[pos];
        if (value == 0) {
            c.kind = Kind::zeroByte;
            c.gain = literalBits - oneByteBits;
            return c;
        }
        for (uint32_t d = 1; d <= 15 && d <= pos; ++d) {
            if (data_[pos - d] == value) {
                c.kind = Kind::nearByte;
                c.offset = d;
                c.gain = literalBits - oneByteBits;
                return c;
            }
        }
        return c;
    }

    void consider(Choice& best, Kind kind, uint32_t offset, uint32_t length, int bits) const {
        if (bits < 0)
            return;
        int gain = int(length) * literalBits - bits;
        if (gain > best.gain || (gain == best.gain && length > best.length)) {
            best.kind = kind;
            best.offset = offset;
            best.length = length;
            best.gain = gain;
        }
    }

    // The token that saves the most bits at pos, given the decoder state.
    Choice best(size_t pos, const CoderState& state) const {
        Choice choice = bestSingle(pos);
        size_t left = size_ - pos;
        uint32_t limit = left < maxMatchLength ? uint32_t(left) : maxMatchLength;
        if (limit < 2)
            return choice;

        // The last offset: a repeat when the previous token was a literal or
        // a one-byte token, else an ordinary long match at that offset.
        if (state.lastOffset != 0 && state.lastOffset <= pos) {
            uint32_t length = matchLength(pos, pos - state.lastOffset, limit);
            if (length >= 2) {
                if (!state.afterMatch)
                    consider(choice, Kind::repeat, state.lastOffset, length, repeatBits(length));
                else
                    consider(choice, Kind::longMatch, state.lastOffset, length,
                             longMatchBits(state.lastOffset, length, true));
            }
        }

        // Near two- and three-byte matches for the short token.
        {
            uint32_t key = uint32_t(data_[pos]) | uint32_t(data_[pos + 1]) << 8;
            int64_t candidate = head2_[key];
            uint32_t shortLimit = limit < 3 ? limit : 3;
            while (candidate >= 0 && pos - size_t(candidate) <= 127) {
                uint32_t d = uint32_t(pos - size_t(candidate));
                uint32_t length = matchLength(pos, size_t(candidate), shortLimit);
                if (length >= 2)
                    consider(choice, Kind::shortMatch, d, length, shortMatchBits);
                if (length == 3)
                    break;
                candidate = chain2_[size_t(candidate) & 255];
            }
        }

        // Long matches along the hash chain.
        std::vector<Choice> found;
        findLongMatches(pos, limit, found);
        for (const Choice& m : found)
            consider(choice, Kind::longMatch, m.offset, m.length, longMatchBits(m.offset, m.length, state.afterMatch));
        return choice;
    }

    void emit(BitWriter& w, size_t pos, const Choice& c, CoderState& state, EncoderStats& counts) const {
        switch (c.kind) {
        case Kind::literal:
            w.bit(0);
            w.byte(data_[pos]);
            ++counts.literals;
            state.afterMatch = false;
            return;
        case Kind::zeroByte:
        case Kind::nearByte:
            w.bit(1);
            w.bit(1);
            w.bit(1);
            for (int i = 3; i >= 0; --i)
                w.bit((c.offset >> i) & 1);
            ++(c.kind == Kind::zeroByte ? counts.zeroBytes : counts.nearBytes);
            state.afterMatch = false;
            return;
        case Kind::shortMatch:
            w.bit(1);
            w.bit(1);
            w.bit(0);
            w.byte(uint8_t(c.offset << 1 | (c.length - 2)));
            ++counts.shortMatches;
            state.lastOffset = c.offset;
            break;
        case Kind::repeat:
            w.bit(1);
            w.bit(0);
            w.gamma(2);
            w.gamma(c.length);
            ++counts.repeats;
            break;
        case Kind::longMatch:
            w.bit(1);
            w.bit(0);
            w.gamma((c.offset >> 8) + (state.afterMatch ? 2 : 3));
            w.byte(uint8_t(c.offset & 0xFF));
            w.gamma(c.length - lengthAdjustment(c.offset));
            ++counts.longMatches;
            counts.longMatchesAfterMatch += state.afterMatch;
            if (c.offset < 128)
                ++counts.longMatchesBelow128;
            else if (c.offset < 1280)
                ++counts.longMatchesBelow1280;
            else if (c.offset < 32000)
                ++counts.longMatchesBelow32000;
            else
                ++counts.longMatchesFrom32000;
            counts.longMatchesAbove65535 += c.offset > 65535;
            state.lastOffset = c.offset;
            break;
        }
        counts.matchedBytes += c.length;
        state.afterMatch = true;
    }

    const uint8_t* data_;
    size_t size_;
    EncoderOptions options_;
    uint32_t window_;
    std::vector<int64_t> head3_;
    std::vector<int64_t> chain3_;
    std::vector<int64_t> head2_;
    int64_t chain2_[256];
    std::vector<Choice> matches_;
};

}  // namespace

std::vector<uint8_t> packBody(const uint8_t* data, size_t size, EncoderStats* stats,
                              const EncoderOptions& options) {
    if (data == nullptr || size == 0)
        return {};
    Packer packer(data, size, options);
    return packer.run(stats);
}

namespace {

void putField(uint8_t* p, uint32_t value) {
    p[0] = uint8_t(value);
    p[1] = uint8_t(value >> 8);
    p[2] = uint8_t(value >> 16);
    p[3] = uint8_t(value >> 24);
}

}  // namespace

std::vector<uint8_t> packBlob(const uint8_t* data, size_t size, EncoderStats* stats,
                              const EncoderOptions& options) {
    if (data == nullptr || size == 0 || size >= unpackError)
        return {};
    std::vector<uint8_t> body = packBody(data, size, stats, options);
    if (body.size() > size_t(unpackError) - packedBlobHeaderSize)
        return {};
    std::vector<uint8_t> blob(packedBlobHeaderSize + body.size());
    uint8_t* h = blob.data();
    putField(h + 0, storedPackedBlobTag);
    putField(h + 4, packedBlobHeaderSize);
    putField(h + 8, uint32_t(body.size()));
    putField(h + 12, computeCrc32(body.data(), uint32_t(body.size())));
    putField(h + 16, uint32_t(size));
    putField(h + 20, computeCrc32(data, uint32_t(size)));
    memcpy(h + packedBlobHeaderSize, body.data(), body.size());
    return blob;
}
