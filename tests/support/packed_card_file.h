// Builds receiving-card parameter files for tests: the packed file (pack
// header, section table, screen, rcv xy and smart debugging sections) and
// the bare smart-debugging file, from a small description.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testfiles {

struct Operate {
    unsigned char type = 1;     // 1 write, 2 ram2flash, 3 activate, 5 reconfig, 6 sleep, 7 search, 16 user
    unsigned char target = 1;   // 1 ram, 2 register
    uint32_t targetAddr = 0;
    uint32_t timeticks = 1000;  // milliseconds
    std::vector<uint8_t> data;
};

struct Card {
    std::vector<Operate> ops;
};

struct Net {
    uint16_t ledx = 0;
    std::vector<Card> cards;
};

struct Screen {
    uint32_t configId = 0;
    std::vector<Net> nets;
    // The card-parameter block of the smart debugging section (empty: the
    // screen has none, rcv_para_len 0).
    std::vector<Operate> cardParams;
    // Forces rcv_xy_len to 0 (a screen without mapping).
    bool noXy = false;
};

struct Packed {
    std::vector<Screen> screens;
    bool withSmartDebug = true;   // a type-12 section
};

inline void put16(std::string& s, size_t at, uint32_t v)
{
    if (s.size() < at + 2)
        s.resize(at + 2, '\0');
    s[at] = static_cast<char>(v & 0xFF);
    s[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}

inline void put32(std::string& s, size_t at, uint32_t v)
{
    put16(s, at, v & 0xFFFF);
    put16(s, at + 2, v >> 16);
}

// A card block (operate times, records) whose records' data follow it;
// record offsets are relative to `dataBase` - the start of the block plus
// `baseShift` (the block lies `baseShift` bytes after the position the
// offsets count from).
inline std::string cardBlocks(const std::vector<const std::vector<Operate>*>& blocks, size_t baseShift)
{
    std::string out;
    for (const auto* ops : blocks) {
        const size_t start = out.size();
        put16(out, start, static_cast<uint32_t>(ops->size()));
        put16(out, start + 2, 0);
        out.resize(start + 4 + 18 * ops->size(), '\0');
    }
    // Data after all blocks.
    size_t blockAt = 0;
    for (const auto* ops : blocks) {
        for (size_t k = 0; k < ops->size(); ++k) {
            const Operate& op = (*ops)[k];
            const size_t rec = blockAt + 4 + 18 * k;
            put32(out, rec, static_cast<uint32_t>(out.size() + baseShift));
            put32(out, rec + 4, static_cast<uint32_t>(op.data.size()));
            put32(out, rec + 8, op.targetAddr);
            put32(out, rec + 12, op.timeticks);
            out[rec + 16] = static_cast<char>(op.type);
            out[rec + 17] = static_cast<char>(op.target);
            out.append(op.data.begin(), op.data.end());
        }
        blockAt += 4 + 18 * ops->size();
    }
    return out;
}

inline std::string packed(const Packed& p)
{
    const unsigned sections = p.withSmartDebug ? 3 : 2;
    // Screen section.
    std::string screen(32 + 52 * p.screens.size(), '\0');
    screen[20] = static_cast<char>(p.screens.size());
    // Rcv xy section: 16-byte head, then each screen's mapping block.
    std::string xy(16, '\0');
    std::string smart(16, '\0');
    for (size_t s = 0; s < p.screens.size(); ++s) {
        const Screen& sc = p.screens[s];
        const size_t xyOffset = xy.size();
        std::string block;
        put16(block, 0, static_cast<uint32_t>(sc.nets.size()));
        put16(block, 2, 0);
        block.resize(4 + 12 * sc.nets.size(), '\0');
        for (size_t n = 0; n < sc.nets.size(); ++n) {
            const Net& net = sc.nets[n];
            std::vector<const std::vector<Operate>*> cards;
            for (const Card& c : net.cards)
                cards.push_back(&c.ops);
            const size_t netOffset = block.size();
            const std::string blocks = cardBlocks(cards, 0);
            put16(block, 4 + 12 * n, net.ledx);
            put16(block, 6 + 12 * n, static_cast<uint32_t>(net.cards.size()));
            put32(block, 8 + 12 * n, static_cast<uint32_t>(netOffset));
            put32(block, 12 + 12 * n, static_cast<uint32_t>(blocks.size()));
            block += blocks;
        }
        xy += block;
        const size_t paraOffset = smart.size();
        std::string para;
        if (!sc.cardParams.empty()) {
            para = cardBlocks({&sc.cardParams}, 0);
            smart += para;
        }
        const size_t rec = 32 + 52 * s;
        put32(screen, rec, sc.configId);
        put32(screen, rec + 4, static_cast<uint32_t>(sc.nets.size()));
        put32(screen, rec + 36, static_cast<uint32_t>(paraOffset));
        put32(screen, rec + 40, static_cast<uint32_t>(para.size()));
        put32(screen, rec + 44, static_cast<uint32_t>(xyOffset));
        put32(screen, rec + 48, sc.noXy ? 0 : static_cast<uint32_t>(block.size()));
    }
    put32(screen, 4, static_cast<uint32_t>(smart.size()));
    put32(screen, 12, static_cast<uint32_t>(xy.size()));

    std::string out(4 + 12 * sections, '\0');
    out[3] = static_cast<char>(sections);
    const std::string* parts[3] = {&screen, &xy, &smart};
    for (unsigned i = 0; i < sections; ++i) {
        out[4 + 12 * i] = static_cast<char>(10 + i);
        put32(out, 8 + 12 * i, static_cast<uint32_t>(parts[i]->size()));
        put32(out, 12 + 12 * i, static_cast<uint32_t>(out.size()));
        out += *parts[i];
    }
    return out;
}

// The bare smart-debugging file: 16-byte head, operate times, records,
// their data (record offsets count from byte 16).
inline std::string bare(const std::vector<Operate>& ops)
{
    std::string out(16, '\0');
    out += cardBlocks({&ops}, 0);
    return out;
}

// A file of one screen (configuration id 0x42) whose net on output port
// index 2 has three cards, card c with one RAM write of the byte 0x30 + c
// at 0x200 (timeticks 500).
inline std::string threeCardFile()
{
    Packed p;
    Screen s;
    s.configId = 0x42;
    Net n;
    n.ledx = 2;
    for (int c = 0; c < 3; ++c) {
        Card card;
        card.ops = {Operate{1, 1, 0x200, 500, {uint8_t(0x30 + c)}}};
        n.cards.push_back(card);
    }
    s.nets = {n};
    p.screens = {s};
    return packed(p);
}

} // namespace testfiles
