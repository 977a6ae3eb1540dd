// Text must be well-formed UTF-8 (RFC 3629). The decoder skips ASCII runs by
// whole words, so every sequence is also tried at offsets that put it across
// word boundaries and between ASCII runs.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "frame_builder.h"
#include "utf8_reference.h"
#include "protocol/protocol.h"

namespace {

using namespace frametest;

bool TextAccepted(const std::string& text) {
    const Decoded decoded = Decode(Frame({TextCmd(text)}));
    if (!decoded.ok) {
        EXPECT_EQ(decoded.error, "invalid Text UTF-8");
    }
    return decoded.ok;
}

// ASCII before the sequence and after it; the offsets cover 8-byte and
// 32-byte boundaries on both sides.
std::vector<std::string> Placements(const std::string& sequence) {
    std::vector<std::string> texts;
    for (const std::size_t before : {0, 1, 7, 8, 9, 31, 32, 40}) {
        for (const std::size_t after : {0, 1, 8, 33}) {
            texts.push_back(std::string(before, 'a') + sequence + std::string(after, 'z'));
        }
    }
    return texts;
}

TEST(DecodeScene, Utf8Rule) {
    struct Case {
        const char* why;
        std::string bytes;
        bool valid;
    };
    const Case cases[] = {
        {"empty text", "", true},
        {"NUL is a character", std::string(1, '\0'), true},
        {"smallest 2-byte form", "\xC2\x80", true},
        {"euro sign, 3 bytes", "\xE2\x82\xAC", true},
        {"last code point of the BMP", "\xEF\xBF\xBF", true},
        {"just below the surrogates", "\xED\x9F\xBF", true},
        {"just above the surrogates", "\xEE\x80\x80", true},
        {"emoji, 4 bytes", "\xF0\x9F\x98\x80", true},
        {"smallest 4-byte form", "\xF0\x90\x80\x80", true},
        {"largest code point U+10FFFF", "\xF4\x8F\xBF\xBF", true},
        {"overlong NUL", "\xC0\x80", false},
        {"overlong 2-byte lead C1", "\xC1\xBF", false},
        {"overlong 3-byte form", "\xE0\x80\x80", false},
        {"overlong 3-byte, largest", "\xE0\x9F\xBF", false},
        {"first surrogate", "\xED\xA0\x80", false},
        {"last surrogate", "\xED\xBF\xBF", false},
        {"overlong 4-byte form", "\xF0\x8F\xBF\xBF", false},
        {"above U+10FFFF", "\xF4\x90\x80\x80", false},
        {"lead F5", "\xF5\x80\x80\x80", false},
        {"lead FF", "\xFF", false},
        {"lone continuation byte", "\x80", false},
        {"lone BF", "\xBF", false},
        {"3-byte sequence cut at the end", "\xE2\x82", false},
        {"4-byte sequence cut at the end", "\xF0\x9F\x98", false},
        {"2-byte lead alone at the end", "\xC3", false},
        {"continuation replaced by ASCII", "\xE2\x41\xAC", false},
        {"continuation replaced by a lead", "\xC3\xC3", false},
        {"one continuation too many", "\xC3\xA9\x80", false},
        {"ASCII run between a lead and its continuations", "\xE2" + std::string(16, 'a') + "\x82\xAC", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        for (const std::string& text : Placements(c.bytes)) {
            SCOPED_TRACE(text.size());
            EXPECT_EQ(TextAccepted(text), c.valid);
        }
    }
}

TEST(DecodeScene, Utf8AgreesWithReferenceOnEveryBytePair) {
    // Every pair of bytes, then every lead with boundary continuations, each
    // placed across the first 8-byte word boundary.
    std::vector<std::string> sequences;
    for (int first = 0; first < 256; ++first) {
        for (int second = 0; second < 256; ++second) {
            sequences.push_back({static_cast<char>(first), static_cast<char>(second)});
        }
    }
    const unsigned char edges[] = {0x00, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xC2, 0xF4, 0xFF};
    for (int lead = 0xC0; lead < 256; ++lead) {
        for (const unsigned char b1 : edges) {
            for (const unsigned char b2 : edges) {
                sequences.push_back({static_cast<char>(lead), static_cast<char>(b1), static_cast<char>(b2)});
                if (lead < 0xF0 || lead > 0xF5) {
                    continue;  // only these leads reach a fourth byte
                }
                for (const unsigned char b3 : edges) {
                    sequences.push_back({static_cast<char>(lead), static_cast<char>(b1), static_cast<char>(b2),
                                         static_cast<char>(b3)});
                }
            }
        }
    }
    int mismatches = 0;
    for (const std::string& sequence : sequences) {
        const std::string text = std::string(7, 'a') + sequence + std::string(12, 'z');
        if (TextAccepted(text) != ReferenceWellFormedUtf8(text) && ++mismatches <= 10) {
            ADD_FAILURE() << "disagrees on " << testing::PrintToString(sequence);
        }
    }
    EXPECT_EQ(mismatches, 0);
}

// A long text of mixed sequences, with ASCII stretches so that both the
// word-at-a-time path and the byte automaton meet every kind of neighbour.
std::string LongMixedText() {
    const char* pieces[] = {"\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "abc", "\xED\x9F\xBF",
                            "\xF4\x8F\xBF\xBF", "\xC2\x80", "0123456789abcdefghij"};
    std::string text;
    for (unsigned i = 0; text.size() < 700; ++i) {
        text += pieces[(i * 5 + i / 3) % 8];
    }
    return text;
}

TEST(DecodeScene, Utf8AgreesWithReferenceOnLongTexts) {
    // Long texts are checked in halves side by side; each corruption at each
    // position must be found wherever the halves meet.
    const std::string base = LongMixedText();
    ASSERT_TRUE(TextAccepted(base));
    const unsigned char replacements[] = {0x41, 0x80, 0xBF, 0xC0, 0xC3, 0xE0, 0xED, 0xF0, 0xF4, 0xFF};
    int mismatches = 0;
    for (const std::size_t skip : {0, 5, 64}) {
        const std::string text = std::string(skip, ' ') + base;
        for (std::size_t at = skip; at < text.size(); ++at) {
            for (const unsigned char replacement : replacements) {
                std::string changed = text;
                changed[at] = static_cast<char>(replacement);
                if (TextAccepted(changed) != ReferenceWellFormedUtf8(changed) && ++mismatches <= 10) {
                    ADD_FAILURE() << "disagrees with byte " << at << " set to " << int{replacement};
                }
            }
            // Cut after each byte too: the walk must end between sequences.
            const std::string cut = text.substr(0, at + 1);
            if (TextAccepted(cut) != ReferenceWellFormedUtf8(cut) && ++mismatches <= 10) {
                ADD_FAILURE() << "disagrees on the first " << at + 1 << " bytes";
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
}

}  // namespace
